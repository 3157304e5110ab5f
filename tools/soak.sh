#!/usr/bin/env bash
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

# Soak: a million reports from a controller on the virtual dongle through the worker, the
# queued signals, the window's slots and the 3-D view, built with LeakSanitizer. Fails on a
# leak at exit, a backlog that does not stay bounded, memory that keeps growing, or a window
# that does not end up showing the last report. About 20 minutes; not part of the CI run.
#   tools/soak.sh [--reports N] [--rate R] [--sample S]
# Builds in ${IMU_BUILD_DIR:-/tmp/build-soak}; the tool runs from the repository root, where
# its pictures are.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${IMU_BUILD_DIR:-/tmp/build-soak}

tools/deps.sh
# LeakSanitizer on its own: no quarantine, so the resident memory it prints means something.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ \
      -DIMU_SANITIZE=leak >/dev/null
cmake --build "$build" -j"${IMU_JOBS:-2}" --target imu_soak

# The project's suppressions plus those for the libraries a whole GUI session loads.
cat tools/lsan.supp tests/stress/lsan-thirdparty.supp > "$build/soak-lsan.supp"
export LSAN_OPTIONS="suppressions=$build/soak-lsan.supp:print_suppressions=0"
soak=("$build/tests/stress/imu_soak" "$@")
if [ -n "${DISPLAY:-}" ]; then
    "${soak[@]}"
else
    xvfb-run -a -s "-screen 0 1280x1024x24" "${soak[@]}"
fi
