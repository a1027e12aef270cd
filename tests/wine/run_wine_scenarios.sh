#!/usr/bin/env bash
# The timed host scenarios under Wine, compared with the same on Linux.
#
# In a fresh Wine prefix of its own: registers tovixsim.dll, then runs
# tovix_scenarios.exe against TovixAPI.dll (Wine's COM runtime and graph
# manager, the card's components from tovixsim.dll); then the same
# scenarios natively against libTovixAPI.so. compare_scenarios.py compares
# what the host saw; Wine's own gaps from Windows are listed, with their
# reasons, in known_gaps_scenarios.txt.
#
# Usage: run_wine_scenarios.sh <windows build> <linux scenarios> <linux lib> <work> [--long]
# Exits 77 (skipped) when Wine is not installed.
set -euo pipefail

windows_build=$1
linux_scenarios=$2
linux_lib=$3
work=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)

. "$here/wine_prefix.sh"
wine_prefix "$windows_build/wineprefix-scenarios" "the timed scenarios under Wine"
rm -rf "$work"
mkdir -p "$work/wine" "$work/linux"
wine_boot "$work/wineboot.txt"
wine_register_card "$windows_build"

echo "--- the scenarios under Wine"
# Wine's media parser complains on stderr about GStreamer's missing 32-bit
# plug-ins at every RenderFile; that goes to a file of its own.
(cd "$work/wine" && wine "$windows_build/bin/tovix_scenarios.exe" "" transcript.txt masked.log "$@" \
    2>stderr.txt) || { cat "$work/wine/stderr.txt"; exit 1; }
echo "--- the scenarios on Linux"
(cd "$work/linux" && "$linux_scenarios" "$linux_lib" transcript.txt masked.log "$@")

python3 "$here/compare_scenarios.py" "$work/linux" "$work/wine" \
    "$here/known_gaps_scenarios.txt" "$here/known_differences.sed"
