#!/usr/bin/env bash
# The timed host scenarios under Wine, compared with the same on Linux.
#
# In a fresh Wine prefix of its own: registers tovixsim.dll, then runs
# tovix_scenarios.exe against TovixAPI.dll (Wine's COM runtime and graph
# manager, the card's components from tovixsim.dll) and, at the same time,
# the same scenarios natively against libTovixAPI.so, in each clock model of
# the simulated card's decoder (one that follows what the decoder presents,
# and none), each model once in each world: four runs at once. The runs
# spend their time waiting for the next poll, so they share the machine
# without crowding each other. compare_scenarios.py checks each run for
# soundness and compares each Linux run with the Wine run in the same model;
# Wine's own gaps from Windows are listed, with their reasons, in
# known_gaps_scenarios.txt.
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

# One run of every scenario in each world and model, then the comparison.
run_and_compare() {
    rm -rf "$work"
    local model dirs=()
    for model in "${models[@]}"; do
        dirs+=("$work/wine-$model" "$work/linux-$model")
    done
    mkdir -p "${dirs[@]}"
    echo "--- the scenarios under Wine and on Linux (decoder clock: ${models[*]})"
    local runs=()
    for model in "${models[@]}"; do
        # Wine's media parser complains on stderr about GStreamer's missing
        # 32-bit plug-ins at every RenderFile; that goes to a file of its own.
        (cd "$work/wine-$model" &&
            wine "$windows_build/bin/tovix_scenarios.exe" "" transcript.txt masked.log \
                --decoder-clock "$model" "$@" 2>stderr.txt) &
        runs+=($!)
        (cd "$work/linux-$model" &&
            "$linux_scenarios" "$linux_lib" transcript.txt masked.log --decoder-clock "$model" "$@" \
                2>stderr.txt) &
        runs+=($!)
    done
    local failed=0 run
    for run in "${runs[@]}"; do
        wait "$run" || failed=1
    done
    if [ "$failed" = 1 ]; then
        for run in "${dirs[@]}"; do
            echo "--- $run/stderr.txt"
            grep -v GStreamer "$run/stderr.txt" | grep . || true
        done
        return 2
    fi
    python3 "$here/compare_scenarios.py" "$here/known_gaps_scenarios.txt" "$here/known_differences.sed" \
        "${dirs[@]}"
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
