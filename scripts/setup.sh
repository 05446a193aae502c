#!/usr/bin/env bash
# Installs what tessaro needs to build and test on Debian 12, then configures and builds it.
#   scripts/setup.sh [BUILD_DIR]     (default: build)
# Packages are installed only when missing (as root, or through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}

packages=(cmake g++ make pkg-config libtiff-dev libseccomp-dev libgtest-dev locales libc-l10n groff-base bindfs parallel ${TESSARO_EXTRA_PACKAGES:-})
scripts/install-packages.sh "${packages[@]}"

# A GBK locale lets the tests check the console conversion for real, a UTF-8 one the system's
# translated error reasons; without them those checks are skipped.
for charset in GBK UTF-8; do
    if ! locale -a 2>/dev/null | grep -qix "zh_CN\.${charset//-/}" && [ "$(id -u)" -eq 0 ]; then
        localedef -i zh_CN -f "$charset" "zh_CN.$charset" >/dev/null 2>&1 || echo "setup: no zh_CN.$charset locale"
    fi
done

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${TESSARO_CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
