#!/usr/bin/env bash
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

# Retakes the README's screenshots: runs the tool on the virtual controller under a private
# Xvfb server, drives it with the mouse and grabs the window on each page.
#   tools/screenshots.sh [path to the built tool]   (default: build/app/imu-calibration-tool-demo)
set -euo pipefail
cd "$(dirname "$0")/.."
tool=${1:-build/app/imu-calibration-tool-demo}
out=doc

need=()
command -v xdotool >/dev/null || need+=(xdotool)
command -v import >/dev/null || need+=(imagemagick)
command -v Xvfb >/dev/null || need+=(xvfb)
if [ ${#need[@]} -gt 0 ]; then
    sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $tool_pid $xvfb 2>/dev/null || true' EXIT
export DISPLAY=$display
sleep 1

"$tool" >/dev/null 2>&1 &
tool_pid=$!
for _ in $(seq 50); do
    win=$(xdotool search --name "IMU Calibration Tool" 2>/dev/null | head -n1) && [ -n "$win" ] && break
    sleep 0.1
done

# Window coordinates of the controls (the window sits at 0,0 on a server without a window
# manager): page tabs along the top, the two action buttons of each page.
click() { xdotool mousemove "$1" "$2" click 1; }
grab() { import -window root -crop 800x580+0+0 +repage "$out/$1.png"; }
tab_setup() { click 62 98; }
tab_magnet() { click 155 98; }
tab_valid() { click 258 98; }

# The virtual controller lies still for its first 20 s, then turns for 20 s.
click 288 527; sleep 1.5          # search
click 488 527; sleep 1.5          # connect to the first controller listed
tab_valid; click 414 405; sleep 5 # the stationary check, about half way
grab validation
sleep 7; xdotool key Return       # close the verdict box
tab_magnet; click 288 527         # calibrate while it turns
sleep 2; click 488 527; sleep 0.5 # Save two seconds in: the gate asks first
grab gate
xdotool key Escape; sleep 0.3     # Cancel: nothing is written
sleep 8
tab_setup; sleep 0.3              # the lights, trigger and joystick follow the turning controller
grab setup
tab_magnet; sleep 8
grab magnetometer
click 767 25                      # close
wait $tool_pid
