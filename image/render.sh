#!/usr/bin/env bash
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

# Renders every skin picture from its SVG source in src/ at its exact size, and again at twice
# that size (name@2x.png) for screens with two device pixels to a logical pixel; then the
# desktop icon in the hicolor theme's sizes (../packaging/icons) from src/logo.svg.
# Needs rsvg-convert (librsvg) and ImageMagick's convert; text uses the
# Liberation Sans font, which must be installed for identical output.
set -euo pipefail
cd "$(dirname "$0")"

# name  width  height   (one row per picture the window loads)
pictures='
background              800 580
block                   743 445
settng-nor-01            35  20
settng-nor-03            35  20
Setup_up                 70  28
Setup_down               70  28
Magnet_up               114  28
Magnet_down             114  28
Valid_up                 93  28
Valid_down               93  28
button_search           101  32
button_connect          101  32
button_calib            101  32
button_save             101  32
btn_check               212  89
joystick_up             120 375
joystick_right          158 375
left_light               20  43
middle_light             13  16
right_light              14  17
power_light              18  16
back_light               13  19
trigger_stick            29  41
rocker_light             22  22
rocker_disk              91  92
rocker_cross             17  18
trigger_progress         92 161
trigger_progress_bottom  92   4
long_bar                 80 260
progress                655  61
'

check_size() {
    local file=$1 w=$2 h=$3 got
    got=$(identify -format '%wx%h' "$file")
    if [[ $got != "${w}x${h}" ]]; then
        echo "render.sh: $file is $got, expected ${w}x${h}" >&2
        exit 1
    fi
}

while read -r name w h; do
    [[ -z $name ]] && continue
    rsvg-convert --width "$w" --height "$h" --format png -o "$name.png" "src/$name.svg"
    check_size "$name.png" "$w" "$h"
    rsvg-convert --width $((2 * w)) --height $((2 * h)) --format png -o "$name@2x.png" "src/$name.svg"
    check_size "$name@2x.png" $((2 * w)) $((2 * h))
done <<< "$pictures"

# The window icon is a 24-bit BMP without alpha; the source fills every pixel.
tmp=$(mktemp --suffix=.png)
trap 'rm -f "$tmp"' EXIT
rsvg-convert --width 64 --height 64 --format png -o "$tmp" src/logo.svg
convert "$tmp" -background '#0e171d' -alpha remove -alpha off -type TrueColor BMP3:logo.bmp
check_size logo.bmp 64 64

icons=../packaging/icons/hicolor
for size in 16 32 48 64 128 256; do
    mkdir -p "$icons/${size}x${size}/apps"
    rsvg-convert --width "$size" --height "$size" --format png \
                 -o "$icons/${size}x${size}/apps/imu-calibration-tool.png" src/logo.svg
    check_size "$icons/${size}x${size}/apps/imu-calibration-tool.png" "$size" "$size"
done

echo "render.sh: rendered $(grep -c . <<< "$pictures") PNG pictures at 1x and 2x, logo.bmp and 6 icons"
