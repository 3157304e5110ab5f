#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite. GUI tests need
# an X display; when there is none they run on a private Xvfb server.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
if [ -n "${DISPLAY:-}" ]; then
    ctest --test-dir build --output-on-failure "$@"
else
    xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir build --output-on-failure "$@"
fi
