#!/usr/bin/env bash
# Installs what building and testing zorflash needs on Debian 12. Run as root.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
packages=(
    cmake g++ make pkg-config git
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    libudev-dev libsystemd-dev
    umockdev libumockdev-dev
    clang libclang-rt-14-dev
    g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth x11-utils imagemagick
    tmux procps
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    apt-get update -q
    apt-get install -y -q "${missing[@]}"
fi
