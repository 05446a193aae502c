#!/usr/bin/env bash
# Cross-builds the libraries the Windows build links, from Debian's own source packages, with
# Debian's patches applied: libtiff (the version of the libtiff-dev the Linux build uses) with
# every codec library that Linux libtiff decodes with, each at the version of its Linux -dev
# package, plus GoogleTest/GoogleMock (from /usr/src/googletest) for the tests. Static libraries only, for x86_64-w64-mingw32 (posix threads), installed into
#   BUILD_DIR/deps/prefix            include/, lib/, lib/cmake/GTest/
#   BUILD_DIR/deps/prefix/share/licenses/PACKAGE/copyright    each source package's notices
#
#   scripts/windows-deps.sh [BUILD_DIR]      (default: build-windows)
#
# Each library has a stamp in BUILD_DIR/deps/stamps holding what it was built from (package,
# version, toolchain, build recipe, and the stamps of what it links); a rerun rebuilds only the
# libraries whose stamp no longer matches, so with everything built it only checks and prints the
# summary. Installs what it needs through scripts/install-packages.sh (as root, or through sudo)
# and, when `apt-get source` cannot find a version, a deb-src entry for the suites that lack one.
# A version the archive lists but no longer serves (a superseded security update) is replaced
# by the newest older one it serves, with a warning; delete BUILD_DIR/deps/stamps/NAME to try
# the wanted one again.
#
# Debian's libtiff (4.5) decodes None, LZW, PackBits, CCITT (RLE, G3, G4), ThunderScan, NeXT,
# old and new JPEG, Deflate, PixarLog, SGILog, JBIG, LERC, LZMA, ZSTD and WebP; so does this one.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build_dir=${1:-build-windows}
mkdir -p "$build_dir"
build_dir=$(cd "$build_dir" && pwd)
deps=$build_dir/deps
prefix=$deps/prefix
stamps=$deps/stamps
work=$deps/src           # downloaded source packages, kept; the trees unpacked from them are not
jobs=$(nproc)

say() { printf 'windows-deps: %s\n' "$*"; }
die() { say "error: $*" >&2; exit 1; }

triplet=x86_64-w64-mingw32
cross_cc=$triplet-gcc-posix
cross_cxx=$triplet-g++-posix

# The Linux -dev packages name the versions to build (libtiff-dev pulls in the codec ones).
linux_dev=(libtiff-dev zlib1g-dev libjpeg62-turbo-dev liblzma-dev libzstd-dev libwebp-dev
           libdeflate-dev libjbig-dev liblerc-dev)
packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          mingw-w64-x86-64-dev dpkg-dev cmake make ninja-build nasm gcc pkg-config googletest locales
          wine wine64 "${linux_dev[@]}")
scripts/install-packages.sh "${packages[@]}"

# ---- deb-src entries ---------------------------------------------------------------------------
# Prints the Signed-By value (continuation lines included) of stanza N of a deb822 .sources file,
# or the signed-by option of line N of a one-line-style .list file; nothing when there is none.
signed_by_of() {
    local file=$1 n=$2
    case $file in
    *.sources)
        awk -v want="$n" '
            /^[ \t]*$/ { if (fields) stanza++; fields = 0; grab = 0; next }
            /^#/ { next }
            { if (!fields) { fields = 1 } }
            stanza + 1 == want && /^Signed-By:/ { sub(/^Signed-By:[ \t]*/, ""); print; grab = 1; next }
            stanza + 1 == want && grab && /^[ \t]/ { print; next }
            { grab = 0 }' "$file"
        ;;
    *)
        sed -n "${n}p" "$file" | sed -n 's/.*\[[^]]*signed-by=\([^] ]*\).*/\1/p'
        ;;
    esac
}

