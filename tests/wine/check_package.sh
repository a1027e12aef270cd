#!/usr/bin/env bash
# The Windows package, built twice: packaged, then its DLLs and program are
# linked again and packaged again. The zip and the debug files must come out
# the same bytes: no time stamp, path or order of the build machine in them.
#
# Usage: check_package.sh <windows build> <work>
set -euo pipefail

build=$1
work=$2
dist=$build/dist

cmake --build "$build" --target package -j2
rm -rf "$work"
mkdir -p "$work/first"
cp "$dist"/*.zip "$dist"/*.debug "$work/first/"

rm -f "$build/bin/TovixAPI.dll" "$build/bin/tovixsim.dll" "$build/bin/tovixdiag.exe"
cmake --build "$build" --target package -j2

for first in "$work"/first/*; do
    again=$dist/$(basename "$first")
    if ! cmp "$first" "$again"; then
        echo "$(basename "$first") differs between two builds"
        exit 1
    fi
done
(cd "$work/first" && sha256sum -- *)
echo "two builds of the package gave the same bytes"
