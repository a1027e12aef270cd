#!/usr/bin/env bash
# The demo as a newcomer runs it: a short session that must exit 0, print
# its summary, write its report and leave a plug-in log with the lines of a
# whole session; a session with setting values the library refuses and a
# file that does not play, which must name both and exit non-zero; and bad
# input that must end in a clear message and a non-zero exit, never a stack
# trace.
#
# usage: demo-test.sh WORKDIR BUILD_DIR SOURCE_DIR
set -u
if [ $# -ne 3 ]; then
    echo "usage: $0 WORKDIR BUILD_DIR SOURCE_DIR" >&2
    exit 2
fi
work=$1
build=$2
source=$3
run=$source/host/demo/run-demo.sh
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

expect_in() { # FILE PATTERN WHAT
    grep -E -q -- "$2" "$1" || fail "$3 (no line matching '$2' in $(basename "$1"))"
}

rm -rf "$work"
mkdir -p "$work" || exit 2
cd "$work" || exit 2

# ---- A whole session ----
"$run" "$build" --settings "$source/host/demo/demo.properties" --out "$work/out" --frames 2 \
    >session.txt 2>&1
status=$?
cat session.txt
[ $status -eq 0 ] || fail "the session exited with status $status"
expect_in session.txt '^Summary$' "the summary is printed"
expect_in session.txt 'OSD frames sent +6 \(library time per frame: median [0-9.]+ ms, worst [0-9.]+ ms\)' \
    "frames and timing"
expect_in session.txt 'quantisation error +PSNR' "the quantisation error"
expect_in session.txt 'playback states' "the playback states"
expect_in session.txt 'report +.*/out/report.html' "where the report is"
expect_in session.txt 'log problems +none$' "a whole session leaves no error or refusal in the plug-in log"
expect_in session.txt 'openOSD +-> true  \(card: TV, NTSC, YUV; aspect WIDE; HD mode 4; VGA mode 2; audio SPDIF\)' \
    "the card's registers by name"
expect_in session.txt 'OSD snapshots +.*\(6 PNG' "one snapshot per frame"
grep -q 'Exception' session.txt && fail "the session printed an exception"

report=$work/out/report.html
if [ -f "$report" ]; then
    expect_in "$report" '<svg' "the timeline chart"
    expect_in "$report" 'data:image/png;base64,' "frames inline as PNG"
    expect_in "$report" 'tovix/output' "the settings used"
    expect_in "$report" '<p>Played: the recording recording.mpg.*then the finished file finished.mpg' \
        "the report names what was played"
    expect_in "$report" 'id="light"' "the checkerboard switch"
    expect_in "$report" '<h2>What the TV showed</h2>' "the strip of screens"
    expect_in "$report" '<b>[0-9]+ seek</b> \(recording\)<br>position 2\.0[0-9]+ s, picture at 2\.0' \
        "the screen after the seek shows the recording's picture at 2 s"
    grep -q '<body class="light"' "$report" && fail "the light checkerboard is the default"
    grep -q -E '(src|href)="(https?:)?//' "$report" && fail "the report fetches something from the network"
else
    fail "no report.html"
fi
ls "$work"/out/snapshots/*.png >/dev/null 2>&1 || fail "no OSD snapshots"
ls "$work"/out/screens/[0-9][0-9]-seek.png >/dev/null 2>&1 || fail "no screen after the seek"
[ -f "$work/out/dshow_log.txt" ] || fail "no graph log in the output folder"

log=$(ls "$work"/out/tovix_log_*.txt 2>/dev/null | head -1)
if [ -n "$log" ]; then
    expect_in "$log" '^###  Quen Version: Demo host 1.0 +###$' "the banner names the host"
    expect_in "$log" '<TOVIXAPI>: openOSD$' "openOSD"
    expect_in "$log" "<getProperty>: About to call java getProepty with args: 'tovix/connector', 'COMPOSITE'" \
        "the settings are read"
    expect_in "$log" "<getProperty>: Got back: 'YUV'" "the connector setting's value"
    expect_in "$log" '<configPlayer>: Logging WILL be verbose.' "the verbose switch"
    expect_in "$log" '<setupTovixOsd>: Found OSD for Tovix: .+' "the OSD is found"
    expect_in "$log" "<TOVIXAPI>: load shifted=true maj=1 min=31 hint='MPEG2-PS' file='.*recording.mpg' host='localhost'" \
        "the time-shifted load"
    expect_in "$log" '<logGraph>: ##                      Filter Graph                          ##$' "the graph dump"
    expect_in "$log" '<logFilter>: FILTER 1: ' "the graph's filters"
    expect_in "$log" '<TOVIXAPI>: inactiveFile$' "inactiveFile"
    expect_in "$log" '<updateState>: Received media event 1\(' "the recording plays to its end"
    expect_in "$log" '<releaseTovixPlayer>: After filters release... ...and done.$' "the player's tear-down"
    expect_in "$log" '<TOVIXAPI>: closeOSD$' "closeOSD"
else
    fail "no plug-in log in the output folder"
fi

# ---- Setting values refused, a file that does not play ----
# An MPEG-1 system stream's pack header and nothing after it: the library
# finds no duration in it, and the run must say so and fail.
printf '\x00\x00\x01\xba\x21\x00\x01\x00\x01\x80\x00\x01' >mpeg1.mpg
sed -e 's|^tovix/output=.*|tovix/output=BANANA|' -e 's|^tovix/aspect=.*|tovix/aspect=42|' \
    -e 's|^tovix/connector=.*|tovix/connector=|' "$source/host/demo/demo.properties" >bad.properties
# Outputs of an earlier run, which the session must remove.
mkdir -p "$work/failed/snapshots"
touch "$work/failed/recording.mpg" "$work/failed/report.html" "$work/failed/snapshots/osd_0099.png"
"$run" "$build" --settings bad.properties --out "$work/failed" --frames 1 --media mpeg1.mpg >failed.txt 2>&1
status=$?
cat failed.txt
[ $status -eq 1 ] || fail "a file without duration: exit status $status, not 1"
expect_in failed.txt "^demo: FAILED: .*mpeg1.mpg \(MPEG-1 system stream\): the library reports no duration" \
    "a file without duration fails the run"
expect_in failed.txt "setting +tovix/output='BANANA' not accepted by the library; the card got VGA" \
    "an output the library refused, and what the card got"
expect_in failed.txt "setting +tovix/connector='' not accepted by the library; the card got COMPOSITE" \
    "an empty connector"
expect_in failed.txt "setting +tovix/aspect='42' not accepted by the library; the card got ASIS" \
    "an aspect the library refused"
expect_in failed.txt 'log problems +3 setting values not taken' "the plug-in log's complaints are counted"
expect_in failed.txt "^ +[0-9:]+ - <setupModes>: Unknown tovix/output mode 'BANANA'" "and quoted"
grep -q 'Exception' failed.txt && fail "the failed session printed an exception"
[ -e "$work/failed/recording.mpg" ] && fail "an earlier run's recording.mpg is left in the output folder"
[ -e "$work/failed/snapshots/osd_0099.png" ] && fail "an earlier run's snapshot is left in the output folder"
expect_in "$work/failed/report.html" 'class="failed">FAILED: .*no duration' "the report shows the failure"
expect_in "$work/failed/report.html" '<p>Played: your file .*mpeg1.mpg \(MPEG-1 system stream' \
    "the report names the user's file"

# ---- Bad input ----
bad() { # WHAT EXPECTED-MESSAGE ARGS...
    local what=$1 message=$2
    shift 2
    "$run" "$build" "$@" >bad.txt 2>&1
    local s=$?
    [ $s -ne 0 ] || fail "$what: exit status 0"
    grep -q -E -- "$message" bad.txt || { fail "$what: no message matching '$message'"; cat bad.txt; }
    grep -q -E 'Exception|^\s+at ' bad.txt && { fail "$what: a stack trace"; cat bad.txt; }
}
touch a-file
bad "an unknown option" "unknown option '--colour'" --colour
bad "a missing settings file" "settings file not found: .*nowhere.properties" --settings nowhere.properties
bad "a missing media file" "media file not found: .*nowhere.mpg" --media nowhere.mpg
echo "not a stream" >not-a-stream.mpg
bad "a media file that is no program stream" "is not an MPEG program stream" --media not-a-stream.mpg
bad "an image that is no picture" "is not a picture" --image not-a-stream.mpg
bad "an output folder that is a file" "is a file, not a folder" --out a-file
bad "an output folder that cannot be made" "cannot create or write the output folder" --out a-file/below
bad "a frame count that is not a number" "--frames takes a whole number" --frames many
bad "an option without its value" "needs a value" --out

"$run" "$build" --help >help.txt 2>&1 || fail "--help exits non-zero"
expect_in help.txt '^usage: demo ' "--help shows the usage"

if [ $failures -ne 0 ]; then
    echo "demo-test: $failures checks failed"
    exit 1
fi
echo "demo-test: all checks passed"
