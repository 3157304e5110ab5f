#!/usr/bin/env bash
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

# The full benchmark run behind the performance tables (README and bench/README.md), as one
# command. Run it on an otherwise quiet machine: about 25 minutes, 40 with --base.
#
#   tools/bench-perf.sh [--base <commit>] [--quick] [--user] [--build <dir>]
#
# --base <commit>  also measures that commit's tool, for before/after figures: the commit is
#                  checked out in a scratch worktree under /tmp, this tree's bench/ is laid over
#                  it (the programs measure any build of the tool) and it is built there.
# --quick          a few seconds per figure, to see that everything runs.
# --user           only the figures a user feels (idle, live, model lag, the stand-in BlueZ):
#                  about 10 minutes.
# --build <dir>    this tree's build directory for the benchmarks (default build-bench).
#
# Prints one labelled block per figure; bench/README.md tells how to read each line.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
tools/deps.sh

# Everything below shows windows: without a display, the whole run gets one private Xvfb.
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

base=""
quick=0
user_only=0
build=build-bench
while [ $# -gt 0 ]; do
    case "$1" in
    --base) base=$2; shift 2 ;;
    --quick) quick=1; shift ;;
    --user) user_only=1; shift ;;
    --build) build=$2; shift 2 ;;
    *) echo "usage: $0 [--base <commit>] [--quick] [--user] [--build <dir>]" >&2; exit 2 ;;
    esac
done

# Seconds per figure. The virtual controller lies still for 20 s and then turns for 20 s, so
# a live run of 40 s sees one whole cycle.
if [ "$quick" = 1 ]; then
    idle_s=3; live_s=6; runs=1; long_s=3; flood_s=3; sweep_s=4; startup_runs=1
    decode_args=(--benchmark_min_time=0.01); slots_args=(--benchmark_min_time=0.01)
    capacity_args=(--seconds 0.5 --max-rate 2000)
else
    idle_s=20; live_s=40; runs=3; long_s=60; flood_s=100; sweep_s=12; startup_runs=7
    capacity_args=(--seconds 5)
    decode_args=(--benchmark_repetitions=5 --benchmark_report_aggregates_only=true)
    slots_args=(--benchmark_min_time=0.5)
fi

configure_and_build() {   # <source dir> <build dir> <cmake options...>
    local src=$1 dir=$2
    shift 2
    cmake -S "$src" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIMU_BENCH=ON "$@" >/dev/null
    local targets=(imu-calibration-tool-demo imu-calibration-tool bench_live imucal_frameprobe)
    if [ "$src" = "$root" ]; then
        targets+=(bench_decode bench_slots bench_startup bluez_controllerstream)
    fi
    cmake --build "$dir" -j"$(nproc)" --target "${targets[@]}" >/dev/null
}

echo "== building $(git rev-parse --short HEAD) in $build"
configure_and_build "$root" "$build"
helper=$root/$build/tests/bluez/bluez_controllerstream

if [ -n "$base" ]; then
    base_dir=/tmp/imucal-bench-base-$(git rev-parse --short "$base")
    [ -d "$base_dir" ] || git worktree add --detach "$base_dir" "$base" >/dev/null
    rm -rf "$base_dir/bench"
    cp -r "$root/bench" "$base_dir/bench"
    echo "== building $base in $base_dir, with this tree's bench/"
    configure_and_build "$base_dir" "$base_dir/build" -DBUILD_TESTING=OFF
fi

# The figures a user feels, for one build of the tool: idle and live through /proc, the model's
# lag from inside, and the real-adapter build on the stand-in BlueZ.
user_figures() {   # <label> <build dir>
    local label=$1 dir=$2
    local demo=$dir/app/imu-calibration-tool-demo tool=$dir/app/imu-calibration-tool
    local probe=$dir/bench/libimucal_frameprobe.so
    local process=(python3 "$root/bench/bench_process.py")

    echo "== [$label] idle: window open, no controller, ${idle_s} s, $runs runs"
    "${process[@]}" idle --exe "$demo" --seconds "$idle_s" --runs "$runs" --frame-probe "$probe"
    echo "== [$label] live: demo on its first controller at the controller's own rate, ${live_s} s, $runs runs"
    "${process[@]}" live --exe "$demo" --seconds "$live_s" --warmup 1 --runs "$runs" \
        --frame-probe "$probe"
    echo "== [$label] model lag: motion to photon at the controller's own rate, ${live_s} s, $runs runs"
    for _ in $(seq "$runs"); do
        "$dir/bench/bench_live" --source worker --rate 100 --seconds "$live_s" --warmup 1
    done
    if [ -x "$tool" ] && [ -x "$helper" ]; then
        echo "== [$label] real-adapter build on the stand-in BlueZ, controller's own rate, ${live_s} s"
        "${process[@]}" standin --exe "$tool" --helper "$helper" --rate 100 --seconds "$live_s" \
            --warmup 2 --frame-probe "$probe"
        echo "== [$label] real-adapter build on the stand-in BlueZ, rising rates, ${sweep_s} s each"
        "${process[@]}" standin --exe "$tool" --helper "$helper" --seconds "$sweep_s" --warmup 2 \
            --sweep 100,200,300,400,450,500,550,600,700,800,1000 --frame-probe "$probe"
    fi
}

if [ -n "$base" ]; then
    user_figures before "$base_dir/build"
fi
user_figures after "$root/$build"
[ "$user_only" = 1 ] && exit 0

b=$root/$build/bench
echo "== decode step"
"$b/bench_decode" "${decode_args[@]}"
echo "== the window's slots and one frame"
"$b/bench_slots" "${slots_args[@]}"
echo "== live path through the worker, ${long_s} s each"
for rate in 100 500 1000; do
    "$b/bench_live" --source worker --rate "$rate" --seconds "$long_s"
done
for load in check calib; do
    "$b/bench_live" --source worker --rate 500 --seconds "$long_s" --load "$load"
done
echo "== live path, the worker's signals emitted directly at 1000 reports/s, ${long_s} s each"
for load in none check calib; do
    "$b/bench_live" --source direct --rate 1000 --seconds "$long_s" --load "$load"
done
echo "== directly at 10,000 reports/s for ${flood_s} s: memory and backlog"
"$b/bench_live" --source direct --rate 10000 --seconds "$flood_s"
echo "== capacity of the GUI thread"
"$b/bench_live" --capacity "${capacity_args[@]}"
echo "== start-up, $startup_runs runs"
"$b/bench_startup" --runs "$startup_runs"
