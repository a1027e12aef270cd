#!/usr/bin/env bash
# The demo as a newcomer runs it: a short session that must exit 0, print
# its summary, write its report and leave a plug-in log with the lines of a
# whole session; and bad input that must end in a clear message and a
# non-zero exit, never a stack trace.
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
expect_in session.txt 'OSD frames sent +5 \(median [0-9.]+ ms, worst [0-9.]+ ms per frame\)' "frames and timing"
expect_in session.txt 'quantisation error +PSNR' "the quantisation error"
expect_in session.txt 'playback states' "the playback states"
expect_in session.txt 'report +.*/out/report.html' "where the report is"
grep -q 'Exception' session.txt && fail "the session printed an exception"

report=$work/out/report.html
if [ -f "$report" ]; then
    expect_in "$report" '<svg' "the timeline chart"
    expect_in "$report" 'data:image/png;base64,' "frames inline as PNG"
    expect_in "$report" 'tovix/output' "the settings used"
    grep -q -E '(src|href)="(https?:)?//' "$report" && fail "the report fetches something from the network"
else
    fail "no report.html"
fi
ls "$work"/out/snapshots/*.png >/dev/null 2>&1 || fail "no OSD snapshots"
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
bad "a media file that is no program stream" "is not an MPEG-2 program stream" --media not-a-stream.mpg
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
