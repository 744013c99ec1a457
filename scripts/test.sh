#!/usr/bin/env bash
# One command that installs what is needed, builds everything and runs every test.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"

cd "$root/build"
ctest --output-on-failure -j"$(nproc)"
