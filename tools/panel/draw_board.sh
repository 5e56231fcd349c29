#!/usr/bin/env bash
# Draws the board picture shown on the operator panel: the evaluation board
# with the KOVRA610, the FT2232H USB bridge and the USB connector.
#   tools/panel/draw_board.sh [output.png]   (default: panel/kovra610_board.png)
# The picture is an opaque indexed-colour PNG: the panel reads it at every
# start, and it decodes in a third of the time a true-colour one takes.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here/../../panel/kovra610_board.png}"
font="DejaVu-Sans"
bold="DejaVu-Sans-Bold"

# Pins of a quad flat package: four rows of short pads around a square body.
pins() {  # x y size count
    local x=$1 y=$2 n=$3 c=$4 i p step
    step=$(( (n - 16) / (c - 1) ))
    for ((i = 0; i < c; i++)); do
        p=$(( 8 + i * step ))
        printf 'rectangle %d,%d %d,%d ' $((x + p)) $((y - 7)) $((x + p + 3)) $((y - 1))
        printf 'rectangle %d,%d %d,%d ' $((x + p)) $((y + n + 1)) $((x + p + 3)) $((y + n + 7))
        printf 'rectangle %d,%d %d,%d ' $((x - 7)) $((y + p)) $((x - 1)) $((y + p + 3))
        printf 'rectangle %d,%d %d,%d ' $((x + n + 1)) $((y + p)) $((x + n + 7)) $((y + p + 3))
    done
}

convert -size 540x280 xc:'#C0C0C0' \
    -fill '#1F6B3A' -stroke '#0E3D20' -strokewidth 2 -draw 'roundrectangle 6,6 533,273 14,14' \
    -fill '#C0C0C0' -stroke '#8A8A8A' -strokewidth 1 \
    -draw 'circle 22,22 28,22' -draw 'circle 517,22 523,22' \
    -draw 'circle 22,257 28,257' -draw 'circle 517,257 523,257' \
    -stroke '#C9A227' -strokewidth 2 -fill none \
    -draw 'polyline 60,140 100,140 100,138 120,138' \
    -draw 'polyline 60,130 100,130 100,128 120,128' \
    -draw 'polyline 210,118 260,118 260,110 318,110' \
    -draw 'polyline 210,128 270,128 270,122 318,122' \
    -draw 'polyline 210,138 280,138 280,134 318,134' \
    -draw 'polyline 210,148 290,148 290,146 318,146' \
    -draw 'polyline 210,158 300,158 300,158 318,158' \
    -draw 'polyline 430,100 470,100 470,60 500,60' \
    -draw 'polyline 430,130 480,130 480,120 500,120' \
    -draw 'polyline 430,160 470,160 470,180 500,180' \
    -draw 'polyline 430,190 460,190 460,240 500,240' \
    -stroke none -fill '#B8B8B8' -draw 'rectangle 6,110 60,170' \
    -fill '#8C8C8C' -draw 'rectangle 12,120 56,160' \
    -fill '#3A3A3A' -draw 'rectangle 22,130 52,150' \
    -fill '#C9A227' -draw "$(pins 130 98 72 10)" \
    -fill '#202020' -draw 'rectangle 130,98 202,170' \
    -fill '#C9A227' -draw "$(pins 326 86 96 12)" \
    -fill '#101010' -draw 'rectangle 326,86 422,182' \
    -fill '#E0E0E0' -draw 'circle 140,108 143,108' -draw 'circle 337,97 340,97' \
    -fill '#D8D8D8' \
    -draw 'rectangle 496,50 520,70' -draw 'rectangle 496,110 520,130' \
    -draw 'rectangle 496,170 520,190' -draw 'rectangle 496,230 520,250' \
    -fill '#B87333' \
    -draw 'rectangle 240,200 256,208' -draw 'rectangle 264,200 280,208' \
    -draw 'rectangle 288,200 304,208' -draw 'rectangle 240,60 256,68' \
    -draw 'rectangle 264,60 280,68' -fill '#6B4A2B' \
    -draw 'rectangle 140,200 170,214' -draw 'rectangle 180,200 210,214' \
    -fill white -font "$bold" -pointsize 13 \
    -draw 'text 334,138 "KOVRA610"' \
    -pointsize 10 -draw 'text 136,138 "FT2232H"' \
    -font "$font" -pointsize 10 \
    -draw 'text 14,188 "USB"' \
    -draw 'text 470,40 "CH0 / CH1"' \
    -draw 'text 130,244 "USB-SPI bridge"' \
    -draw 'text 300,236 "two-channel pin electronics"' \
    -font "$bold" -pointsize 12 \
    -draw 'text 150,30 "KOVRA610 Evaluation Board"' \
    -alpha off -colors 256 +dither -define png:color-type=3 -depth 8 -strip "$out"
