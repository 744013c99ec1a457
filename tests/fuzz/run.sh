#!/usr/bin/env bash
# Builds the saved-state fuzz target (clang, libFuzzer, ASan, UBSan), replays the seed and
# regression blocks once, then fuzzes for a bounded time. Exits non-zero on any crash,
# sanitizer report, broken invariant, timeout or memory blow-up.
# Usage: tests/fuzz/run.sh [seconds]        (default 60)
# Environment: QUILLON_FUZZ_BUILD_DIR (default build-fuzz in the repository root).
set -euo pipefail

if [[ "${1:-}" == "-h" || "${1:-}" == "--help" ]]; then
    awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"
    exit 0
fi
seconds=${1:-60}
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "run.sh: seconds must be a whole number, not '$seconds'" >&2; exit 2; }

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${QUILLON_FUZZ_BUILD_DIR:-$root/build-fuzz}

export CCACHE_BASEDIR="$root" CCACHE_SLOPPINESS=time_macros,include_file_mtime,include_file_ctime
CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja \
    -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache > /dev/null
cmake --build "$build" --target quillon_state_fuzzer -j"$(nproc)"

fuzzer="$build/quillon_state_fuzzer"
work="$build/run"
rm -rf "$work"
mkdir -p "$work/seeds" "$work/regressions" "$work/corpus" "$work/artifacts"
python3 "$here/seeds.py" "$work/seeds" "$work/regressions"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
limits=(-rss_limit_mb=2048 -malloc_limit_mb=1024 -timeout=30)

echo "== replaying $(find "$work/seeds" "$work/regressions" -type f | wc -l) blocks"
"$fuzzer" "${limits[@]}" -artifact_prefix="$work/artifacts/" "$work"/regressions/* "$work"/seeds/*

echo "== fuzzing for ${seconds} s"
"$fuzzer" "${limits[@]}" -artifact_prefix="$work/artifacts/" -max_total_time="$seconds" -max_len=4096 \
    -dict="$here/state.dict" -print_final_stats=1 "$work/corpus" "$work/seeds"
