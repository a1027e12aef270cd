#!/usr/bin/env bash
# The end-to-end session under Wine, compared with the same session on Linux.
#
# In a fresh Wine prefix inside the Windows build folder: registers
# tovixsim.dll with regsvr32, then runs tovix_session.exe, which loads
# TovixAPI.dll beside it and drives the natives through Wine's COM runtime
# and filter graph manager: the push graph wired by hand, and RenderFile,
# which finds the card's demultiplexer through its registration with the
# filter mapper. The same session then runs natively against
# libTovixAPI.so, and the two plug-in logs (time stamps masked) must agree
# but for the differences known_differences.sed names. The card's OSD layer
# writes what it shows after every block as a PNG snapshot on both sides;
# the same frames must show the same pixels.
#
# Usage: run_wine_session.sh <windows build> <linux session> <linux lib> <work>
# Exits 77 (skipped) when Wine is not installed.
set -euo pipefail

windows_build=$1
linux_session=$2
linux_lib=$3
work=$4
here=$(cd "$(dirname "$0")" && pwd)

. "$here/wine_prefix.sh"
wine_prefix "$windows_build/wineprefix" "the Windows session"
rm -rf "$work"
mkdir -p "$work/wine/snapshots" "$work/linux/snapshots"
export TOVIX_SIM_SNAPSHOTS=snapshots
wine_boot "$work/wineboot.txt"
wine_register_card "$windows_build"
wine "$windows_build/bin/tovix_server_check.exe" "$(wine winepath -w "$windows_build/bin/tovixsim.dll" | tr -d '\r')"

echo "--- the session under Wine"
(cd "$work/wine" && wine "$windows_build/bin/tovix_session.exe" "" masked.log)
echo "--- the session on Linux"
(cd "$work/linux" && "$linux_session" "$linux_lib" masked.log)

for side in wine linux; do
    sed -f "$here/known_differences.sed" "$work/$side/masked.log" >"$work/$side/compared.log"
done
if ! diff -u "$work/linux/compared.log" "$work/wine/compared.log"; then
    echo "the plug-in logs differ beyond the known differences (- Linux, + Wine)"
    exit 1
fi
echo "the plug-in logs agree ($(wc -l <"$work/wine/compared.log") lines)"

wine regsvr32 /u /s "$windows_build/bin/tovixsim.dll"
for clsid in "${wine_classes[@]}"; do
    if wine reg query "HKCR\\CLSID\\$clsid" >/dev/null 2>&1; then
        echo "regsvr32 /u left $clsid registered"
        exit 1
    fi
done
if wine reg query "$wine_demux_filter" >/dev/null 2>&1; then
    echo "regsvr32 /u left the demultiplexer with the filter mapper"
    exit 1
fi
echo "tovixsim.dll unregistered"

shown=$(cd "$work/linux/snapshots" && ls)
if [ -z "$shown" ] || [ "$shown" != "$(cd "$work/wine/snapshots" && ls)" ]; then
    echo "the OSD showed different frames: Linux: $shown; Wine: $(cd "$work/wine/snapshots" && ls)"
    exit 1
fi
if command -v python3 >/dev/null; then
    for frame in $shown; do
        python3 "$here/same_pixels.py" "$work/linux/snapshots/$frame" "$work/wine/snapshots/$frame"
    done
    echo "the OSD showed the same pixels in" $shown
else
    echo "python3 is not installed: the OSD frames were counted, not compared:" $shown
fi
