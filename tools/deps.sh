#!/usr/bin/env bash
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

# Installs the Debian packages the tool and its tests need, skipping those already present.
# Qt Bluetooth for the tool on a real adapter; D-Bus, Python's D-Bus and GLib bindings for the
# stand-in BlueZ its tests run against; xdotool to drive the tool's window in those tests;
# dpkg-dev for the package's dependencies (cpack) and the hardening flags (dpkg-buildflags);
# help2man and python3 to make the manual pages and shell completions from each program's
# --help, bash-completion and zsh for the test that runs those completions; Google Benchmark
# for bench/; Eigen for the calibration's ellipsoid fit.
#   tools/deps.sh [package...]    (the packages named are installed as well, when missing)
set -euo pipefail

packages=(
    build-essential cmake
    qtbase5-dev qtbase5-dev-tools libqt5opengl5-dev libgl1-mesa-dev
    libgl1-mesa-dri fonts-liberation
    xvfb xauth
    qtconnectivity5-dev
    dbus-daemon python3-dbus python3-gi xdotool
    dpkg-dev libbenchmark-dev libeigen3-dev
    help2man python3 bash-completion zsh
    "$@"
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
