#!/usr/bin/env bash
# One command that installs what is needed, builds everything and runs every test:
# the Release build's unit and host-level tests, the same suites under AddressSanitizer with
# UndefinedBehaviorSanitizer, the plug-in's tests under ThreadSanitizer, and a bounded run of
# the saved-state fuzzer. Set QUILLON_QUICK=1 to run only the Release tests.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"

echo "== Release: unit and host-level tests"
(cd "$root/build" && ctest --output-on-failure -j"$(nproc)")

if [ "${QUILLON_QUICK:-0}" = 1 ]; then
    exit 0
fi

echo "== Saved-state fuzzer, 60 s"
"$root/tests/fuzz/run.sh" 60

echo "== AddressSanitizer and UndefinedBehaviorSanitizer: unit and host-level tests"
"$root/scripts/sanitize.sh" address

echo "== ThreadSanitizer: the plug-in's tests"
"$root/scripts/sanitize.sh" thread
