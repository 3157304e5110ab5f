#!/usr/bin/env bash
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

# The real-adapter build against the stand-in BlueZ, with the stack's faults: write outcomes,
# a second save behind an unanswered one, floods of 5,000 and 25,000 reports a second,
# closing during a flood, bluetoothd restarted or the adapter power-cycled while scanning,
# bluetoothd not answering, and 50 devices renaming themselves with 10,000-character names.
# Prints one line of figures per case; about 10 minutes with the default 60 s floods.
#   tools/bluez-faults.sh [--seconds N] [case...]     (cases: see bench/bench_bluez.cpp)
# Builds in ${IMU_BUILD_DIR:-build}; needs xdotool, and an X display or xvfb-run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${IMU_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIMU_BENCH=ON >/dev/null
cmake --build "$build" -j"${IMU_JOBS:-2}" --target bench_bluez >/dev/null

# A private bus of its own (an abstract socket), and Qt on its BlueZ D-Bus path.
export DBUS_SYSTEM_BUS_ADDRESS="unix:abstract=/imucal/bluez-faults/$$"
export BLUETOOTH_FORCE_DBUS_LE_VERSION=5.66
bench=("$build/tests/bluez/bench_bluez" "$@")
if [ -n "${DISPLAY:-}" ]; then
    "${bench[@]}"
else
    xvfb-run -a -s "-screen 0 1280x1024x24" "${bench[@]}"
fi
