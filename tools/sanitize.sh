#!/usr/bin/env bash
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

# Builds the tool and its tests with sanitizers and runs them.
#   tools/sanitize.sh address   the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer
#                               (LeakSanitizer included), build in /tmp/build-asan
#   tools/sanitize.sh thread    the threaded tests under ThreadSanitizer, build in /tmp/build-tsan
# Extra arguments go to ctest. Exits non-zero on any failing test or sanitizer report.
# IMU_BUILD_DIR: another build directory; IMU_BUILD_TYPE: Debug instead of RelWithDebInfo;
# IMU_JOBS: parallel compile jobs (2).
#
# gcc is used: it is the compiler Debian builds Qt with, and its ASan/TSan runtimes come with
# build-essential. Suppression files cover third-party libraries only, never the tool's code.
set -euo pipefail

# Test launcher of the address build (ctest runs every test through it). Mesa unloads its
# software GL driver at exit, and LeakSanitizer then finds blocks that only the unloaded
# driver still pointed to, in a module it can no longer name. Loading the driver up front
# keeps it mapped, so those blocks stay reachable and nothing of ours needs hiding. Only the
# driver is preloaded, not the ASan runtime: the preload reaches the programs a test starts
# (xdotool, dbus-daemon, python), and the runtime in those would report their own exit-time
# leaks. verify_asan_link_order=0 (below) lets our instrumented programs start with the
# driver ahead of the runtime; the driver defines none of the functions ASan intercepts.
if [ "${1:-}" = --exec ]; then
    shift
    preload=""
    for dri in /usr/lib/x86_64-linux-gnu/dri/swrast_dri.so /usr/lib/*/dri/swrast_dri.so; do
        if [ -e "$dri" ]; then preload=$dri; break; fi
    done
    LD_PRELOAD="$preload${LD_PRELOAD:+ $LD_PRELOAD}" exec "$@"
fi

cd "$(dirname "$0")/.."
root=$(pwd)

mode=${1:-}
[ $# -gt 0 ] && shift
case "$mode" in
    address) sanitizers="address,undefined"; build=${IMU_BUILD_DIR:-/tmp/build-asan} ;;
    thread)  sanitizers="thread";            build=${IMU_BUILD_DIR:-/tmp/build-tsan} ;;
    *) echo "usage: $0 address|thread [ctest arguments...]" >&2; exit 2 ;;
esac

tools/deps.sh

launcher=()
[ "$mode" = address ] && launcher=(-DCMAKE_CROSSCOMPILING_EMULATOR="$root/tools/sanitize.sh;--exec")
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="${IMU_BUILD_TYPE:-RelWithDebInfo}" -DCMAKE_CXX_COMPILER=g++ \
      -DIMU_SANITIZE="$sanitizers" "${launcher[@]}" >/dev/null
cmake --build "$build" -j"${IMU_JOBS:-2}"

# Every finding aborts the test process, so ctest sees it as a failure. (No
# strict_string_checks: libxkbcommon-x11 hands strndup() a counted, unterminated buffer, which
# that option reports as an overflow while Qt connects to the X server.)
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:verify_asan_link_order=0"
export LSAN_OPTIONS="suppressions=$root/tools/lsan.supp:print_suppressions=0"
export TSAN_OPTIONS="suppressions=$root/tools/tsan.supp:halt_on_error=1:abort_on_error=1:second_deadlock_stack=1:print_suppressions=0"

ctest_args=(--test-dir "$build" --output-on-failure)
if [ "$mode" = thread ]; then
    # The tests that run more than one thread of ours carry the label "threads": the worker,
    # the tickers, the window end to end, the faults, the exit, and the stand-in BlueZ.
    # (The build links tools/tsan/qtqueueorder.cpp, which tells TSan how Qt's event queue
    # orders queued calls.)
    ctest_args+=(-L '^threads$')
fi

# Each GUI test runs on an Xvfb server of its own (tests/support/own-display.sh).
ctest "${ctest_args[@]}" "$@"
