#!/usr/bin/env bash
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

# Checks the Debian packages that cpack made, as a user's machine would see them: lintian on
# every .deb and .ddeb in the folder (any error or warning fails; infos and pedantic notes are
# shown), then appstreamcli on the AppStream metainfo the package installs. Installs lintian and
# appstream when they are missing.
#   tools/lintian.sh [package folder]    (default: build/package, where the README's cpack puts them)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build/package}

tools/deps.sh lintian appstream

shopt -s nullglob
packages=("$dir"/*.deb "$dir"/*.ddeb)
if [ ${#packages[@]} -eq 0 ]; then
    echo "lintian.sh: no packages in $dir (cpack --config build/CPackConfig.cmake -B $dir)" >&2
    exit 1
fi
echo "=== lintian ${packages[*]}"
lintian --fail-on error,warning --display-info --pedantic --tag-display-limit 0 "${packages[@]}"

echo "=== appstreamcli validate"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
for deb in "$dir"/*.deb; do
    dpkg-deb --extract "$deb" "$tree"
done
metainfo=("$tree"/usr/share/metainfo/*.metainfo.xml)
if [ ${#metainfo[@]} -eq 0 ]; then
    echo "lintian.sh: the package installs no AppStream metainfo" >&2
    exit 1
fi
# --no-net: the screenshots' addresses are checked for their form, not fetched.
appstreamcli validate --no-net --pedantic "${metainfo[@]}"
echo "lintian.sh: the packages pass lintian and appstreamcli"
