#!/usr/bin/env bash
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

# Static analysis of the tool's own sources: clang-tidy with the checks in .clang-tidy, then
# cppcheck. Generated code (moc, uic) is not analysed. Exits non-zero on any finding.
#   tools/analyze.sh [tidy|cppcheck]    (both by default)
# Build directory: /tmp/build-tidy (IMU_TIDY_BUILD_DIR), configured like the normal build;
# only the generated headers are built, for the sources to compile.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${IMU_TIDY_BUILD_DIR:-/tmp/build-tidy}
what=${1:-all}

tools/deps.sh clang clang-tidy cppcheck

# clang-tidy reads the flags of each file from compile_commands.json; clang's own flags keep
# it from tripping over gcc-only options. IMU_FUZZ puts the fuzz targets' sources in there
# too (nothing is linked here, so the fuzzer runtime is not needed).
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DIMU_FUZZ=ON >/dev/null
autogen=$(cmake --build "$build" --target help | sed -n 's/^\.\.\. \(.*_autogen\)$/\1/p')
# shellcheck disable=SC2086
cmake --build "$build" -j"${IMU_JOBS:-2}" --target $autogen >/dev/null

# Our translation units: everything in compile_commands.json under the tool's directories.
mapfile -t sources < <(python3 - "$build/compile_commands.json" "$root" <<'PY'
import json, os, sys
commands, root = sys.argv[1], sys.argv[2]
dirs = ("app/", "ble/", "view/", "calib/", "session/", "headless/", "tests/", "fuzz/")
seen = set()
for entry in json.load(open(commands)):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    rel = os.path.relpath(path, root)
    if rel.startswith(dirs) and "_autogen" not in rel and path not in seen:
        seen.add(path)
        print(path)
PY
)
echo "Analysing ${#sources[@]} files."

status=0
if [ "$what" = all ] || [ "$what" = tidy ]; then
    echo "=== clang-tidy"
    # One file per process, two at a time. xargs fails if any clang-tidy run did.
    tidy_status=0
    printf '%s\n' "${sources[@]}" \
        | xargs -P "${IMU_JOBS:-2}" -n 1 clang-tidy -p "$build" --quiet \
            >"$build/clang-tidy.log" 2>&1 || tidy_status=$?
    grep -vE '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Error while processing' \
        "$build/clang-tidy.log" || true
    if [ $tidy_status -eq 0 ]; then
        echo "clang-tidy: clean"
    else
        echo "clang-tidy: findings above" >&2
        status=1
    fi
fi

if [ "$what" = all ] || [ "$what" = cppcheck ]; then
    echo "=== cppcheck"
    includes=()
    for d in app ble ble/virtual view calib headless tests/support "$build/app/imucal_autogen/include"; do
        includes+=(-I "$d")
    done
    if cppcheck --enable=warning,performance,portability --inline-suppr --error-exitcode=1 \
            --library=qt --std=c++17 --language=c++ --quiet --inconclusive \
            --suppress=missingIncludeSystem --suppress='*:*_autogen/*' \
            -j "${IMU_JOBS:-2}" "${includes[@]}" "${sources[@]}"; then
        echo "cppcheck: clean"
    else
        echo "cppcheck: findings above" >&2
        status=1
    fi
fi
exit $status
