#!/usr/bin/env bash
# Runs a Windows program under Wine so that Wine's HID bus sees the emulated sensor of the
# calling test (which owns a umockdev testbed and runs under the umockdev preload).
#
#   wine_umockdev.sh STATE_DIR --setup             prefix and display only
#   wine_umockdev.sh STATE_DIR --stop              end the Wine server and the display
#   wine_umockdev.sh STATE_DIR PROGRAM.exe ARGS... run it; its exit code is passed through
#
# ZORFLASH_WINE_PRESS_OK="PRESS_OK.exe CAPTION" presses OK in the program's box with that
# caption once it shows (a program that answers in a box waits for a person otherwise).
#
# ZORFLASH_WINE_NO_DISPLAY=1 runs the program without an X display: Wine then cannot create
# its windows (the way to test a program whose window cannot be created).
#
# ZORFLASH_WINE_USB_KEYS="VID_F0A5&PID_0090 ..." creates these device keys under
# HKLM\SYSTEM\CurrentControlSet\Enum\USB for the run (the record of installed devices
# that Wine does not keep for hidraw devices) and deletes them afterwards.
#
# The prefix (STATE_DIR/prefix) is made once (tests/win32/wine-prefix.sh), with winebus's SDL backend
# off, so that Wine's HID bus takes hidraw nodes through udev. Wine's device driver process
# must run under the preload with the caller's testbed (UMOCKDEV_DIR), and it lives as long
# as the Wine server: every run ends the server first, and the program starts a new one in
# the caller's environment. The display (Xvfb, for the program's dialog) runs without the
# preload and is kept across runs.
#
# Several tests may run at once, each with its own testbed: a run takes one of
# ZORFLASH_WINE_SLOTS (default 2) slots, each a copy of the prefix with a Wine server of its
# own, and waits while every slot is taken. The slot's lock is held on descriptor 8, which
# no Wine process inherits (a server left running would hold the slot).
set -euo pipefail

state=$1
shift
mkdir -p "$state"
export WINEPREFIX="$state/prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

no_preload() { env -u LD_PRELOAD -u UMOCKDEV_DIR "$@"; }
# Wine gets the umockdev preload alone (a sanitizer runtime of the calling test stays out).
if [[ "${LD_PRELOAD:-}" == *libumockdev-preload* ]]; then
    export LD_PRELOAD=libumockdev-preload.so.0
fi

setup() {
    exec 9>"$state/lock"
    flock 9
    if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
        "$(dirname "${BASH_SOURCE[0]}")/../../win32/wine-prefix.sh" "$WINEPREFIX" 9>&-
        no_preload wine reg add 'HKLM\System\CurrentControlSet\Services\winebus' \
            /v 'Enable SDL' /t REG_DWORD /d 0 /f >/dev/null 2>&1
        no_preload wineserver -w
    fi
    # A prefix made before Wine's 32-bit half (wine32:i386) was installed has no 32-bit
    # system: the 32-bit zorflash.exe would not start in it. Bring the prefix up to date.
    if [[ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]] &&
        dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
        no_preload wineboot -u >/dev/null 2>&1
        no_preload wineserver -w
    fi
    if ! { [[ -f "$state/xvfb.pid" ]] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null; }; then
        rm -f "$state/display.tmp"
        # Started directly (env execs Xvfb), so that $! is the display server itself.
        env -u LD_PRELOAD -u UMOCKDEV_DIR Xvfb -displayfd 8 -screen 0 1024x768x24 \
            -nolisten tcp 8>"$state/display.tmp" >/dev/null 2>&1 </dev/null &
        echo $! >"$state/xvfb.pid"
        for _ in $(seq 100); do
            [[ -s "$state/display.tmp" ]] && break
            sleep 0.05
        done
        echo ":$(head -n1 "$state/display.tmp")" >"$state/display"
    fi
    flock -u 9
}

case "${1:-}" in
--setup)
    setup
    ;;
--stop)
    no_preload wineserver -k >/dev/null 2>&1 || true
    for prefix in "$state"/slot*/prefix; do
        [[ -d $prefix ]] && WINEPREFIX=$prefix no_preload wineserver -k >/dev/null 2>&1 || true
    done
    if [[ -f "$state/xvfb.pid" ]]; then kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true; fi
    rm -f "$state/xvfb.pid" "$state/display"
    ;;
*)
    setup
    export DISPLAY="$(cat "$state/display")"
    slots=${ZORFLASH_WINE_SLOTS:-2}
    slot=""
    while [[ -z $slot ]]; do
        for ((n = 0; n < slots; n++)); do
            exec 8>"$state/slot$n.lock"
            if flock -n 8; then slot="$state/slot$n"; break; fi
            exec 8>&-
        done
        [[ -n $slot ]] || sleep 0.2
    done
    if [[ ! -f "$slot/prefix/system.reg" ]] ||
        [[ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" &&
            ! -f "$slot/prefix/drive_c/windows/syswow64/kernel32.dll" ]]; then
        rm -rf "$slot"
        mkdir -p "$slot"
        cp -a "$WINEPREFIX" "$slot/prefix.new"
        mv "$slot/prefix.new" "$slot/prefix"
    fi
    export WINEPREFIX="$slot/prefix"
    # A server (and device driver process) from an earlier run knows an old testbed.
    wineserver -k >/dev/null 2>&1 8>&- || true
    wineserver -w >/dev/null 2>&1 8>&- || true
    usb='HKLM\SYSTEM\CurrentControlSet\Enum\USB'
    # The slot's prefix holds only the keys this run asks for: a run killed before its keys
    # were deleted, or a server stopped before it saved their deletion, leaves them in the
    # copy on disk, where the next run in this slot would meet a device it never had.
    wine reg delete "$usb" /f >/dev/null 2>&1 8>&- || true
    for key in ${ZORFLASH_WINE_USB_KEYS:-}; do
        wine reg add "$usb\\$key" /f >/dev/null 2>&1 8>&-
    done
    presser=""
    if [[ -n "${ZORFLASH_WINE_PRESS_OK:-}" ]]; then
        wine "${ZORFLASH_WINE_PRESS_OK%% *}" "${ZORFLASH_WINE_PRESS_OK#* }" >/dev/null 2>&1 8>&- &
        presser=$!
    fi
    status=0
    if [[ -n "${ZORFLASH_WINE_NO_DISPLAY:-}" ]]; then
        env -u DISPLAY wine "$@" 8>&- || status=$?
    else
        wine "$@" 8>&- || status=$?
    fi
    if [[ -n $presser ]]; then wait "$presser" || true; fi
    for key in ${ZORFLASH_WINE_USB_KEYS:-}; do
        wine reg delete "$usb\\$key" /f >/dev/null 2>&1 8>&- || true
    done
    exit $status
    ;;
esac
