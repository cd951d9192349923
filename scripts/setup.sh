#!/usr/bin/env bash
# Installs what zorflash needs on Debian 12. Run as root.
#
#   scripts/setup.sh --sim   building and running zorflash-sim only: a compiler, CMake and
#                            the header-only JSON library of its --json
#   scripts/setup.sh         everything the tests need: libraries, umockdev, clang for the
#                            fuzzers, mingw-w64 (64-bit and 32-bit), Wine (with its 32-bit
#                            half), osslsigncode and a display for the Windows edition,
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
        g++-mingw-w64-i686-posix osslsigncode openssl
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

# wine32 (an i386 package) lets Wine run the 32-bit zorflash.exe. Without it the rest still
# works: the 32-bit program's Wine tests are then disabled (tests/linux), and this says why.
# The i386 architecture is taken back when nothing of it could be installed, so that a
# mirror without usable i386 indexes does not make every later `apt-get update` fail.
if [[ ${1:-} != --sim ]] &&
    ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    added_i386=no
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
        added_i386=yes
    fi
    if ! { apt-get update -q || true; apt-get install -y -q wine32:i386; }; then
        echo "setup.sh: wine32:i386 could not be installed; the 32-bit zorflash.exe will not run under Wine" >&2
        if [[ $added_i386 == yes ]] && ! dpkg-query -W -f='${Package}:${Architecture}\n' | grep -q ':i386$'; then
            dpkg --remove-architecture i386
            apt-get update -q >/dev/null || true
        fi
    fi
fi
