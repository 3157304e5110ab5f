#!/usr/bin/env bash
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

# Installs what is missing, builds, and launches the demo: the tool on the virtual dongle,
# which runs on any machine. (build/app/imu-calibration-tool is the tool on the computer's own
# Bluetooth adapter.) The tool reads its pictures from ./image, so it runs from the repository
# root.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target imu-calibration-tool-demo
exec build/app/imu-calibration-tool-demo "$@"
