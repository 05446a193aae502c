#!/usr/bin/env bash
# Installs what tessaro needs to build and test on Debian 12, then configures and builds it.
#   scripts/setup.sh [BUILD_DIR]     (default: build)
# Packages are installed only when missing (as root, or through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}

packages=(cmake g++ make pkg-config libtiff-dev libseccomp-dev libgtest-dev locales groff-base bindfs parallel ${TESSARO_EXTRA_PACKAGES:-})
scripts/install-packages.sh "${packages[@]}"

# A GBK locale lets the tests check the console conversion for real; without one they skip it.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.gbk$' && [ "$(id -u)" -eq 0 ]; then
    localedef -i zh_CN -f GBK zh_CN.GBK >/dev/null 2>&1 || echo "setup: no zh_CN.GBK locale"
fi

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${TESSARO_CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
