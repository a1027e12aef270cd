#!/usr/bin/env bash
# The timed host scenarios under Wine, compared with the same on Linux.
#
# In a fresh Wine prefix of its own: registers tovixsim.dll, then runs
# tovix_scenarios.exe against TovixAPI.dll (Wine's COM runtime and graph
# manager, the card's components from tovixsim.dll) and, at the same time,
# the same scenarios natively against libTovixAPI.so, once with each clock
# model of the simulated card's decoder (one that follows what the decoder
# presents, as tovixsim.dll's does, and none). The runs spend their time
# waiting for the next poll, so they share the machine without crowding each
# other. compare_scenarios.py checks each run for soundness and compares
# each Linux run with the Wine run; Wine's own gaps from Windows are listed,
# with their reasons, in known_gaps_scenarios.txt.
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
models=(follows none)
wine_boot "$windows_build/wineboot-scenarios.txt"
wine_register_card "$windows_build"

# One run of every scenario in each world, then the comparison.
run_and_compare() {
    rm -rf "$work"
    mkdir -p "$work/wine" "${models[@]/#/$work/linux-}"
    echo "--- the scenarios under Wine and on Linux (decoder clock: ${models[*]})"
    # Wine's media parser complains on stderr about GStreamer's missing 32-bit
    # plug-ins at every RenderFile; that goes to a file of its own.
    (cd "$work/wine" && wine "$windows_build/bin/tovix_scenarios.exe" "" transcript.txt masked.log "$@" \
        2>stderr.txt) &
    local runs=($!)
    for model in "${models[@]}"; do
        (cd "$work/linux-$model" &&
            "$linux_scenarios" "$linux_lib" transcript.txt masked.log --decoder-clock "$model" "$@" \
            2>stderr.txt) &
        runs+=($!)
    done
    local failed=0
    for run in "${runs[@]}"; do
        wait "$run" || failed=1
    done
    if [ "$failed" = 1 ]; then
        for run in "$work"/wine "${models[@]/#/$work/linux-}"; do
            echo "--- $run/stderr.txt"
            grep -v GStreamer "$run/stderr.txt" | grep . || true
        done
        return 2
    fi
    python3 "$here/compare_scenarios.py" "$here/known_gaps_scenarios.txt" "$here/known_differences.sed" \
        "$work/wine" "${models[@]/#/$work/linux-}"
}

# The short form allows Wine's side one late poll too many: on a machine
# busy with other work, Wine's real-time answers (a seek, a free) can be a
# few hundred milliseconds late. A difference is then run again from the
# start, and only a difference that comes back fails; the first is printed
# above either way. A scenario that crashes or fails on its own is never
# run again. The long form (make soak) gets no second run.
status=0
run_and_compare "$@" || status=$?
if [ "$status" = 1 ] && [[ " $* " != *" --long "* ]]; then
    echo "--- the comparison above differed; running the scenarios once more to tell a busy machine from a fault"
    status=0
    run_and_compare "$@" || status=$?
fi
exit "$status"
