#!/usr/bin/env bash
# The Windows edition in CI: cross-builds zorflash.exe, zorflash-sim.exe and the tests with
# mingw-w64 (preset mingw, folder build-mingw), signed with a throwaway certificate, and
# zorflash.exe for 32-bit Windows (preset mingw32, folder build-mingw32); prepares a Wine
# prefix, an Xvfb display and a persistent Wine server, runs every test under Wine, and ends
# them again.
# Exits non-zero when the build or any test fails. Run from anywhere:
#
#   tests/win32/run.sh
#
# Needs (Debian 12): cmake g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix googletest
# wine wine64 xvfb xauth x11-utils imagemagick osslsigncode openssl. Installed here when
# missing and running as root. (The 32-bit program runs under Wine in tests/front/win32, with
# wine32:i386 from scripts/setup.sh.)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$root"

packages=(cmake g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix googletest wine wine64
          xvfb xauth x11-utils imagemagick osslsigncode openssl)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    if [[ $(id -u) -ne 0 ]]; then
        echo "run.sh: missing packages: ${missing[*]}" >&2
        exit 2
    fi
    DEBIAN_FRONTEND=noninteractive apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

# The programs for a real sensor carry no placeholder. This build embeds the placeholders'
# bytes as image files instead, so that zorflash.exe has images to write to the emulated
# sensor of the Linux tests, which expect exactly these bytes.
images="$root/build-mingw/test-images"
mkdir -p "$images"
cmake -DZORFLASH_LAYOUT_DIR="$images" -P cmake/firmware_images.cmake
g++ -std=c++17 -I"$root/src" -I"$images" -o "$images/write_placeholder_images" \
    tests/win32/write_placeholder_images.cpp
"$images/write_placeholder_images" "$images"
# A throwaway code-signing certificate, made once per build folder: the build signs
# zorflash.exe with it, and the test win32.signature.zorflash verifies against it.
signing="$root/build-mingw/signing"
if [[ ! -s "$signing/cert.pem" || ! -s "$signing/key.pem" ]]; then
    mkdir -p "$signing"
    openssl req -x509 -newkey rsa:3072 -nodes -days 3650 -subj "/CN=zorflash test signing" \
        -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
        -keyout "$signing/key.pem" -out "$signing/cert.pem" 2>/dev/null
fi
image_options=(-DZORFLASH_IMAGE_A="$images/image-a.bin" -DZORFLASH_IMAGE_B="$images/image-b.bin")
cmake --preset mingw "${image_options[@]}" \
    -DZORFLASH_SIGN_CERT="$signing/cert.pem" -DZORFLASH_SIGN_KEY="$signing/key.pem"
cmake --build --preset mingw
# zorflash.exe for 32-bit Windows, with the same images: the program alone (its build preset
# names only it), signed too; its file checks run below, its Wine runs in tests/front/win32
# (label wine).
cmake --preset mingw32 "${image_options[@]}" \
    -DZORFLASH_SIGN_CERT="$signing/cert.pem" -DZORFLASH_SIGN_KEY="$signing/key.pem" >/dev/null
cmake --build --preset mingw32

export ZORFLASH_BUILD_DIR="$root/build-mingw"
trap 'tests/win32/wine-run.sh --stop' EXIT
tests/win32/wine-run.sh --setup

status=0
ctest --preset mingw || status=$?
ctest --preset mingw32 || status=$?
if [[ -f build-mingw/screenshots/zorflash-sim-update.png ]]; then
    echo "Screenshot of the dialog during an update: build-mingw/screenshots/zorflash-sim-update.png"
fi
exit $status
