#!/usr/bin/env bash
# The checks of the Windows package catch what they are there to catch: an
# import missing from the list of what Windows XP exports, a function newer
# than Windows XP in that list, and a README that no longer matches the
# settings and log lines of the library.
#
# Usage: check_checkers.sh <repository> <TovixAPI.dll> <work>
set -uo pipefail

repo=$1
dll=$2
work=$3
here=$repo/tests/wine
rm -rf "$work" && mkdir -p "$work"
failed=0

# Runs "$@", which must fail with a line matching $pattern.
must_fail() {
    local pattern=$1
    shift
    if "$@" >"$work/out.txt" 2>&1; then
        echo "FAILED: '$*' passed"
        failed=1
    elif ! grep -Eq "$pattern" "$work/out.txt"; then
        echo "FAILED: '$*' did not say '$pattern':"
        cat "$work/out.txt"
        failed=1
    fi
}

grep -v '^CloseHandle$' "$here/xp-imports.txt" >"$work/without-closehandle.txt"
must_fail "TovixAPI.dll imports KERNEL32.dll!CloseHandle" \
    python3 "$here/pe_check.py" imports "$work/without-closehandle.txt" "$dll"

printf '[KERNEL32.dll]\nGetTickCount\nGetTickCount64\n' >"$work/vista.txt"
must_fail "^FAILED: GetTickCount64 is not declared for Windows XP" \
    python3 "$here/pe_check.py" verify "$work/vista.txt" i686-w64-mingw32-gcc-posix

template=$repo/package/README-Windows.txt.in
grep -v '^@SETTING tovix/aspect@$' "$template" >"$work/no-aspect.txt.in"
must_fail "the library reads tovix/aspect, which the README does not describe" \
    python3 "$repo/package/readme.py" "$work/no-aspect.txt.in" "$repo/src"
sed 's/@LOG No OSD board found@/@LOG No OSD card found@/' "$template" >"$work/stale-log.txt.in"
must_fail 'the log line "No OSD card found" is no longer in the library' \
    python3 "$repo/package/readme.py" "$work/stale-log.txt.in" "$repo/src"

[ "$failed" = 0 ] && echo "the import list, the header check and the README check each caught their fault"
exit "$failed"
