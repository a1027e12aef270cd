#!/usr/bin/env bash
# The soak of the Windows build under Wine (tovix_soak.exe): OSD frames and
# load/play/free cycles through Wine's graph manager, the card's components
# from tovixsim.dll registered in a prefix of its own.
#
# Usage: run_wine_soak.sh <windows build> <work> <frames> <cycles>
# Exits 77 (skipped) when Wine is not installed.
set -euo pipefail

windows_build=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)

. "$here/wine_prefix.sh"
wine_prefix "$windows_build/wineprefix-soak" "the Wine soak"
rm -rf "$work"
mkdir -p "$work"
wine_boot "$work/wineboot.txt"
wine_register_card "$windows_build"
cd "$work"
wine "$windows_build/bin/tovix_soak.exe" "$3" "$4"
