#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine (ctest's CMAKE_CROSSCOMPILING_EMULATOR).
#
#   wine-run.sh PROGRAM.exe [ARGS...]   run it (exit code passed through)
#   wine-run.sh --setup                 only prepare the prefix, the display and the server
#   wine-run.sh --display               print the X display the programs use
#   wine-run.sh --stop                  end the Wine server and the display of this build
#
# One Wine prefix per build directory (<build>/wineprefix, or $ZORFLASH_WINEPREFIX), made
# once (wine-prefix.sh) and reused; one persistent `wineserver -p` and one Xvfb display
# shared by every test, so that a program costs tenths of a second, not seconds. The build
# directory is the one whose CMakeCache.txt lies at or above the current directory (ctest
# runs each test in its own folder of the build), or $ZORFLASH_BUILD_DIR.
set -euo pipefail

find_build_dir() {
    if [[ -n "${ZORFLASH_BUILD_DIR:-}" ]]; then echo "$ZORFLASH_BUILD_DIR"; return; fi
    local dir="$PWD"
    while [[ "$dir" != "/" ]]; do
        if [[ -f "$dir/CMakeCache.txt" ]]; then echo "$dir"; return; fi
        dir="$(dirname "$dir")"
    done
    echo "wine-run.sh: no CMake build directory at or above $PWD" >&2
    exit 2
}

build_dir="$(find_build_dir)"
state="$build_dir/wine-state"
mkdir -p "$state"
export WINEPREFIX="${ZORFLASH_WINEPREFIX:-$build_dir/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installers: the programs need neither.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

display_alive() {
    [[ -f "$state/xvfb.pid" && -f "$state/display" ]] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null
}

setup() {
    # Several tests may start at once (ctest -j): one of them sets up, the others wait.
    exec 9>"$state/lock"
    flock 9
    if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
        "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh" "$WINEPREFIX"
        # Let Wine draw the window frames itself: Xvfb runs no window manager, and a
        # screenshot should show the caption.
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    fi
    if [[ -n "${ZORFLASH_WINE_DISPLAY:-}" ]]; then
        echo "$ZORFLASH_WINE_DISPLAY" >"$state/display"
    elif ! display_alive; then
        # A new display: a Wine server still tied to an old one must go first.
        wineserver -k >/dev/null 2>&1 || true
        rm -f "$state/display"
        Xvfb -displayfd 8 -screen 0 1024x768x24 -nolisten tcp 8>"$state/display.tmp" \
            >/dev/null 2>&1 &
        echo $! >"$state/xvfb.pid"
        for _ in $(seq 100); do
            [[ -s "$state/display.tmp" ]] && break
            sleep 0.05
        done
        echo ":$(head -n1 "$state/display.tmp")" >"$state/display"
    fi
    export DISPLAY="$(cat "$state/display")"
    if ! wineserver -k0 >/dev/null 2>&1; then
        # No server yet. Wine's own background processes (services, the desktop) start
        # with the first program and inherit its standard handles; start them here with
        # none, so that they never hold the pipes of a test runner open.
        wineserver -p >/dev/null 2>&1 </dev/null
        wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    fi
    flock -u 9
}

case "${1:-}" in
--stop)
    wineserver -k >/dev/null 2>&1 || true
    if display_alive; then kill "$(cat "$state/xvfb.pid")"; fi
    rm -f "$state/xvfb.pid" "$state/display"
    exit 0
    ;;
--setup)
    setup
    exit 0
    ;;
--display)
    setup
    cat "$state/display"
    exit 0
    ;;
"")
    echo "usage: wine-run.sh PROGRAM.exe [ARGS...] | --setup | --display | --stop" >&2
    exit 2
    ;;
esac

setup
exec wine "$@"
