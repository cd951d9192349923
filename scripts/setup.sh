#!/usr/bin/env bash
# Installs what zorflash needs on Debian 12. Run as root.
#
#   scripts/setup.sh --sim   building and running zorflash-sim only: a compiler, CMake and
#                            the header-only JSON library of its --json
#   scripts/setup.sh         everything the tests need: libraries, umockdev, clang for the
#                            fuzzers, mingw-w64, Wine and a display for the Windows edition,
#                            GTK 4 for zorflash-gtk and what tests it (the accessibility bus,
#                            pyatspi, the desktop entry and AppStream validators), and what
#                            compares two release builds (diffoscope)
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
packages=(cmake g++ make nlohmann-json3-dev)
if [[ ${1:-} != --sim ]]; then
    packages+=(
        pkg-config git
        libgtest-dev libgmock-dev googletest libbenchmark-dev
        libudev-dev libsystemd-dev
        umockdev libumockdev-dev
        clang libclang-rt-14-dev
        g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth x11-utils imagemagick
        tmux procps util-linux
        openssl diffoscope-minimal
        libgtk-4-dev desktop-file-utils appstream at-spi2-core python3-pyatspi dbus-daemon
    )
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    apt-get update -q
    apt-get install -y -q "${missing[@]}"
fi
