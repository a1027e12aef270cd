#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer, the whole project instrumented) in build/fuzz
# and runs each for a bounded time from its committed seed corpus.
#
# usage: fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]
#   SECONDS_PER_TARGET  defaults to 60
#   TARGET              fuzz_update_osd, fuzz_osd_image, fuzz_setup_modes,
#                       fuzz_lookup_mode, fuzz_config_player, fuzz_load,
#                       fuzz_natives, fuzz_stream
#                       (all by default)
#
# Inputs found on the way go to build/fuzz/corpus/TARGET, never into the
# committed seeds; a crash leaves its input in build/fuzz/findings/TARGET and
# fails the run. Turn every finding into a regression test under tests/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
seconds=${1:-60}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(fuzz_update_osd fuzz_osd_image fuzz_setup_modes fuzz_lookup_mode
             fuzz_config_player fuzz_load fuzz_natives fuzz_stream)
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTOVIX_FUZZ=ON -DTOVIX_SANITIZE=ON -DTOVIX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target "${targets[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
passed=0
failed=0
summary=()
for t in "${targets[@]}"; do
    work=$build/work/$t
    corpus=$build/corpus/$t
    findings=$build/findings/$t
    rm -rf "$work"
    mkdir -p "$work" "$corpus" "$findings"
    echo "== $t: $seconds s"
    # The library writes its logs into the working directory.
    if (cd "$work" && "$build/fuzz/$t" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 \
            -print_final_stats=1 -artifact_prefix="$findings/" \
            "$corpus" "$root/fuzz/corpus/$t" >"$work/fuzz.log" 2>&1); then
        result=ok
        passed=$((passed + 1))
    else
        result=FAILED
        failed=$((failed + 1))
        status=1
        tail -n 60 "$work/fuzz.log"
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/fuzz.log" | tail -n 1)
    summary+=("$t: ${runs:-?} executions in $seconds s: $result")
done
echo "== fuzz summary"
printf '%s\n' "${summary[@]}"
echo "fuzz: $passed passed, $failed failed"
exit $status
