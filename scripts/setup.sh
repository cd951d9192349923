#!/usr/bin/env bash
# Installs what zorflash needs on Debian 12. Run as root.
#
#   scripts/setup.sh --sim   building and running zorflash-sim only: a compiler, CMake and
#                            the header-only JSON library of its --json
#   scripts/setup.sh         everything the tests need: libraries, umockdev, clang for the
#                            fuzzers, mingw-w64 (64-bit and 32-bit), Wine (with its 32-bit
#                            half), osslsigncode and a display for the Windows edition,
#                            GTK 4 for zorflash-gtk and what tests it (the accessibility bus,
#                            pyatspi, the desktop entry and AppStream validators), lintian
#                            for the Debian packages, what compares two release builds
#                            (diffoscope), and Ansible for the collection in ansible/ and
#                            its fleet test (ansible-core)
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
        libgtk-4-dev libadwaita-1-dev gettext desktop-file-utils appstream at-spi2-core
        python3-pyatspi dbus-daemon
        lintian
        ansible-core
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

# wine32 (an i386 package) lets Wine run the 32-bit zorflash.exe. It is installed only where
# the kernel runs 32-bit programs: where it does not (a kernel with 32-bit emulation off says
# "32-bit emulation disabled"), an installed wine32 makes the `wine` command pick its 32-bit
# loader for every program and fail with "Exec format error", the 64-bit ones included.
# Without it the rest still works: the 32-bit program's Wine tests are then disabled
# (tests/front/win32), and this says why. The i386 architecture is taken back when nothing of it
# could be installed, so that a mirror without usable i386 indexes does not make every later
# `apt-get update` fail.
runs_32bit_programs() {
    local probe
    probe=$(mktemp -d) || return 1
    printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' |
        as --32 -o "$probe/exit.o" - 2>/dev/null &&
        ld -m elf_i386 -o "$probe/exit" "$probe/exit.o" 2>/dev/null &&
        "$probe/exit" 2>/dev/null
    local status=$?
    rm -rf "$probe"
    return $status
}
if [[ ${1:-} != --sim ]] && ! runs_32bit_programs; then
    echo "setup.sh: this kernel does not run 32-bit programs; wine32 is not installed and the 32-bit zorflash.exe is not run under Wine" >&2
elif [[ ${1:-} != --sim ]] &&
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
