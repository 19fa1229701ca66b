#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds Zuzire with AddressSanitizer and UndefinedBehaviorSanitizer,
# warnings as errors, and runs every test (the desktop session tests on a virtual X display).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

build=${ZUZIRE_TEST_BUILD_DIR:-build-tests}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZUZIRE_SANITIZE=ON -DZUZIRE_BENCHMARKS=OFF \
    -DZUZIRE_WERROR=ON
cmake --build "$build"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$build"
ctest --output-on-failure -j2
