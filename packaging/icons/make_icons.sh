#!/bin/sh
# Renders the desktop icons of zorflash-gtk from its drawing,
# hicolor/scalable/apps/org.zorflash.ZorflashGtk.svg, at each size a desktop asks for:
# hicolor/<size>x<size>/apps/org.zorflash.ZorflashGtk.png. Needs rsvg-convert (Debian:
# librsvg2-bin), which the build machines lack: the output is committed. The PNGs carry no
# date or text chunk, so the same drawing gives the same bytes with the same librsvg.
set -eu
here=$(dirname "$0")
svg="$here/hicolor/scalable/apps/org.zorflash.ZorflashGtk.svg"
for size in 16 24 32 48 64 128 256; do
    mkdir -p "$here/hicolor/${size}x$size/apps"
    rsvg-convert --width "$size" --height "$size" --format png \
        --output "$here/hicolor/${size}x$size/apps/org.zorflash.ZorflashGtk.png" "$svg"
done
