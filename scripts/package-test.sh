#!/usr/bin/env bash
# Builds the Debian package, installs it into this system with dpkg, checks the installed
# program and manual pages, and removes the package again, also when a check fails.
#   scripts/package-test.sh [BUILD_DIR]     (default: build)
# Needs root, or sudo, for apt-get and dpkg. Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

say() { printf 'package-test: %s\n' "$*"; }
die() { say "FAIL: $*"; exit 1; }

# What packaging and the checks need beyond the build itself: dpkg-shlibdeps (dpkg-dev) and
# file(1) for CPack's dependency scan, man and groff to find and format the pages.
packages=(dpkg-dev file man-db groff-base)
scripts/install-packages.sh "${packages[@]}"

# Never overwrite, and then remove, a tessaro that is not from a package.
if [ -e /usr/bin/tessaro ] && ! dpkg -S /usr/bin/tessaro >/dev/null 2>&1; then
    die "/usr/bin/tessaro exists and belongs to no package; move it away first"
fi
if dpkg-query -W -f='${Status}' tessaro 2>/dev/null | grep -q "ok installed"; then
    say "note: a tessaro package is installed already; it is replaced and removed at the end"
fi

scripts/setup.sh "$build_dir" >/dev/null
build_dir=$(cd "$build_dir" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/tessaro-package-XXXXXX")
installed=0
cleanup() {
    local status=$?
    if [ "$installed" -eq 1 ]; then
        say "removing the package"
        $sudo dpkg -r tessaro >/dev/null || status=1
    fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---- build and install ------------------------------------------------------------------------
say "building the package"
(cd "$build_dir" && cpack -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log"; die "cpack failed"; }
debs=("$work"/pkg/tessaro_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || die "expected one .deb in $work/pkg"
deb=${debs[0]}
say "built $(basename "$deb")"

say "installing it with dpkg"
installed=1
# The includes keep the pages and the copyright file even where dpkg is set up to leave out
# /usr/share/man and /usr/share/doc.
$sudo dpkg --path-include='/usr/share/man/*tessaro*' --path-include='/usr/share/doc/tessaro/*' \
    -i "$deb" >/dev/null

# ---- checks: each one is counted, and all of them run --------------------------------------------
passed=0
failed=0
check() {
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        say "ok   $what"
    else
        failed=$((failed + 1))
        say "FAIL $what"
    fi
}

is_bitmap() { [ "$(head -c 2 "$1" 2>/dev/null)" = BM ] && [ "$(stat -c %s "$1" 2>/dev/null)" = "$2" ]; }

version=$(dpkg-query -W -f='${Version}' tessaro)
status_of() { dpkg-query -W -f='${db:Status-Status}' tessaro 2>/dev/null; }
check "package is installed" [ "$(status_of)" = installed ]
check "Section is graphics" [ "$(dpkg-deb -f "$deb" Section)" = graphics ]
check "Depends lists libtiff (found by dpkg-shlibdeps)" \
    grep -q libtiff <<<"$(dpkg-deb -f "$deb" Depends)"
for f in /usr/bin/tessaro /usr/share/man/man1/tessaro.1.gz /usr/share/man/zh_CN/man1/tessaro.1.gz \
         /usr/share/doc/tessaro/copyright; do
    check "package holds $f" grep -qx "$f" <<<"$(dpkg -L tessaro)"
    check "$f is on disk" [ -f "$f" ]
done
check "the copyright file is in Debian's machine-readable format" \
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    /usr/share/doc/tessaro/copyright
check "the copyright file names the MIT (Expat) licence" grep -qx 'License: Expat' /usr/share/doc/tessaro/copyright
# The packaged program has none of the tests' switches: no environment variable changes it.
check "the program holds no test switch" bash -c '! grep -aq TESSARO_TEST /usr/bin/tessaro'

# Usage: two lines and exit status 0. The C.UTF-8 locale keeps the text in UTF-8.
usage_status=0
usage=$(LC_ALL=C.UTF-8 /usr/bin/tessaro) || usage_status=$?
expected_usage="tessaro.exe /?   获取帮助
 - version $version: joins TIFF tiles into 24-bit BMP mosaics."
check "no arguments print the usage" [ "$usage" = "$expected_usage" ]
check "no arguments exit with 0" [ "$usage_status" -eq 0 ]

# The example tree: three directories that join, one of three tiles that cannot.
tree=$work/tree
"$build_dir/tessaro_example_tree" "$tree"
run_status=0
LC_ALL=C.UTF-8 /usr/bin/tessaro "$tree" >"$work/run.out" 2>&1 || run_status=$?
sed 's/^/    | /' "$work/run.out"
check "a tree with a bad directory exits with 1" [ "$run_status" -eq 1 ]
check "three groups report success" [ "$(grep -c '^拼接成功!$' "$work/run.out")" -eq 3 ]
check "the three-tile group reports its count" grep -qx '拼接失败! 拼接的Tif数为3!' "$work/run.out"
# The example picture is 241 x 181: rows of 724 bytes after padding, plus the 54-byte header.
bmp_size=$((54 + 724 * 181))
for n in 2 4 6; do
    bmp=$tree/landscape-$n/landscape-$n.bmp
    check "landscape-$n.bmp exists" [ -f "$bmp" ]
    check "landscape-$n.bmp is a $bmp_size-byte bitmap" is_bitmap "$bmp" "$bmp_size"
done
check "no mosaic for the three-tile group" [ ! -e "$tree/three-tiles/three-tiles.bmp" ]
check "tiles are kept without argument 1" [ -f "$tree/landscape-6/6.tif" ]

# With argument 1 the tiles of the joined groups go, those of the failed group stay.
tree1=$work/tree-delete
"$build_dir/tessaro_example_tree" "$tree1"
LC_ALL=C.UTF-8 /usr/bin/tessaro "$tree1" 1 >/dev/null 2>&1 || true
check "argument 1 saves the mosaics" [ "$(find "$tree1" -name '*.bmp' | wc -l)" -eq 3 ]
check "argument 1 deletes the joined tiles" [ -z "$(find "$tree1"/landscape-* -iname '*.tif')" ]
check "argument 1 keeps the tiles of a failed group" \
    [ "$(find "$tree1/three-tiles" -name '*.tif' | wc -l)" -eq 3 ]

# The manual pages: found by man, and formatted without warnings.
check "man -w tessaro finds the page" [ "$(LC_ALL=C.UTF-8 man -w tessaro 2>/dev/null)" = /usr/share/man/man1/tessaro.1.gz ]
check "man -L zh_CN -w tessaro finds the Chinese page" \
    [ "$(LC_ALL=C.UTF-8 man -L zh_CN -w tessaro 2>/dev/null)" = /usr/share/man/zh_CN/man1/tessaro.1.gz ]
page_warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -P cat tessaro 2>&1 >"$work/page.txt") || true
check "man tessaro formats without warnings" [ -z "$page_warnings" ]
check "man tessaro shows the NAME line" grep -q "tessaro - join TIFF tiles" "$work/page.txt"
check "man tessaro shows the version" grep -q "tessaro $version" "$work/page.txt"

# ---- remove -----------------------------------------------------------------------------------------
say "removing the package"
$sudo dpkg -r tessaro >/dev/null
installed=0
check "package is removed" [ "$(status_of)" != installed ]
check "/usr/bin/tessaro is gone" [ ! -e /usr/bin/tessaro ]
check "the manual pages are gone" [ ! -e /usr/share/man/man1/tessaro.1.gz ]

if [ "$failed" -ne 0 ]; then
    say "$failed of $((passed + failed)) checks failed"
    exit 1
fi
say "all $passed checks passed"
