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
# finds no duration in it, and the run must say so and fail. The settings
# hold values the library refuses and values it takes without a word: a VGA
# output (from BANANA) whose mode the card's profile lacks, an HD mode it
# lacks too, a switch that is neither on nor off, a key it never reads.
printf '\x00\x00\x01\xba\x21\x00\x01\x00\x01\x80\x00\x01' >mpeg1.mpg
sed -e 's|^tovix/output=.*|tovix/output=BANANA|' -e 's|^tovix/aspect=.*|tovix/aspect=42|' \
    -e 's|^tovix/connector=.*|tovix/connector=|' -e 's|^tovix/hdmode=.*|tovix/hdmode=99|' \
    -e 's|^tovix/vgamode=.*|tovix/vgamode=-3|' -e 's|^tovix/verbose_log=.*|tovix/verbose_log=1|' \
    "$source/host/demo/demo.properties" >bad.properties
echo 'tovix/colour=blue' >>bad.properties
# Outputs of an earlier run, which the session must remove, as its list
# names them; a file it did not list, and a listed name outside its
# outputs, stay.
mkdir -p "$work/failed/snapshots"
touch "$work/failed/recording.mpg" "$work/failed/report.html" "$work/failed/snapshots/osd_0099.png" \
    "$work/failed/snapshots/osd_0098.png" "$work/failed/notes.txt" "$work/kept.mpg"
printf 'recording.mpg\nsnapshots/osd_0099.png\nnotes.txt\n../kept.mpg\n' >"$work/failed/.demo-outputs"
# Run from another folder: the relative paths are taken from --base.
mkdir -p elsewhere
(cd elsewhere && "$run" "$build" --base "$work" --settings bad.properties --out failed --frames 1 \
    --media mpeg1.mpg) >failed.txt 2>&1
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
expect_in failed.txt 'log problems +4 setting values not taken' "the plug-in log's complaints are counted"
expect_in failed.txt "^ +[0-9:]+ - <setupModes>: Unknown tovix/output mode 'BANANA'" "and quoted"
expect_in failed.txt "setting +tovix/vgamode='-3' is not a mode of the card's profile \(section Progressive; its modes: 0 \(VGA 640 480\), 1 \(SVGA 800 600\)" \
    "a VGA mode the profile lacks, named from the plug-in log, with the modes it has"
expect_in "$(ls "$work"/failed/tovix_log_*.txt | head -1)" \
    "<determineDimensions>: tovix/vgamode -3 has no mode description in section Progressive" \
    "the plug-in log names the key behind the mode description it could not read"
grep -q -E 'Could not parse mode description: $' failed.txt && fail "an empty mode description quoted without its key"
expect_in failed.txt "setting +tovix/hdmode='99' is not a mode of the card's profile \(section HDTV; its modes: 0 \(480p 720 480\)" \
    "an HD mode the profile lacks, which the library takes without a word"
expect_in failed.txt "setting +tovix/verbose_log='1' is neither true nor false; the library reads it as off" \
    "a switch that is neither on nor off"
expect_in failed.txt "setting +tovix/colour='blue' is not a setting the library reads" "an unknown key"
expect_in failed.txt 'settings not taken +7 \(4 named in the plug-in log; 3 the library takes without a word' \
    "the settings not taken agree with the log's count, or say why not"
expect_in failed.txt "outputs in +$work/failed\$" "where the outputs went, taken from --base"
grep -q 'Exception' failed.txt && fail "the failed session printed an exception"
[ -e "$work/failed/recording.mpg" ] && fail "an earlier run's recording.mpg is left in the output folder"
[ -e "$work/failed/snapshots/osd_0099.png" ] && fail "an earlier run's snapshot is left in the output folder"
[ -e "$work/failed/snapshots/osd_0098.png" ] || fail "a snapshot the earlier run did not list was removed"
[ -e "$work/failed/notes.txt" ] || fail "a listed file that is no output of the demo was removed"
[ -e "$work/kept.mpg" ] || fail "a listed file outside the output folder was removed"
expect_in "$work/failed/report.html" 'class="failed">FAILED: .*no duration' "the report shows the failure"
expect_in "$work/failed/report.html" '<p>Played: nothing.</p>' "a failed run played nothing"
expect_in "$work/failed/report.html" '<p>Not played: your file .*mpeg1.mpg \(MPEG-1 system stream' \
    "the report names the user's file as not played"
expect_in "$work/failed/report.html" 'restored the output flags it found on the card' \
    "the card table says why the output flags went back after closeOSD"

# ---- An OSD scaled to an HD screen ----
# 720x480 frames on a 720x576 screen: the quantiser's error is reported
# apart from the scaled picture's (the guide's 10 colours pass the quantiser
# exactly; scaled by rows, they do not).
sed -e 's|^tovix/output=.*|tovix/output=HDTV|' -e 's|^tovix/hdmode=.*|tovix/hdmode=1|' \
    -e 's|^tovix/scale_osd=.*|tovix/scale_osd=true|' "$source/host/demo/demo.properties" >hd.properties
