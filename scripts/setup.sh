#!/usr/bin/env bash
# Installs what tessaro needs to build and test on Debian 12, then configures and builds it.
#   scripts/setup.sh [BUILD_DIR]     (default: build)
# Packages are installed only when missing (as root, or through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}

packages=(cmake g++ make pkg-config libtiff-dev libgtest-dev locales groff-base ${TESSARO_EXTRA_PACKAGES:-})
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# A GBK locale lets the tests check the console conversion for real; without one they skip it.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.gbk$' && [ "$(id -u)" -eq 0 ]; then
    localedef -i zh_CN -f GBK zh_CN.GBK >/dev/null 2>&1 || echo "setup: no zh_CN.GBK locale"
fi

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${TESSARO_CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
