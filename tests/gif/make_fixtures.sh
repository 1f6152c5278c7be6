#!/usr/bin/env bash
# Makes the ImageMagick pictures in tests/data/gif/made/ (committed; rerun
# only to change them).
set -euo pipefail
out=$(cd "$(dirname "$0")/../data/gif" && pwd)/made
mkdir -p "$out"
cd "$out"
for h in 1 2 3 4 5 6 7 8 9; do
  convert rose: -resize "11x${h}!" -colors 32 -interlace GIF "interlaced-h$h.gif"
done
convert rose: -resize 64x48! -colors 64 "gif87:rose-87a-64x48.gif"
# Frames with tables of their own.
convert -size 16x12 plasma:red-yellow -colors 8 \( -size 16x12 plasma:blue-green -colors 16 \) \
  -set dispose none "local-tables.gif"
# A first frame smaller than the screen, then a later one elsewhere.
convert -size 9x7 plasma:red-blue -colors 8 -repage 30x20+4+3 \
  \( -size 6x5 plasma:green-white -colors 8 -repage 30x20+20+12 \) "small-frames.gif"
# Transparent pixels in the first frame and in a later one.
convert -size 12x10 xc:none -fill red -draw 'rectangle 2,2,7,6' \
  \( -size 12x10 xc:none -fill blue -draw 'rectangle 5,4,10,8' \) -set dispose none "transparent-frames.gif"
convert -size 12x10 xc:none -fill red -draw 'rectangle 2,2,7,6' \
  \( -size 12x10 xc:none -fill blue -draw 'rectangle 5,4,10,8' \) -set dispose background "transparent-restore.gif"
convert -size 300x200 plasma:fuchsia-navy -colors 256 "plasma-300x200.gif"
