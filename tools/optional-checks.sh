#!/usr/bin/env bash
# Tells which optional checks the last `make check` ran, and why any did not:
# those that need a tool the machine may lack. Reads the results each ctest
# run left in BUILD_DIR/ctest-results.xml.
#
# usage: tools/optional-checks.sh BUILD_DIR...
set -u

# name of the check | its tests | what its absence from every build means
checks=(
    "Windows DLLs built, exports checked|windows_dll_build windows_dll_exports windows_dll_instructions|not registered: mingw-w64 (g++-mingw-w64-i686) is not installed"
    "Wine session against the DLLs|wine_session|not registered: mingw-w64 (g++-mingw-w64-i686) is not installed"
    "DLL's quantiser under Wine|wine_quantizer|not registered: mingw-w64 (g++-mingw-w64-i686) is not installed"
    "timed scenarios, Linux against Wine|wine_scenarios|not registered: mingw-w64 (g++-mingw-w64-i686) is not installed"
    "Windows package reproducible, XP imports only|windows_package windows_package_imports windows_xp_imports_list windows_package_checks_catch|not registered: mingw-w64 (g++-mingw-w64-i686) is not installed"
    "tovixdiag.exe under Wine|wine_diag|not registered: mingw-w64 (g++-mingw-w64-i686) is not installed"
    "valgrind over a whole session|valgrind_session|not registered: valgrind is not installed"
    "demo report in headless Chromium|jvm_demo_report_browser|not registered"
    "include layering of src/|include_layering|not registered: python3 is not installed"
    "format of the C++ and Java|format|not registered: clang-format is not installed"
    "streams that ffmpeg writes|SystemStream.StreamsThatFfmpegWritesAreReadAsTheyAre|not registered"
    "screens against ffmpeg's decode|Streams/ScreenPicture.MatchesFfmpegsDecodeOfTheFrameAtThePosition/Mpeg2ProgramStream Streams/ScreenPicture.MatchesFfmpegsDecodeOfTheFrameAtThePosition/Mpeg1SystemStream|not registered"
)

# One line per test case of the results files: name, status (run or
# notrun), whether it failed, and the first line it printed.
results() {
    for build in "$@"; do
        [ -f "$build/ctest-results.xml" ] || continue
        awk '
            /<testcase / {
                match($0, /name="[^"]*"/); name = substr($0, RSTART + 6, RLENGTH - 7)
                match($0, /status="[^"]*"/); status = substr($0, RSTART + 8, RLENGTH - 9)
                failed = 0; said = ""; inout = 0
            }
            /<failure/ { failed = 1 }
            /<system-out>/ { inout = 1; sub(/.*<system-out>/, ""); }
            inout && said == "" && $0 != "" && $0 !~ /<\/system-out>/ { said = $0 }
            /<\/testcase>/ { print name "\t" status "\t" failed "\t" said }
        ' "$build/ctest-results.xml"
    done
}

table=$(results "$@")
if [ -z "$table" ]; then
    echo "optional-checks: no test results in $*: run make check" >&2
    exit 1
fi
skipped=0
echo
echo "Optional checks:"
for entry in "${checks[@]}"; do
    IFS='|' read -r what tests absent <<<"$entry"
    verdict=""
    for t in $tests; do
        line=$(grep -P "^$t\t" <<<"$table" | head -1)
        [ -n "$line" ] || continue
        IFS=$'\t' read -r _ status failed said <<<"$line"
        if [ "$failed" = 1 ]; then
            verdict="FAILED"
        elif [ "$status" = notrun ] && [ "$verdict" != FAILED ]; then
            verdict="skipped: ${said:-no reason given}"
        elif [ -z "$verdict" ]; then
            verdict="ran"
        fi
    done
    [ -n "$verdict" ] || verdict=$absent
    case $verdict in ran | FAILED) ;; *) skipped=$((skipped + 1)) ;; esac
    printf '  %-36s %s\n' "$what" "$verdict"
done
if [ $skipped -gt 0 ]; then
    echo "  ($skipped skipped: tools/install-packages.sh check installs what they need)"
fi
