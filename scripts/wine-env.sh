# A private wine prefix for running the Windows programs built here: headless (no X display, no
# dialogs), quiet, and in the Chinese locale, so the programs run in ANSI code page 936 as on
# Chinese Windows. Sourced by scripts/windows-deps.sh and scripts/test-windows.sh:
#
#   . scripts/wine-env.sh
#   wine_env BUILD_DIR        exports WINEPREFIX=BUILD_DIR/wine, LANG=zh_CN.UTF-8 and friends,
#                             generates the zh_CN.UTF-8 locale and creates the prefix if missing,
#                             and checks that wine runs programs in code page 936
#
# To run one program by hand the same way:
#   WINEPREFIX=$PWD/build-windows/wine WINEDEBUG=-all LANG=zh_CN.UTF-8 wine PROGRAM.exe ARGS
# Needs the packages wine, wine64 and locales (and mingw-w64 for the code page check).

wine_env() {
    local build_dir=$1
    # Wine takes its code pages from the Unix locale: zh_CN gives ANSI 936 and OEM 936. Without
    # the locale generated, glibc falls back to C and wine to code page 1252.
    if ! locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'; then
        localedef -i zh_CN -f UTF-8 zh_CN.UTF-8 >/dev/null 2>&1 ||
            [ "$(id -u)" -eq 0 ] || sudo localedef -i zh_CN -f UTF-8 zh_CN.UTF-8 >/dev/null 2>&1 ||
            true
        locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8' || {
            echo "wine-env: cannot generate the zh_CN.UTF-8 locale (package locales)" >&2
            return 1
        }
    fi
    unset LC_ALL LC_CTYPE LC_MESSAGES LC_COLLATE LC_NUMERIC LC_TIME LC_MONETARY LANGUAGE
    export LANG=zh_CN.UTF-8
    export WINEPREFIX
    WINEPREFIX=$(cd "$build_dir" && pwd)/wine
    export WINEARCH=win64
    # No debug channels (wine's fixme and err lines would mix with the programs' output), and
    # no "wine32 is missing" hint from Debian's wine wrapper, which -all also silences.
    export WINEDEBUG=-all
    # No Mono or Gecko installer dialogs, no menu entries or file associations in $HOME.
    export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
    # No X display: wine's null display driver, never a window.
    unset DISPLAY WAYLAND_DISPLAY

    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        rm -rf "$WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        wineboot --init >/dev/null 2>&1 || { echo "wine-env: wineboot failed" >&2; return 1; }
        wineserver -w
    fi
}

# Prints wine's ANSI, OEM and console output code pages as seen by a Windows program, and fails
# unless the ANSI one is 936. Compiles a tiny program with MinGW-w64 into BUILD_DIR/wine-check.
wine_check_code_page() {
    local dir=$1/wine-check
    mkdir -p "$dir"
    if [ ! -f "$dir/codepage.exe" ]; then
        cat >"$dir/codepage.c" <<'EOF'
#include <stdio.h>
#include <windows.h>
int main(void) {
    printf("%u %u %u\n", GetACP(), GetOEMCP(), GetConsoleOutputCP());
    return 0;
}
EOF
        x86_64-w64-mingw32-gcc-posix -O2 -static -o "$dir/codepage.exe" "$dir/codepage.c" || return 1
    fi
    local acp oemcp outcp
    read -r acp oemcp outcp < <(wine "$dir/codepage.exe" </dev/null | tr -d '\r')
    echo "wine: ANSI code page ${acp:-?}, OEM code page ${oemcp:-?}, console output code page ${outcp:-?}"
    if [ "$acp" != 936 ]; then
        echo "wine-env: wine runs programs in ANSI code page ${acp:-?}, not 936 (LANG=$LANG)" >&2
        return 1
    fi
}