"$run" "$build" --settings hd.properties --out "$work/hd" --frames 1 --media mpeg1.mpg >hd.txt 2>&1
expect_in hd.txt 'guide +720x480, 10 colours -> true .*card shows 720x576 \(scaled\), PSNR exact, scaled picture [0-9.]+ dB' \
    "a scaled frame: the quantiser's error and the scaled picture's"
expect_in hd.txt 'quantisation error +PSNR mean [0-9.]+ dB, worst [0-9.]+ dB over 3 frames; 2 frames shown exactly; scaled to the screen: PSNR mean' \
    "the summary gives the quantiser's error apart from the scaled pictures'"
expect_in "$work/hd/report.html" '<br>HDTV mode 1 \(576p\) 720x576</figcaption>' \
    "the screens at the HD mode's size"

# ---- The user's files are never removed ----
# An earlier session's outputs given as input are refused before anything
# is removed, followed through a symbolic link too.
ln -sf "$work/out/finished.mpg" link.mpg
for input in "--media $work/out/recording.mpg" "--media link.mpg" "--image $work/out/snapshots/osd_0001.png" \
    "--settings $work/out/report.html"; do
    # shellcheck disable=SC2086
    "$run" "$build" --out "$work/out" $input >own.txt 2>&1
    s=$?
    [ $s -eq 2 ] || fail "an output given as input ($input): exit status $s, not 2"
    expect_in own.txt "is one of the demo's outputs in $work/out, which this run replaces" \
        "an output given as input is refused ($input)"
done
[ -s "$work/out/recording.mpg" ] && [ -s "$work/out/finished.mpg" ] && [ -s "$work/out/report.html" ] ||
    fail "the earlier session's outputs were removed although the run was refused"

# ---- Video the card cannot decode ----
# H.264 in an MPEG-2 program stream: the card decodes MPEG-1 and MPEG-2 video
# only, and the run must say that the file's video is not MPEG.
if command -v ffmpeg >/dev/null && ffmpeg -loglevel error -f lavfi -i testsrc2=size=720x576:rate=25 -t 1 \
    -c:v libx264 -f vob h264.mpg </dev/null; then
    "$run" "$build" --out "$work/h264" --frames 1 --media h264.mpg >h264.txt 2>&1
    s=$?
    cat h264.txt
    [ $s -eq 1 ] || fail "H.264 video: exit status $s, not 1"
    expect_in h264.txt "media +playing your file .*h264.mpg \(MPEG-2 program stream, [0-9]+ bytes, its video is not MPEG video" \
        "the file's video is named as not MPEG before it is played"
    expect_in h264.txt "^demo: FAILED: .*h264.mpg .*its video is not MPEG video" "and in the failure"
    expect_in h264.txt "<buildGraph>: Cannot connect demux filter video out pin to decoder filter" \
        "the simulated decoder refuses the video"
else
    echo "demo-test: no ffmpeg with libx264: the H.264 case is not run"
fi

# ---- Bad input ----
bad() { # WHAT EXPECTED-MESSAGE ARGS...
    local what=$1 message=$2
    shift 2
    "$run" "$build" "$@" >bad.txt 2>&1
    local s=$?
    [ $s -eq 2 ] || fail "$what: exit status $s, not 2"
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
mkdir -p a-folder
bad "a folder as media" "media file is a directory, not a file: .*a-folder" --media a-folder
bad "a folder as image" "image is a directory, not a file: .*a-folder" --image a-folder
bad "a folder as settings" "settings file is a directory, not a file: .*a-folder" --settings a-folder
: >empty.mpg
bad "an empty media file" "media file is empty: .*empty.mpg" --media empty.mpg
printf '\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR=1\nkey=\x01\n' >junk.properties
bad "a settings file of binary junk" "settings file is not a text .properties file \(byte 0x1A at offset 6\)" \
    --settings junk.properties
bad "an output folder that is a file" "is a file, not a folder" --out a-file
bad "an output folder that cannot be made" "cannot create or write the output folder" --out a-file/below
bad "a frame count that is not a number" "--frames takes a whole number" --frames many
bad "an option without its value" "needs a value" --out

"$run" "$build" --help >help.txt 2>&1 || fail "--help exits non-zero"
expect_in help.txt '^usage: demo ' "--help shows the usage"
expect_in help.txt 'default: build/default/demo-out under make demo' "--help names make demo's output folder"

# ---- What make runs ----
# The README's commands: make demo takes the user's paths from the folder
# it was started in; make osdquant builds the tool.
make -s -n -C "$source" demo >make-demo.txt 2>&1
expect_in make-demo.txt "--base $source " "make demo passes the folder it was started in"
make -s -n -C "$source" osdquant >make-osdquant.txt 2>&1
expect_in make-osdquant.txt "--target osdquant" "make osdquant builds the tool"

if [ $failures -ne 0 ]; then
    echo "demo-test: $failures checks failed"
    exit 1
fi
echo "demo-test: all checks passed"
