#!/usr/bin/env bash
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

# Installs what is missing, builds everything and runs the whole test suite. Each GUI test
# runs on an Xvfb server of its own (tests/support/own-display.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure "$@"
