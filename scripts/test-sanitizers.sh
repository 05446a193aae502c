#!/usr/bin/env bash
# Builds everything a second time with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# the whole test suite against it; any finding fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
TESSARO_CMAKE_ARGS="-DTESSARO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug" scripts/setup.sh build-sanitize
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd build-sanitize
ctest --output-on-failure -j2 --timeout 900
