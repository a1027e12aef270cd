#!/usr/bin/env bash
# tovixdiag.exe from the package, under Wine: with the simulated card
# registered every check that runs must pass; with it unregistered the four
# components must fail as not registered, and the program must end with
# exit code 1 after printing its whole table, not crash.
#
# Usage: run_wine_diag.sh <package zip> <work>
# Exits 77 (skipped) when Wine is not installed.
set -euo pipefail

package=$1
work=$2

. "$(dirname "$0")/wine_prefix.sh"
wine_prefix "$work/wineprefix" "the diagnostic"
rm -rf "$work"
mkdir -p "$work/registered" "$work/unregistered"
python3 -m zipfile -e "$package" "$work"
folder=$(echo "$work"/tovixapi-*-win32)
wine_boot "$work/wineboot.txt"

# Runs the diagnostic in $1; its table goes to $1/table.txt, its exit code to $status.
diagnose() {
    status=0
    (cd "$1" && wine "$folder/tovixdiag.exe" --pattern-seconds 2) >"$1/table.txt" 2>&1 || status=$?
    tr -d '\r' <"$1/table.txt"
}
failed=0
expect() {
    if ! grep -Eq "$1" "$2/table.txt"; then
        echo "FAILED: no line matching '$1' in $2/table.txt"
        failed=1
    fi
}

echo "--- the simulated card registered"
wine regsvr32 /s "$folder/simulated-card/tovixsim.dll"
diagnose "$work/registered"
if [ "$status" != 0 ]; then
    echo "FAILED: tovixdiag exited with $status, not 0"
    failed=1
fi
for check in "decoder filter" "OSD enumerator" "shared source filter" "demultiplexer" \
    "TovixAPI.dll" "OSD test pattern" "push graph playback" "rendered graph playback" "close"; do
    expect "^$check +pass " "$work/registered"
done

echo "--- the simulated card unregistered"
wine regsvr32 /u /s "$folder/simulated-card/tovixsim.dll"
diagnose "$work/unregistered"
if [ "$status" != 1 ]; then
    echo "FAILED: tovixdiag exited with $status, not 1"
    failed=1
fi
for check in "decoder filter" "OSD enumerator" "shared source filter" "demultiplexer"; do
    expect "^$check +FAIL +\{[0-9A-F-]+\} not registered: HKEY_CLASSES_ROOT" "$work/unregistered"
done
expect "^OSD test pattern +FAIL .*plug-in log: .*No OSD board found \(ERROR: 80040154/" "$work/unregistered"
expect "^push graph playback +FAIL .*plug-in log: .*\(ERROR: 80040154/" "$work/unregistered"
expect "^rendered graph playback +FAIL .*plug-in log: .*\(ERROR: " "$work/unregistered"
expect "^close +pass " "$work/unregistered"

[ "$failed" = 0 ] && echo "tovixdiag passed with the simulated card and failed clearly without it"
exit "$failed"