# Adds a deb-src entry for every Debian suite and component that has a deb entry but no deb-src
# one, with the deb entry's Signed-By (apt refuses two different keys for one suite).
add_deb_src() {
    local list=/etc/apt/sources.list.d/tessaro-deb-src.sources
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    local have want line uri suite comp entry file n key
    have=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Created-By: Sources' | sort -u)
    want=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT) $(SOURCESENTRY)' \
           'Created-By: Packages' 'Origin: Debian' | sort -u)
    local text=""
    while read -r uri suite comp entry; do
        [ -n "$uri" ] || continue
        grep -qxF "$uri $suite $comp" <<<"$have" && continue
        file=${entry%:*}
        n=${entry##*:}
        key=$(signed_by_of "$file" "$n")
        text+="Types: deb-src"$'\n'"URIs: $uri"$'\n'"Suites: $suite"$'\n'"Components: $comp"$'\n'
        [ -z "$key" ] || text+="Signed-By: $key"$'\n'
        text+=$'\n'
        have+=$'\n'"$uri $suite $comp"
    done <<<"$want"
    [ -n "$text" ] || return 1
    say "adding deb-src entries in $list"
    printf '%s' "$text" | $sudo tee -a "$list" >/dev/null
    $sudo apt-get update -qq
}

# ---- versions ---------------------------------------------------------------------------------
# Each library is built from the version of the source package that the installed Linux -dev
# package came from, or, when Debian no longer has that one (the machine was not upgraded), from
# the newest version the configured archives have.
source_versions() { apt-cache showsrc --only-source "$1" 2>/dev/null | sed -n 's/^Version: //p'; }
newest() {
    local best="" v
    for v in "$@"; do
        if [ -z "$best" ] || dpkg --compare-versions "$v" gt "$best"; then best=$v; fi
    done
    echo "$best"
}
declare -A installed version
while read -r src ver; do
    installed[$src]=$ver
done < <(dpkg-query -W -f='${source:Package} ${source:Version}\n' "${linux_dev[@]}")
resolve_versions() {  # fills version[]; fails when an installed version has no source here
    local src all ok=0
    for src in "${!installed[@]}"; do
        all=$(source_versions "$src")
        if grep -qxF "${installed[$src]}" <<<"$all"; then
            version[$src]=${installed[$src]}
        else
            ok=1
            # shellcheck disable=SC2086
            version[$src]=$(newest $all)
        fi
    done
    return $ok
}
# The answer only changes with the installed packages and apt's lists: it is kept in the stamps.
mkdir -p "$stamps"
lists_key="$(for src in "${!installed[@]}"; do echo "$src ${installed[$src]}"; done | sort)
$(stat -c %Y /var/lib/apt/lists /etc/apt/sources.list.d 2>/dev/null)"
if [ "$(sed -n '/^--$/q;p' "$stamps/versions" 2>/dev/null)" = "$lists_key" ]; then
    while read -r src ver; do version[$src]=$ver; done < <(sed '1,/^--$/d' "$stamps/versions")
else
    if ! resolve_versions; then
        add_deb_src && resolve_versions || true
    fi
    for src in "${!installed[@]}"; do
        [ -n "${version[$src]}" ] || die "no source package $src in the configured archives"
    done
    { echo "$lists_key"; echo "--"; for src in "${!installed[@]}"; do echo "$src ${version[$src]}"; done; } \
        >"$stamps/versions"
fi
version[googletest]=$(dpkg-query -W -f='${Version}' googletest)
toolchain="$($cross_cxx -dumpversion) $(dpkg-query -W -f='${Version}' mingw-w64-x86-64-dev)"

