#!/usr/bin/env bash
# Runs the end-to-end tests (tests/e2e) with the tessaro binary under valgrind's memcheck: any
# invalid read or write, use of uninitialised memory, bad free or definite/indirect leak in the
# binary fails the run. Builds a normal (RelWithDebInfo) tree in build-valgrind; the test binary
# itself runs natively and starts tessaro through TESSARO_RUN_WRAPPER (tests/support/run_binary.h:
# under a wrapper the tests' RLIMIT_AS caps are dropped and their timeouts are 20 times longer).
#   scripts/valgrind.sh [GTEST_FILTER]     (default: every suite in tests/e2e)
# About 2 minutes on 2 cores, build included (the end-to-end tests shrink their heaviest
# workloads when RunsSlowed()); two tests run at a time.
# Each tessaro run writes its own report to a directory under /tmp, named in
# build-valgrind/valgrind-logs (empty when clean); the
# non-empty ones are printed at the end, with the output of any test that failed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-valgrind
# Valgrind cannot run the decoding child under its system-call filter: this build leaves it out.
TESSARO_CMAKE_ARGS="-DTESSARO_VALGRIND=ON ${TESSARO_CMAKE_ARGS:-}" \
    TESSARO_EXTRA_PACKAGES="valgrind ${TESSARO_EXTRA_PACKAGES:-}" scripts/setup.sh "$build"

if [ $# -ge 1 ]; then
    filter=$1
else
    # The suites defined in tests/e2e, e.g. "Cli.*:Mosaic.*".
    filter=$(grep -ohE '^TEST(_F|_P)?\(\s*[A-Za-z0-9_]+' tests/e2e/*.cpp |
                 sed -E 's/^TEST(_F|_P)?\(\s*//' | sort -u | sed 's/$/.*/' | paste -sd: -)
fi
# Some tests run tessaro as another user, who must reach the logs: they go to a directory under
# /tmp that anyone may write (the clone itself may sit where only its owner may enter), named in
# $build/valgrind-logs.
logs=$(mktemp -d /tmp/tessaro-valgrind-XXXXXX)
chmod 1777 "$logs"
echo "$logs" >"$build/valgrind-logs"

# The decoding children are forks that end without cleaning up (by design), so memcheck is told
# not to report on them; the sanitizer run checks the decoding inside them.
export TESSARO_RUN_WRAPPER="valgrind -q --tool=memcheck --child-silent-after-fork=yes --leak-check=full --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect --track-fds=no --error-exitcode=99 --log-file=$logs/%p.log"
echo "valgrind: $filter"
start=$(date +%s)
# One process a test, two at a time (one a core), so a slow test does not hold up a whole shard.
"$build/tests/tessaro_tests" --gtest_filter="$filter" --gtest_list_tests |
    awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }' >"$logs/tests.txt"
mkdir -p "$logs/out"
status=0
xargs -P 2 -I{} sh -c 'out="$3/out/$(echo "$2" | tr / _).txt"
                      "$1" --gtest_filter="$2" >"$out" 2>&1 || echo "$2" >>"$3/failed.txt"' \
    _ "$build/tests/tessaro_tests" {} "$logs" <"$logs/tests.txt" || status=1
grep -h -E '^\[ observed \]|Skipped$|^bug:' "$logs"/out/*.txt || true
if [ -s "$logs/failed.txt" ]; then
    status=1
    while read -r t; do
        echo "---- failed under valgrind: $t"
        tail -n 40 "$logs/out/$(echo "$t" | tr / _).txt"
    done <"$logs/failed.txt"
fi
echo "valgrind: $(wc -l <"$logs/tests.txt") tests"
runs=$(ls "$logs" | grep -c '\.log$' || true)
reports=$(find "$logs" -name '*.log' -size +0 | sort)
echo "valgrind: $runs tessaro runs in $(($(date +%s) - start)) s"
if [ "$runs" -eq 0 ]; then
    echo "valgrind: FAILED: no tessaro run went through valgrind"
    exit 1
fi
if [ -n "$reports" ]; then
    for r in $reports; do
        echo "---- $r"
        head -n 80 "$r"
    done
    echo "valgrind: FAILED: memcheck reported on $(echo "$reports" | wc -l) run(s)"
    exit 1
fi
if [ "$status" -ne 0 ]; then
    echo "valgrind: FAILED: tests failed under valgrind (see above)"
    exit 1
fi
echo "valgrind: no leak, no invalid access"
