#!/usr/bin/env bash
# Exit stress: the tool is started, brought into a busy state (streaming, right after a save,
# mid-check, calibrating) and closed, 100 times per state, each run a fresh process. Every run
# must end soon after the close with status 0 and no sanitizer report. Not part of the CI run.
#   tools/stress.sh [runs per state]
# Built with AddressSanitizer + UndefinedBehaviorSanitizer (LeakSanitizer included) when
# tools/sanitize.sh is there to set the project's sanitizer options, otherwise a plain build.
# Builds in ${IMU_BUILD_DIR:-/tmp/build-stress}; the tool runs from the repository root.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${IMU_BUILD_DIR:-/tmp/build-stress}
export IMU_STRESS_RUNS=${1:-${IMU_STRESS_RUNS:-100}}
# A hundred runs of one state take minutes, beyond QtTest's five-minute limit per function.
export QTEST_FUNCTION_TIMEOUT=${QTEST_FUNCTION_TIMEOUT:-7200000}

tools/deps.sh
sanitize=""
if [ -x tools/sanitize.sh ]; then
    sanitize="address,undefined"
    # The options tools/sanitize.sh runs the suite with: every finding aborts the process.
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1"
    mkdir -p "$build"
    cat tools/lsan.supp tests/stress/lsan-thirdparty.supp > "$build/stress-lsan.supp"
    export LSAN_OPTIONS="suppressions=$build/stress-lsan.supp:print_suppressions=0"
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ \
      -DIMU_SANITIZE="$sanitize" >/dev/null
cmake --build "$build" -j"${IMU_JOBS:-2}" --target tst_exitstress imu_exit_scenario

stress=("$build/tests/stress/tst_exitstress" -maxwarnings 0)
if [ -n "${DISPLAY:-}" ]; then
    "${stress[@]}"
else
    xvfb-run -a -s "-screen 0 1280x1024x24" "${stress[@]}"
fi
