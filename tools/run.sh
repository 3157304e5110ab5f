#!/usr/bin/env bash
# Installs what is missing, builds, and launches the tool on the virtual controller.
# The tool reads its pictures from ./image, so it runs from the repository root.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target imu-calibration-tool
exec build/app/imu-calibration-tool "$@"
