#!/usr/bin/env bash
# The graph probe under Wine: graph_probe.exe against Wine's own graph
# manager, the card's components from tovixsim.dll registered in a prefix of
# its own. Differences from Windows other than the known gaps of Wine
# (known_gaps_wine.txt, each with its reason) fail it.
#
# Usage: run_wine_probe.sh <windows build> <work>
# Exits 77 (skipped) when Wine is not installed.
set -euo pipefail

windows_build=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)

. "$here/wine_prefix.sh"
wine_prefix "$windows_build/wineprefix-probe" "the graph probe"
rm -rf "$work"
mkdir -p "$work"
wine_boot "$work/wineboot.txt"
wine_register_card "$windows_build"
cp "$here/known_gaps_wine.txt" "$work/known.txt"
cd "$work"
# Wine's media parser complains on stderr about GStreamer's missing 32-bit
# plug-ins at RenderFile; that goes to a file of its own.
wine "$windows_build/bin/graph_probe.exe" --known known.txt --table table.md 2>stderr.txt ||
    { grep -v GStreamer stderr.txt | grep . ; exit 1; }
