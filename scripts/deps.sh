#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages the build needs, only when some are missing; packages named on
# the command line are added for scripts that need more than the build. The windows preset's
# MinGW-w64, Wine and GoogleTest sources are about 160 MB to download, 1 GB installed (Wine).
set -euo pipefail
packages=(cmake ninja-build g++ clang pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libclang-rt-14-dev qt6-base-dev libgl-dev libftdi1-dev libusb-1.0-0-dev fonts-dejavu-core
          dpkg-dev g++-mingw-w64-x86-64-posix wine64 googletest libzip-dev libisal-dev sigrok-cli
          nsis xvfb xauth tshark "$@")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
