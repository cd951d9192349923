#!/bin/sh
# Makes the desktop icons of zorflash-gtk from the program's icon (its 256-colour 32 x 32
# picture), scaled up pixel for pixel so the drawing stays as sharp as the original:
# hicolor/<size>x<size>/apps/zorflash-gtk.png. Needs ImageMagick; the output is committed.
set -eu
here=$(dirname "$0")
ico="$here/../../src/front/win32/icon/zorflash.ico"
for size in 32 48 64 128 256; do
    mkdir -p "$here/hicolor/${size}x$size/apps"
    convert "$ico[1]" -filter point -resize "${size}x$size" -strip \
        "PNG32:$here/hicolor/${size}x$size/apps/zorflash-gtk.png"
done
