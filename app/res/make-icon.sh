#!/bin/sh
# Draws the program icon (resource 130): a data drive with a circular arrow,
# "this drive starts afresh". Run it after changing the drawing and commit the
# .ico it writes; the build only uses the committed file.
#
#   app/res/make-icon.sh            writes app/res/Mediaprep.ico
#
# Needs ImageMagick 6 (convert). Each size is drawn from the same 256-pixel
# master and then sharpened a little, so that the small sizes keep their edges.
set -eu
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -size 256x256 xc:none \
    -fill '#00000040' -draw "roundrectangle 22,62 246,214 26,26" \
    -fill '#3b4a5c' -draw "roundrectangle 14,52 238,204 26,26" \
    -fill '#5d7088' -draw "roundrectangle 14,52 238,170 26,26" \
    -fill '#8fa3ba' -draw "roundrectangle 22,60 230,120 18,18" \
    -stroke '#3b4a5c' -strokewidth 6 -draw "line 64,142 118,142" \
    -stroke none -fill '#39d353' -draw "circle 40,142 40,152" \
    -fill '#1b2430' -draw "rectangle 30,180 110,186" \
    "$work/drive.png"

# The arrow: three quarters of a ring with a head, on an orange disc.
convert -size 256x256 xc:none \
    -fill '#00000050' -draw "circle 182,186 182,252" \
    -fill '#f08c1a' -stroke '#ffffff' -strokewidth 8 -draw "circle 176,178 176,246" \
    -fill none -stroke '#ffffff' -strokewidth 16 \
    -draw "path 'M 176,142 A 36,36 0 1 1 140,178'" \
    -stroke none -fill '#ffffff' -draw "polygon 118,186 162,186 140,148" \
    "$work/arrow.png"

convert "$work/drive.png" "$work/arrow.png" -composite -depth 8 "$work/master.png"

for size in 16 24 32 48 64 256; do
    if [ "$size" -lt 256 ]; then
        convert "$work/master.png" -filter Lanczos -resize "${size}x${size}" \
            -unsharp 0x0.6+0.6+0 "$work/icon-$size.png"
    else
        cp "$work/master.png" "$work/icon-$size.png"
    fi
done

# 256 is stored as PNG inside the .ico (Vista and later read it), the others
# as bitmaps with an alpha channel.
convert "$work/icon-16.png" "$work/icon-24.png" "$work/icon-32.png" "$work/icon-48.png" \
    "$work/icon-64.png" "$work/icon-256.png" Mediaprep.ico
convert "$work/master.png" -resize 128x128 "$work/preview.png"
echo "wrote $(pwd)/Mediaprep.ico"
