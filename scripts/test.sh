#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test:
#   1. the normal build (-Wall -Wextra -Werror) with all tests,
#   2. an AddressSanitizer + UndefinedBehaviorSanitizer build with all tests,
#   3. a ThreadSanitizer build of the core's threaded tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
root=$(pwd)

echo "== normal build =="
scripts/build.sh release
ctest --test-dir build/release --output-on-failure -j "$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer =="
scripts/build.sh asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs"

echo "== ThreadSanitizer (threaded core tests) =="
scripts/build.sh tsan
if [[ -d build/tsan ]] && ctest --test-dir build/tsan -N | grep -q 'Total Tests: [1-9]'; then
  TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" \
    ctest --test-dir build/tsan --output-on-failure -j "$jobs"
fi
