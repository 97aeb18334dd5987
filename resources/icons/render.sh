#!/bin/sh
# Renders the program's icon from zarvel.svg at the sizes the freedesktop
# icon theme uses; the PNGs are kept in the repository, so building needs no
# SVG renderer. Needs rsvg-convert (package librsvg2-bin).
set -eu
cd "$(dirname "$0")"
for size in 48 64 128 256; do
    rsvg-convert -w $size -h $size zarvel.svg -o zarvel-$size.png
done
cp zarvel-128.png ../Resources/zarvel-logo.png
