#!/usr/bin/env bash
# Runs the complete-update case of the dialog driver against zorflash-sim.exe and takes a
# screenshot of the display while the update runs: the driver asks for it by creating a
# request file once the progress bar moves, and waits until the picture is taken.
#
#   sim_update_screenshot.sh WINE_RUN DRIVER.exe OUTPUT.png
set -euo pipefail
wine_run="$1"
driver="$2"
output="$3"

mkdir -p "$(dirname "$output")"
request="$(mktemp -u "${TMPDIR:-/tmp}/zorflash-shot.XXXXXX")"
rm -f "$output"
display="$("$wine_run" --display)"

ZORFLASH_SCREENSHOT_REQUEST="Z:${request//\//\\}" \
    "$wine_run" "$driver" --gtest_filter='Dialog.SimulatedSensor*' &
driver_pid=$!

shot_status=0
for _ in $(seq 1800); do
    if [[ -f "$request" ]]; then
        # The dialog alone when its window can be found, else the whole screen.
        window="$(DISPLAY="$display" xwininfo -root -tree 2>/dev/null |
                  awk '/"Digitizer Firmware Update Utility/ {print $1; exit}' || true)"
        if ! DISPLAY="$display" import -window "${window:-root}" "$output"; then
            shot_status=1
        fi
        touch "$request.done"
        break
    fi
    kill -0 "$driver_pid" 2>/dev/null || break
    sleep 0.1
done

driver_status=0
wait "$driver_pid" || driver_status=$?
rm -f "$request" "$request.done"
if [[ $driver_status -ne 0 ]]; then exit "$driver_status"; fi
if [[ ! -s "$output" || $shot_status -ne 0 ]]; then
    echo "no screenshot was taken" >&2
    exit 1
fi
echo "screenshot: $output"
