#!/usr/bin/env bash
# Builds tessaro for 64-bit Windows (cross-compiled with MinGW-w64) and runs the whole test suite
# under wine, as on Chinese Windows: the Unix locale zh_CN.UTF-8 makes wine's ANSI code page 936.
# Then makes the ZIP and checks that tessaro.exe needs no DLL that Windows lacks.
#   scripts/test-windows.sh [BUILD_DIR]     (default: build-windows)
#
# Steps, each timed: packages (installed only when missing, as root or through sudo), the static
# dependencies (scripts/windows-deps.sh, cached in BUILD_DIR/deps), configure, build, the wine
# prefix (BUILD_DIR/wine, created once, headless; its code page checked), tests (the test program under
# wine), package. Runs without an X
# display. TESSARO_CMAKE_ARGS adds configure arguments. Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-windows}

say() { printf 'test-windows: %s\n' "$*"; }
started=$SECONDS
step_started=$SECONDS
timings=()
step_done() {
    timings+=("$1 $((SECONDS - step_started)) s")
    say "$1 took $((SECONDS - step_started)) s"
    step_started=$SECONDS
}

packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          mingw-w64-x86-64-dev wine wine64 dpkg-dev cmake make ninja-build locales)
scripts/install-packages.sh "${packages[@]}"
step_done packages

scripts/windows-deps.sh "$build_dir"
step_done dependencies

# shellcheck disable=SC2086
cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo ${TESSARO_CMAKE_ARGS:-} >/dev/null
step_done configure
cmake --build "$build_dir" -j"$(nproc)"
step_done build

# From here on the environment is wine's: the private prefix, LANG=zh_CN.UTF-8 (the build above
# keeps the caller's locale, and its messages).
# shellcheck source=scripts/wine-env.sh
. scripts/wine-env.sh
wine_env "$build_dir"
wine_check_code_page "$build_dir"
step_done "wine prefix"

# One wine server for the whole run rather than one started per test program; ended on exit,
# with any program of this prefix still running.
wineserver -p 2>/dev/null || true
trap 'wineserver -k 2>/dev/null || true' EXIT
status=0
# The whole suite in one process: under wine, starting a process per test (as ctest does) costs
# far more than the tests themselves. ctest in the build directory still runs them one by one.
(cd "$build_dir/tests" && wine tessaro_tests.exe --gtest_brief=1) || status=$?
step_done tests

# The ZIP, and what tessaro.exe imports: system DLLs only, nothing to ship beside it.
if [ $status -eq 0 ]; then
    (cd "$build_dir" && cpack -G ZIP >cpack.log 2>&1) || { cat "$build_dir/cpack.log"; status=1; }
    zip=$build_dir/tessaro-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")-win64.zip
    [ -f "$zip" ] && say "made $zip" || { say "FAIL: no $zip"; status=1; }
    dlls=$(x86_64-w64-mingw32-objdump -p "$build_dir/tessaro.exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
    say "tessaro.exe imports $(echo $dlls)"
    # Like the Debian package's, the ZIP's program has none of the tests' switches.
    if grep -aq TESSARO_TEST "$build_dir/tessaro.exe"; then say "FAIL: tessaro.exe holds a test switch"; status=1; fi
    for dll in $dlls; do
        case ${dll,,} in
        kernel32.dll | msvcrt.dll | advapi32.dll | user32.dll | shell32.dll | ws2_32.dll | \
            bcrypt.dll | ole32.dll | shlwapi.dll | ntdll.dll | api-ms-win-*.dll) ;;
        *) say "FAIL: tessaro.exe needs $dll, which Windows does not have"; status=1 ;;
        esac
    done
    step_done package
fi

summary=$(printf '%s, ' "${timings[@]}")
say "total $((SECONDS - started)) s: ${summary%, }"
exit $status
