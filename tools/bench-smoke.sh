#!/usr/bin/env bash
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

# Builds the benchmarks and runs each one for a moment, so that they keep building and
# running. The figures of this pass mean nothing; bench/README.md tells how to measure.
# Usage: tools/bench-smoke.sh [build directory, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIMU_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target bench_decode bench_quality bench_slots bench_live bench_startup \
    imucal_frameprobe imu-calibration-tool-demo

# The window's programs need an X display; without one they get a private Xvfb server.
gui() {
    if [ -n "${DISPLAY:-}" ]; then
        "$@"
    else
        xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
    fi
}

b="$build/bench"
"$b/bench_decode" --benchmark_min_time=0.01
"$b/bench_quality" --benchmark_min_time=0.01
gui "$b/bench_slots" --benchmark_min_time=0.01
gui "$b/bench_live" --source worker --rate 1000 --seconds 1 --warmup 0.5
gui "$b/bench_live" --source direct --rate 1000 --seconds 1 --warmup 0.2 --load check
gui "$b/bench_live" --capacity --seconds 0.5 --warmup 0.2 --max-rate 2000
gui "$b/bench_startup" --runs 1
process=(python3 bench/bench_process.py)
demo="$build/app/imu-calibration-tool-demo"
gui "${process[@]}" idle --exe "$demo" --seconds 1 --warmup 0.5 --frame-probe "$b/libimucal_frameprobe.so"
gui "${process[@]}" live --exe "$demo" --seconds 1 --warmup 0.5 --frame-probe "$b/libimucal_frameprobe.so"
echo "bench smoke pass: OK"
