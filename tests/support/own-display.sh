#!/usr/bin/env bash
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

# Runs a command on an X server of its own, so that no other test's windows cover, expose or
# take the input of its windows, whatever runs beside it. ctest starts every GUI test this way.
#   own-display.sh <command> [arguments...]
set -u
# Xvfb picks a free display and prints its number once it takes connections; it ends with this
# script (ctest ends a test that runs too long with all its processes).
exec 3< <(exec Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null)
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null' EXIT
if ! read -r display <&3; then
    echo "own-display.sh: Xvfb did not start" >&2
    exit 1
fi
DISPLAY=:$display "$@"
