#!/usr/bin/env bash
# Builds the project with a sanitizer and runs its tests under it.
# Usage: scripts/sanitize.sh address|thread
#   address: AddressSanitizer and UndefinedBehaviorSanitizer over every unit and host test
#   thread:  ThreadSanitizer over the plug-in's tests (audio, automation, state and editor threads)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
flavour="${1:-}"
case "$flavour" in
    address)
        flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined"
        targets=()
        tests=".*" ;;
    thread)
        flags="-fsanitize=thread"
        targets=(--target quillon_plugin_tests)
        tests="^plugin\\." ;;
    *)
        echo "usage: $0 address|thread" >&2
        exit 2 ;;
esac

"$root/scripts/setup.sh"
export CCACHE_BASEDIR="$root" CCACHE_SLOPPINESS=time_macros,include_file_mtime,include_file_ctime
build="$root/build-$flavour"
common="-O1 -g -fno-omit-frame-pointer -DNDEBUG $flags"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_C_FLAGS_RELEASE="$common" -DCMAKE_CXX_FLAGS_RELEASE="$common" \
      -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" -DCMAKE_MODULE_LINKER_FLAGS="$flags" \
      -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache > /dev/null
cmake --build "$build" -j"$(nproc)" "${targets[@]}"

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:strict_string_checks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
cd "$build"
ctest --output-on-failure -R "$tests"
