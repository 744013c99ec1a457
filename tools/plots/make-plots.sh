#!/usr/bin/env bash
# Measures Quillon's curves through the built bundle and redraws the README's plots in docs/.
# Usage: tools/plots/make-plots.sh [BUILD_FOLDER]   (default: build/, as scripts/build.sh makes it)
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build="${1:-$root/build}"
cmake --build "$build" --target quillon-curves
"$build/tools/plots/quillon-curves" --out "$build/plots"
/usr/bin/python3 "$root/tools/plots/plot_curves.py" "$build/plots" "$root/docs"
