#!/usr/bin/env bash
# Configures and builds the project into build/ (Release), after installing what it needs.
# Usage: scripts/build.sh [extra cmake --build arguments]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

# JUCE is unpacked fresh in every clone; its headers never change after that, so their
# recent timestamps need not stop the cache from matching them.
export CCACHE_BASEDIR="$root" CCACHE_SLOPPINESS=time_macros,include_file_mtime,include_file_ctime
build="${QUILLON_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache > /dev/null
cmake --build "$build" -j"$(nproc)" "$@"
