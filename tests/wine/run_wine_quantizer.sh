#!/usr/bin/env bash
# The quantiser of TovixAPI.dll under Wine against the native Linux build, in
# one run: the same bytes on every generated frame, and the times.
#
# quantizer_frames draws the frames on Linux, then quantises them natively,
# under Wine with the SSE2 kernels, and under Wine with the scalar ones
# (TOVIX_NO_SSE2=1, as on a processor without SSE2); every frame's output
# and the sequence's digest must agree. With more than one run, each frame
# is then timed on the three, and with a last argument the OSD frame path
# too: updateOSD through libTovixAPI.so and through TovixAPI.dll
# (tovixsim.dll registered in the prefix as the card), and the library's own
# part of it, processOsdImage.
#
# With I686_FRAMES naming quantizer_frames built for 32-bit x86 Linux from
# the DLL's sources and flags (tests/wine/linux-i686), that program runs
# beside the others with either kernels, bytes and times: what 32-bit code
# costs without Wine.
#
# Usage: run_wine_quantizer.sh <linux build> <windows build> <work> <runs> [<osd rounds>]
# Exits 77 (skipped) when Wine is not installed, 1 when any bytes differ.
set -euo pipefail

linux_build=$(cd "$1" && pwd)
windows_build=$(cd "$2" && pwd)
work=$(mkdir -p "$3" && cd "$3" && pwd)
runs=$4
osd_rounds=${5:-}
here=$(cd "$(dirname "$0")" && pwd)

. "$here/wine_prefix.sh"
wine_prefix "$windows_build/wineprefix-quantizer" "the quantiser under Wine"
rm -rf "$work"
mkdir -p "$work/frames"
wine_boot "$work/wineboot.txt"

frames_linux=$linux_build/tests/wine/quantizer_frames
frames_windows=$windows_build/bin/quantizer_frames.exe
frames_i686=${I686_FRAMES:+$(cd "$(dirname "$I686_FRAMES")" && pwd)/$(basename "$I686_FRAMES")}
"$frames_linux" write "$work/frames"
cd "$work"
# Each build's runs: its name (the files' prefix) and the kernels it must use.
builds="native:sse2 sse2:sse2 scalar:scalar"
[ -n "$frames_i686" ] && builds="native:sse2 i686sse2:sse2 sse2:sse2 i686scalar:scalar scalar:scalar"
# One build's quantizer_frames with the given arguments, its output on stdout.
run_build() {
    local build=$1
    shift
    case $build in
    native) "$frames_linux" "$@" ;;
    sse2) wine "$frames_windows" "$@" | tr -d '\r' ;;
    scalar) TOVIX_NO_SSE2=1 wine "$frames_windows" "$@" | tr -d '\r' ;;
    i686sse2) TOVIX_NO_SSE2=0 "$frames_i686" "$@" ;;
    i686scalar) TOVIX_NO_SSE2=1 "$frames_i686" "$@" ;;
    esac
}
for run in $builds; do
    run_build "${run%%:*}" run frames 1 >"${run%%:*}.txt"
done

failed=0
# The kernels each run used: the second field of every line.
for run in $builds; do
    file=${run%%:*} kernels=${run##*:}
    if awk -v k="$kernels" '$2 != k { bad = 1 } END { exit !bad }' "$file.txt"; then
        echo "the $file run did not use the $kernels kernels:"
        cat "$file.txt"
        failed=1
    fi
done
# Name, frame digest and output digest must agree line by line.
digests() { awk '{ print $1, $3, $4 }' "$1"; }
for run in $builds; do
    file=${run%%:*}
    [ "$file" = native ] && continue
    if ! diff <(digests native.txt) <(digests "$file.txt") >"$file.diff"; then
        echo "$file gives other bytes than Linux x86-64 (< Linux x86-64, > $file):"
        cat "$file.diff"
        failed=1
    fi
done
if [ "$failed" = 0 ]; then
    where="on Linux and under Wine with the SSE2 and the scalar kernels"
    [ -n "$frames_i686" ] && where="$where, and on 32-bit Linux with either"
    echo "the same bytes $where:" $(awk '{ print $1 }' native.txt)
fi

# The times: in rounds, each frame on Linux, then under Wine with either
# kernels (and on 32-bit Linux), a share of the runs each time, so that the
# machine's other work weighs on all alike: rounds of three runs, up to 15
# (fewer when there are fewer runs). A busy spell of the machine lasts
# seconds; in longer rounds it fell on one build's runs of a frame and moved
# that build's median by a third.
if [ "$runs" -gt 1 ]; then
    rounds=$(((runs + 2) / 3))
    [ "$rounds" -gt 15 ] && rounds=15
    share=$(((runs + rounds - 1) / rounds))
    for round in $(seq "$rounds"); do
        for frame in $(awk '$1 != "sequence" { print $1 }' native.txt); do
            for run in $builds; do
                run_build "${run%%:*}" run frames "$share" "$frame" >>"${run%%:*}-times.txt"
            done
        done
    done
    echo
    echo "quantiser, median of $((rounds * share)) runs (fastest in brackets), milliseconds:"
    python3 "$here/time_table.py" $(for run in $builds; do echo "${run%%:*}-times.txt"; done)
fi

if [ -n "$osd_rounds" ]; then
    wine_register_card "$windows_build" >/dev/null
    mkdir -p osd-linux osd-wine
    (cd osd-linux && "$linux_build/tests/wine/osd_timing" "$linux_build/lib" ../frames "$osd_rounds" >times.txt)
    (cd osd-wine && wine "$windows_build/bin/osd_timing.exe" "" ../frames "$osd_rounds" | tr -d '\r' >times.txt)
    echo
    echo "OSD frame path (updateOSD; library: processOsdImage, the library's own part of the"
    echo "highlight's path), median of $osd_rounds calls (fastest in brackets), milliseconds:"
    for series in highlight screens library; do
        linux=$(grep "^osd-$series " osd-linux/times.txt)
        wine=$(grep "^osd-$series " osd-wine/times.txt)
        awk -v s="$series" -v l="$linux" -v w="$wine" 'BEGIN {
            split(l, a, /[= ]+/); split(w, b, /[= ]+/)
            printf "%-10s Linux %7.2f (%6.2f)  Wine %7.2f (%6.2f) %5.2fx\n", s, a[3], a[5], b[3], b[5], b[3] / a[3] }'
    done
fi
exit "$failed"
