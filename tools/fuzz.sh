#!/usr/bin/env bash
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

# Builds the libFuzzer targets with clang (ASan + UBSan) in /tmp/build-fuzz and runs each one
# for a bounded time, starting from its seed corpus in fuzz/corpus/<target>/.
#   tools/fuzz.sh [seconds per target, default 30] [target...]
# New inputs go to the build directory, not to the committed seeds. Exits non-zero if any
# target crashes, leaks, trips a sanitizer or fails one of its checks; the input that did it
# is kept in <build>/artifacts/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=${1:-30}
[ $# -gt 0 ] && shift
build=${IMU_FUZZ_BUILD_DIR:-/tmp/build-fuzz}
all=(fuzz_notification fuzz_events fuzz_connect fuzz_devicelist fuzz_devicepage fuzz_paramframe)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")

# clang with its libFuzzer and sanitizer runtimes.
tools/deps.sh clang libclang-rt-dev

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DIMU_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"${IMU_JOBS:-2}" --target "${targets[@]}"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/tools/lsan.supp:print_suppressions=0"

# Longest input per target: a notification is at most 2048 bytes; event sequences and
# device lists need room for many records.
max_len() {
    case "$1" in
        fuzz_notification) echo 2048 ;;
        fuzz_connect|fuzz_paramframe) echo 256 ;;
        *) echo 16384 ;;
    esac
}

failed=()
for t in "${targets[@]}"; do
    work="$build/corpus/$t"
    artifacts="$build/artifacts/$t"
    mkdir -p "$work" "$artifacts"
    run=("$build/fuzz/$t" -max_total_time="$seconds" -max_len="$(max_len "$t")" -timeout=10
         -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/"
         "$work" "fuzz/corpus/$t")
    # The window target builds the form with its OpenGL view, which needs an X display.
    if [ "$t" = fuzz_devicepage ] && [ -z "${DISPLAY:-}" ]; then
        run=(xvfb-run -a -s "-screen 0 1280x1024x24" "${run[@]}")
    fi
    echo "=== $t (${seconds} s)"
    if "${run[@]}" 2>"$build/$t.log"; then
        grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "$build/$t.log" | tail -2 || true
    else
        tail -40 "$build/$t.log"
        failed+=("$t")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "Failed: ${failed[*]}" >&2
    exit 1
fi
echo "All fuzz targets ran clean."
