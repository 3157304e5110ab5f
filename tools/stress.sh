#!/usr/bin/env bash
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

# Exit stress: the fault tests' closing table (the tool brought into every busy state it knows:
# starting without a dongle, saving, checking, streaming, calibrating, flooding, connecting, and
# closed) run again and again, each run a fresh process. Every run must pass: each close ends
# the tool within a second, and no sanitizer reports anything. Not part of the CI run.
#   tools/stress.sh [runs]
# Built with AddressSanitizer + UndefinedBehaviorSanitizer (LeakSanitizer included), with the
# options tools/sanitize.sh runs the suite with. Builds in ${IMU_BUILD_DIR:-/tmp/build-stress}.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${IMU_BUILD_DIR:-/tmp/build-stress}
runs=${1:-${IMU_STRESS_RUNS:-100}}

tools/deps.sh
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:verify_asan_link_order=0"
mkdir -p "$build"
cat tools/lsan.supp tests/stress/lsan-thirdparty.supp > "$build/stress-lsan.supp"
export LSAN_OPTIONS="suppressions=$build/stress-lsan.supp:print_suppressions=0"
# The launcher keeps Mesa's driver loaded to the end (see tools/sanitize.sh).
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ \
      -DIMU_SANITIZE="address,undefined" -DIMU_STRESS=ON \
      -DCMAKE_CROSSCOMPILING_EMULATOR="$root/tools/sanitize.sh;--exec" >/dev/null
cmake --build "$build" -j"${IMU_JOBS:-2}" --target tst_faults

stress=(ctest --test-dir "$build" --output-on-failure -R '^stress_closing$' --repeat until-fail:"$runs")
if [ -n "${DISPLAY:-}" ]; then
    "${stress[@]}"
else
    xvfb-run -a -s "-screen 0 1280x1024x24" "${stress[@]}"
fi
