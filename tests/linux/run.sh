#!/usr/bin/env bash
# The Linux edition's tests: unit tests, the platform layer and zorflash against the
# emulated sensor (umockdev), and the Windows edition under Wine against the same sensor.
# Builds in build-linux (or $ZORFLASH_LINUX_BUILD_DIR) and prints ctest's summary; exits
# non-zero when a test fails.
#
#   tests/linux/run.sh              every test labelled "linux"
#   tests/linux/run.sh -L wine      only some (further arguments go to ctest)
#
# The Wine tests need zorflash.exe of the mingw-w64 build (build-mingw/bin, made by
# tests/win32/run.sh or `cmake --preset mingw`); without it they are skipped. The cases
# run against the 32-bit program (wine32.*) are there when build-mingw32/bin/zorflash.exe is.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build="${ZORFLASH_LINUX_BUILD_DIR:-$root/build-linux}"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
# Only what these tests need: other areas' work in progress must not stop them.
targets=(linux_unit_tests hidraw_platform_tests zorflash_e2e_tests wine_e2e_tests
         emulated-sensor-run zorflash-sim)
cmake --build "$build" -j2 --target "${targets[@]}" || exit 1

if (($# == 0)); then set -- -L linux; fi
status=0
(cd "$build" && ctest --output-on-failure -j2 "$@") || status=$?
# The Wine tests leave their display and Wine server running for speed; end them.
if [[ -x "$root/tests/front/win32/wine_umockdev.sh" && -d "$build/wine-umockdev" ]]; then
    "$root/tests/front/win32/wine_umockdev.sh" "$build/wine-umockdev" --stop
fi
exit $status
