#!/usr/bin/env bash
# Fuzzes the TIFF reader: builds fuzz/reader_fuzzer.cpp with clang and libFuzzer (plus
# AddressSanitizer and UndefinedBehaviorSanitizer) in build-fuzz, writes the seed corpus of small
# valid TIFFs, and runs the fuzzer on the seeds, the regression cases and what it finds itself.
#   scripts/fuzz.sh [SECONDS]     (default 60)
# Any crash, sanitizer report, leak, timeout (10 s an input) or oversized allocation fails the
# run; the offending input is left in build-fuzz/findings/. Keep it as a regression case:
# copy it to tests/tiff/fuzz_cases/ (tests/tiff/fuzz_regression_test.cpp reads every file there).
# Reproduce one input with: build-fuzz/fuzz/tessaro_reader_fuzzer FILE
# The corpus the fuzzer grows stays in build-fuzz/corpus, so later runs start where this one
# stopped. Extra libFuzzer flags can be passed in TESSARO_FUZZ_FLAGS; TESSARO_FUZZ_STRICT=1 also
# fails a band read that succeeds where the whole-picture reference fails (fuzz/reader_fuzzer.cpp).
# About 70 s on 2 cores for the default minute, build included.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=build-fuzz

packages=(cmake make pkg-config libtiff-dev libgtest-dev clang-14 libclang-rt-14-dev)
scripts/install-packages.sh "${packages[@]}"

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTESSARO_FUZZ=ON -DTESSARO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target tessaro_reader_fuzzer tessaro_fuzz_seeds

rm -rf "$build/seeds"
if ! "$build/fuzz/tessaro_fuzz_seeds" "$build/seeds" --gtest_brief=1 >"$build/seeds.log" 2>&1; then
    cat "$build/seeds.log"
    echo "fuzz: FAILED: the seed writer failed"
    exit 1
fi
echo "fuzz: $(ls "$build/seeds" | wc -l) seed files"
mkdir -p "$build/corpus" "$build/findings"

# libtiff itself refuses single allocations above 1 GiB (src/tiff/tiff_file.cpp), so anything
# larger is the reader's own; the whole process stays under 2 GiB.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
"$build/fuzz/tessaro_reader_fuzzer" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1100 \
    -max_len=32768 -dict=fuzz/tiff.dict -print_final_stats=1 \
    -artifact_prefix="$build/findings/" ${TESSARO_FUZZ_FLAGS:-} \
    "$build/corpus" "$build/seeds" tests/tiff/fuzz_cases >"$build/fuzz.log" 2>&1 || status=$?
grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' \
    "$build/fuzz.log" || true
if [ "$status" -ne 0 ]; then
    tail -n 60 "$build/fuzz.log"
    echo "fuzz: FAILED (exit $status); the input is in $build/findings/, the log in $build/fuzz.log"
    exit 1
fi
echo "fuzz: no finding in ${seconds} s"
