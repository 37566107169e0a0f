#!/usr/bin/env bash
# make-text-picture.sh - render the scrolling height-map picture text1.jpg
# beside this script: bold near-black capitals on a white background.
#
# Dark pixels lift tiles, light pixels leave them flat. The picture wraps
# horizontally (its right edge continues into its left edge), so the layout is
#   [s/2] VELMORA [s] dot [s/2]
# which puts the wrap seam in the middle of a gap and keeps every letter whole.
# The bottom sixth of the picture stays empty (it lies below the screen).
#
# Needs ImageMagick 7 (`magick`) and fonts-dejavu-core. Run from anywhere, for example:
#   ./dev exec assets/textures/make-text-picture.sh
# Output is byte-for-byte reproducible (metadata stripped).
set -euo pipefail

cd "$(dirname "$0")"

FONT=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
WORD="VELMORA"
OUT=text1.jpg

W=2048            # picture width  (about 5.6 : 1)
H=366             # picture height
POINTSIZE=302     # DejaVu Sans Bold cap height 0.729 em -> 220 px = 60 % of H
KERNING=10        # extra tracking so neighbouring letters stay apart on the tile grid
CAP=220           # cap height in pixels at POINTSIZE
CAP_TOP=47        # caps span rows 47..266: centred 57 % up from the bottom
BASELINE=$((CAP_TOP + CAP))
DOT=$((CAP * 3 / 10))   # diameter of the separator dot

[[ -r "$FONT" ]] || { echo "font not found: $FONT" >&2; exit 1; }
command -v magick >/dev/null || { echo "ImageMagick 7 (magick) not found" >&2; exit 1; }

# Measure the ink of the word: left bearing and width.
read -r INK_W INK_X < <(magick -size 3000x600 xc:white -font "$FONT" \
    -pointsize "$POINTSIZE" -kerning "$KERNING" -fill black \
    -annotate +100+400 "$WORD" -trim -format '%w %X\n' info:)
BEARING=$((INK_X - 100))

S=$(( (W - INK_W - DOT) / 2 ))          # gap between word and dot
WORD_X=$(( S / 2 - BEARING ))            # pen origin so the ink starts at S/2
DOT_X0=$(( S / 2 + INK_W + S ))          # left edge of the dot
DOT_CX=$(( DOT_X0 + DOT / 2 ))
DOT_CY=$(( CAP_TOP + CAP / 2 ))
DOT_R=$(( DOT / 2 ))

mkdir -p "$(dirname "$OUT")"
magick -size "${W}x${H}" xc:white \
    -font "$FONT" -pointsize "$POINTSIZE" -kerning "$KERNING" \
    -fill '#101010' -annotate "+${WORD_X}+${BASELINE}" "$WORD" \
    -draw "circle ${DOT_CX},${DOT_CY} $((DOT_CX + DOT_R)),${DOT_CY}" \
    -colorspace Gray -type Grayscale \
    -strip +set date:create +set date:modify +set date:timestamp \
    -define jpeg:dct-method=islow -sampling-factor 1x1 \
    -interlace none -quality 92 \
    "$OUT"

echo "wrote $OUT (${W}x${H}, word '$WORD', ink ${INK_W} px wide, gaps ${S} px)"
