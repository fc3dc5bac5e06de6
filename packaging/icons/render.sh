#!/bin/sh
# Renders the hicolor PNG icons from the SVG drawings beside this script (run by hand after changing a drawing;
# the PNG files are committed, so the build does not run it). Needs rsvg-convert, or ImageMagick with SVG support.
set -eu
cd "$(dirname "$0")"
for svg in *.svg; do
  name=${svg%.svg}
  for size in 16 32 48 64 128 256; do
    mkdir -p "$size"
    if command -v rsvg-convert >/dev/null 2>&1; then
      rsvg-convert -w "$size" -h "$size" -o "$size/$name.png" "$svg"
    else
      convert -background none -density 1200 "$svg" -resize "${size}x${size}" -strip "PNG32:$size/$name.png"
    fi
  done
done