# Downloads and unpacks (applying Debian's patches) the wanted version of each source package
# into the current directory, all in one go. A version the archive lists but no longer serves (a
# security update superseded on the mirror, say) falls back to the next older version it does
# serve, with a warning: fetched[PACKAGE] tells which version was unpacked.
declare -A fetched
apt_source=(apt-get source -qq --only-source)
# apt cannot hand the download to its unprivileged user in a directory only root can write.
[ "$(id -u)" -ne 0 ] || apt_source+=(-o APT::Sandbox::User=root)
fetch_sources() {
    local src v older rest
    local wanted=()
    for src in "$@"; do wanted+=("$src=${version[$src]}"); done
    say "fetching ${wanted[*]}"
    if "${apt_source[@]}" "${wanted[@]}" >fetch.log 2>&1; then
        for src in "$@"; do fetched[$src]=${version[$src]}; done
        return 0
    fi
    # One by one, older versions after the wanted one (files already fetched are kept).
    for src in "$@"; do
        v=${version[$src]}
        older=()
        for rest in $(source_versions "$src"); do
            dpkg --compare-versions "$rest" lt "$v" && older+=("$rest")
        done
        while :; do
            if "${apt_source[@]}" "$src=$v" >fetch.log 2>&1; then
                fetched[$src]=$v
                break
            fi
            [ "$v" = "${version[$src]}" ] && grep '^E:' fetch.log >&2
            [ ${#older[@]} -gt 0 ] || die "no version of $src could be fetched"
            # shellcheck disable=SC2086
            v=$(newest "${older[@]}")
            older=($(printf '%s\n' "${older[@]}" | grep -vxF "$v" || true))
        done
        if [ "$v" != "${version[$src]}" ]; then
            say "WARNING: $src ${version[$src]} cannot be fetched from the archive; building $v," \
                "which lacks the changes listed in that version's changelog entries"
        fi
    done
}

# The directory dpkg-source unpacks PACKAGE VERSION into.
source_dir() {
    local v=${2#*:}
    echo "$1-${v%-*}"
}

# ---- the libraries ---------------------------------------------------------------------------
# Each build_NAME runs in the unpacked source tree and installs into $prefix.
export CC=$cross_cc CXX=$cross_cxx AR=$triplet-ar RANLIB=$triplet-ranlib
opt_flags="-O2"
# Ninja: its configure checks cost about a third less than with makefiles.
cmake_common=(-G Ninja
              -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
              -DCMAKE_BUILD_TYPE=Release
              -DCMAKE_C_FLAGS_RELEASE="$opt_flags -DNDEBUG"
              -DCMAKE_CXX_FLAGS_RELEASE="$opt_flags -DNDEBUG"
              -DCMAKE_INSTALL_PREFIX="$prefix"
              -DCMAKE_INSTALL_LIBDIR=lib
              -DCMAKE_PREFIX_PATH="$prefix"
              -DCMAKE_FIND_ROOT_PATH="$prefix"
              -DBUILD_SHARED_LIBS=OFF
              -DCMAKE_CROSSCOMPILING_EMULATOR=""
              -Wno-dev)
cmake_configure() {  # cmake_configure SOURCE_DIR [CMAKE ARGS...]
    local src=$1
    shift
    cmake -S "$src" -B _build "${cmake_common[@]}" "$@" >cmake.log 2>&1 || { cat cmake.log; return 1; }
}
cmake_make() {  # cmake_make [TARGET...]: builds the targets, or everything
    local targets=()
    [ $# -eq 0 ] || targets=(--target "$@")
    cmake --build _build -j"$jobs" "${targets[@]}" >build.log 2>&1 || { tail -50 build.log; return 1; }
}
cmake_install() {  # cmake_install [COMPONENT]
    local component=()
    [ $# -eq 0 ] || component=(--component "$1")
    cmake --install _build "${component[@]}" >install.log 2>&1 || { cat install.log; return 1; }
}

build_zlib() {
    # The library's sources alone (Debian's tree has no win32/ makefile, and zlib's own CMake
    # build names the static library libzlibstatic.a on Windows).
    local c=(adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate
             inftrees trees uncompr zutil)
    (for f in "${c[@]}"; do $CC $opt_flags -c "$f.c" || exit 1; done &&
        $AR rcs libz.a "${c[@]/%/.o}") >build.log 2>&1 || { cat build.log; return 1; }
    install -D -m 644 libz.a "$prefix/lib/libz.a"
    install -D -m 644 -t "$prefix/include" zlib.h zconf.h
}

build_libjpeg_turbo() {
    # The libjpeg 6.2 interface, as Debian's libjpeg62-turbo, SIMD code assembled with nasm; the
    # static library alone (not the programs or the TurboJPEG interface).
    cmake_configure . -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
        -DWITH_SIMD=ON -DREQUIRE_SIMD=ON -DWITH_JPEG8=OFF
    cmake_make jpeg-static
    install -D -m 644 _build/libjpeg.a "$prefix/lib/libjpeg.a"
    install -D -m 644 -t "$prefix/include" _build/jconfig.h jerror.h jmorecfg.h jpeglib.h
}

build_xz_utils() {
    # liblzma alone, with threads, as Debian's liblzma5.
    cmake_configure . -DBUILD_TESTING=OFF
    cmake_make liblzma
    cmake_install liblzma_Development
}

build_libzstd() {
    cmake_configure build/cmake -DZSTD_BUILD_STATIC=ON -DZSTD_BUILD_SHARED=OFF \
        -DZSTD_BUILD_PROGRAMS=OFF -DZSTD_BUILD_TESTS=OFF -DZSTD_BUILD_CONTRIB=OFF \
        -DZSTD_MULTITHREAD_SUPPORT=ON -DZSTD_LEGACY_SUPPORT=OFF
    cmake_make
    cmake_install
}

build_libwebp() {
    # libwebp alone (libtiff needs neither the demuxer nor the mux library).
    cmake_configure . -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF -DWEBP_BUILD_DWEBP=OFF \
        -DWEBP_BUILD_GIF2WEBP=OFF -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF \
        -DWEBP_BUILD_WEBPINFO=OFF -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF
    cmake_make webp
    install -D -m 644 _build/libwebp.a "$prefix/lib/libwebp.a"
    install -D -m 644 -t "$prefix/include/webp" src/webp/decode.h src/webp/encode.h src/webp/types.h
}

build_libdeflate() {
    # Its Makefile names the static library libdeflatestatic.lib when building for Windows.
    make -j"$jobs" CC="$CC" AR="$AR" CFLAGS="$opt_flags" libdeflatestatic.lib >build.log 2>&1 ||
        { cat build.log; return 1; }
    install -D -m 644 libdeflatestatic.lib "$prefix/lib/libdeflate.a"
    install -D -m 644 libdeflate.h "$prefix/include/libdeflate.h"
}

build_jbigkit() {
    # The library alone (libjbig/); its Makefile builds the tools and a shared library besides.
    (cd libjbig &&
        $CC $opt_flags -c jbig.c jbig_ar.c &&
        $AR rcs libjbig.a jbig.o jbig_ar.o) >build.log 2>&1 || { cat build.log; return 1; }
    install -D -m 644 libjbig/libjbig.a "$prefix/lib/libjbig.a"
    install -D -m 644 -t "$prefix/include" libjbig/jbig.h libjbig/jbig_ar.h
}

build_lerc() {
    cmake_configure .
    cmake_make
    cmake_install
}

build_tiff() {
    # Debian's configuration: every codec on, C++ stream interface left out (tessaro uses the C
    # one), no tools, tests or documentation. Static liblzma and LERC want their *_STATIC macros,
    # or their headers may declare the functions as imported from a DLL.
    cmake_configure . -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF \
        -Dcxx=OFF -Dzlib=ON -Dlibdeflate=ON -Dpixarlog=ON -Djpeg=ON -Dold-jpeg=ON -Djpeg12=OFF \
        -Djbig=ON -Dlerc=ON -Dlzma=ON -Dzstd=ON -Dwebp=ON -Dstrip-chopping=ON \
        -DCMAKE_C_FLAGS="-DLZMA_API_STATIC -DLERC_STATIC"
    cmake_make
    cmake_install
}

build_googletest() {
    cmake_configure . -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=ON
    cmake_make
    cmake_install
}

# ---- building what is missing ----------------------------------------------------------------
# name:source package. The codec libraries and GoogleTest are independent of each other and are
# built in two lanes side by side (one configures while the other compiles); libtiff comes last.
lane_a=(libjpeg_turbo:libjpeg-turbo libwebp:libwebp lerc:lerc jbigkit:jbigkit zlib:zlib)
lane_b=(xz_utils:xz-utils libzstd:libzstd googletest:googletest libdeflate:libdeflate)
libraries=("${lane_a[@]}" "${lane_b[@]}" tiff:tiff)

mkdir -p "$prefix" "$stamps"
# A library's key: its package and version, the toolchain, and the recipe that builds it.
recipe() { { declare -f cmake_configure cmake_make cmake_install "build_$1"; printf '%s\n' "${cmake_common[@]}" "$opt_flags"; } | md5sum | cut -c1-12; }
declare -A key
codec_keys=""
for entry in "${libraries[@]}"; do
    name=${entry%%:*}
    src=${entry#*:}
    key[$name]="$src ${version[$src]} | $toolchain | $(recipe "$name")"
    case $name in tiff | googletest) ;; *) codec_keys+="${key[$name]}"$'\n' ;; esac
done
# libtiff is built again whenever a codec library is.
key[tiff]+=$'\n'"${codec_keys%$'\n'}"
is_stale() { [ "$(cat "$stamps/${1%%:*}" 2>/dev/null)" != "${key[${1%%:*}]}" ]; }

# Builds and installs one library from its unpacked tree, then writes its stamp.
build_one() {
    local name=${1%%:*} src=${1#*:} start=$SECONDS tree license
    rm -f "$stamps/$name"
    if [ "$src" = googletest ]; then
        tree=$work/googletest
        rm -rf "$tree"
        cp -r /usr/src/googletest "$tree"
        license=/usr/share/doc/googletest/copyright
    else
        tree=$work/$(source_dir "$src" "${fetched[$src]}")
        [ -d "$tree" ] || die "no source tree $tree"
        license=$tree/debian/copyright
    fi
    say "building $src ${fetched[$src]}"
    building=$src
    (cd "$tree" && "build_$name")
    building=""
    install -D -m 644 "$license" "$prefix/share/licenses/$src/copyright"
    printf '%s\n' "${key[$name]}" >"$stamps/$name"
    printf '%s\n' "${fetched[$src]}" >"$stamps/$name.version"
    rm -rf "$tree"
    say "built $src in $((SECONDS - start)) s"
}
# Builds the stale libraries of a lane one after the other (in a subshell of its own).
lane() {
    building=""
    trap 'status=$?; [ $status -eq 0 ] || say "error: building ${building:-a library} failed" >&2' EXIT
    local entry
    for entry in "$@"; do
        if is_stale "$entry"; then build_one "$entry"; fi
    done
}

stale=()
for entry in "${libraries[@]}"; do
    if is_stale "$entry"; then stale+=("$entry"); fi
done
if [ ${#stale[@]} -gt 0 ]; then
    start=$SECONDS
    mkdir -p "$work"
    cd "$work"
    find . -mindepth 1 -maxdepth 1 -type d -exec rm -rf {} +
    wanted=()
    for entry in "${stale[@]}"; do
        src=${entry#*:}
        [ "$src" = googletest ] || wanted+=("$src")
    done
    fetched[googletest]=${version[googletest]}
    [ ${#wanted[@]} -eq 0 ] || fetch_sources "${wanted[@]}"
    # fetched[] is filled in now, before the lanes' subshells copy it.
    (lane "${lane_a[@]}") &
    pid_a=$!
    (lane "${lane_b[@]}") &
    pid_b=$!
    failed=0
    wait $pid_a || failed=1
    wait $pid_b || failed=1
    [ $failed -eq 0 ] || die "a library failed to build (its log is above)"
    (lane tiff:tiff) || die "libtiff failed to build (its log is above)"
    cd "$root"
    say "built ${#stale[@]} libraries in $((SECONDS - start)) s"
fi

# ---- licences of the MinGW-w64 runtime linked into every program -------------------------------
# libstdc++, libgcc (gcc-mingw-w64) and winpthreads with the C runtime's startup code (mingw-w64):
# their packages' copyright files, installed by dpkg from the source packages' debian/copyright.
for entry in gcc-mingw-w64:gcc-mingw-w64-base mingw-w64:mingw-w64-x86-64-dev; do
    src=${entry%%:*}
    file=/usr/share/doc/${entry#*:}/copyright
    [ -f "$file" ] || die "$file is missing (dpkg may be set up to leave out /usr/share/doc)"
    cmp -s "$file" "$prefix/share/licenses/$src/copyright" ||
        install -D -m 644 "$file" "$prefix/share/licenses/$src/copyright"
done

# ---- what the Windows libtiff decodes ---------------------------------------------------------
# The codecs each libtiff has configured, by TIFFIsCODECConfigured: the Linux one (libtiff-dev)
# natively, the Windows one under wine. Codecs that cannot be cross-built would be named in
# known_missing; there are none.
known_missing=()
check=$deps/codec-check
mkdir -p "$check"
cat >"$check/codecs.c" <<'CODECS'
#include <stdio.h>
#include <tiffio.h>
int main(void) {
    TIFFCodec *codecs = TIFFGetConfiguredCODECs();
    for (TIFFCodec *c = codecs; c != NULL && c->name != NULL; c++)
        if (TIFFIsCODECConfigured(c->scheme)) printf("%s\n", c->name);
    _TIFFfree(codecs);
    return 0;
}
CODECS
# shellcheck disable=SC2046
gcc -O1 -o "$check/codecs-linux" "$check/codecs.c" $(pkg-config --cflags --libs libtiff-4)
linux_codecs=$("$check/codecs-linux" | sort)
if [ ! -s "$stamps/tiff.codecs" ] || [ "$stamps/tiff" -nt "$stamps/tiff.codecs" ]; then
    $cross_cc -O1 -static -o "$check/codecs.exe" "$check/codecs.c" -I"$prefix/include" \
        -L"$prefix/lib" -ltiff -lwebp -lzstd -llzma -ljbig -ljpeg -ldeflate -lLerc -lz -lstdc++
    # shellcheck source=scripts/wine-env.sh
    . "$root/scripts/wine-env.sh"
    wine_env "$build_dir"
    wine "$check/codecs.exe" </dev/null | tr -d '\r' | sort >"$stamps/tiff.codecs.new"
    [ -s "$stamps/tiff.codecs.new" ] || die "the codec check printed nothing under wine"
    mv "$stamps/tiff.codecs.new" "$stamps/tiff.codecs"
fi
windows_codecs=$(cat "$stamps/tiff.codecs")
missing=$(comm -23 <(echo "$linux_codecs") <(echo "$windows_codecs"))
unexpected=$(comm -23 <(echo "$missing") <(printf '%s\n' "${known_missing[@]}" | sort))
count=$(wc -l <<<"$windows_codecs")
if [ -z "$missing" ]; then
    say "libtiff $(cat "$stamps/tiff.version") for Windows decodes all $count codecs of the Linux" \
        "libtiff: $(echo $windows_codecs)"
else
    say "libtiff $(cat "$stamps/tiff.version") for Windows decodes $count codecs: $(echo $windows_codecs);" \
        "not: $(echo $missing)"
fi
[ -z "$unexpected" ] || die "the Windows libtiff lacks codecs the Linux one has: $(echo $unexpected)"
for entry in "${libraries[@]}"; do
    name=${entry%%:*}
    src=${entry#*:}
    built=$(cat "$stamps/$name.version")
    [ "$src" = googletest ] || [ "$built" = "${installed[$src]}" ] ||
        say "WARNING: $src is $built for Windows, ${installed[$src]} on Linux (that source cannot be fetched)"
done
