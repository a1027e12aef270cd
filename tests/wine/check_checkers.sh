#!/usr/bin/env bash
# The checks of the Windows package catch what they are there to catch: an
# import missing from the list of what Windows XP exports, a function newer
# than Windows XP in that list, a README that no longer matches the
# settings and log lines of the library, SSE2 code where a processor
# without it may run, and a quantiser kernel that realigns its stack (or an
# entry point that does not).
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

# SSE2 in a function that a processor without SSE2 may run, SSE outside the
# quantiser, and no SSE2 build at all, in what objdump shows of a DLL.
printf '%s\n' \
    '10001000 <tovixquant::NearestSearch::scan(tovixquant::Premul const&, int) const>:' \
    $'10001000:\tpaddd  %xmm1,%xmm0' \
    '10001010 <tovixquant_scalar::NearestSearch::second(tovixquant_scalar::Premul const&, int)>:' \
    $'10001010:\tsqrtss %xmm1,%xmm0' \
    '10001020 <std::vector<unsigned char, std::allocator<unsigned char> >::_M_default_append(unsigned int)>:' \
    $'10001020:\tmovdqu %xmm0,(%eax)' >"$work/vector-sse2.txt"
must_fail "^FAILED: std::vector<unsigned char.*: SSE2 outside the SSE2 build \(movdqu" \
    python3 "$here/instruction_check.py" --disassembly "$work/vector-sse2.txt"
sed 's/movdqu/movups/' "$work/vector-sse2.txt" >"$work/vector-sse.txt"
must_fail "^FAILED: std::vector<unsigned char.*: SSE outside the quantiser" \
    python3 "$here/instruction_check.py" --disassembly "$work/vector-sse.txt"
sed 's/paddd  %xmm1,%xmm0/addl %eax,%ebx/; /movdqu/d' "$work/vector-sse2.txt" >"$work/no-sse2.txt"
must_fail "^FAILED: no function of the SSE2 build uses SSE2" \
    python3 "$here/instruction_check.py" --disassembly "$work/no-sse2.txt"

# The quantiser's stack: realigned by its entry points, by no kernel.
entry() { printf '%s\n' "1000${3}000 <$1::(anonymous namespace)::$2(void*)>:" "1000${3}000:"$'\tand    $0xfffffff0,%esp'; }
{
    entry tovixquant create 1
    entry tovixquant process 2
    entry tovixquant_scalar create 3
    entry tovixquant_scalar process 4
    printf '%s\n' '10005000 <tovixquant::Histogram::build(_OsdColor const*, unsigned int, int, unsigned int*)>:' \
        $'10005000:\tand    $0xfffffff0,%esp' $'10005003:\tpaddd  %xmm1,%xmm0'
} >"$work/kernel-realigns.txt"
must_fail "^FAILED: tovixquant::Histogram::build.*: a kernel realigns its stack frame" \
    python3 "$here/instruction_check.py" --disassembly "$work/kernel-realigns.txt"
sed '/^10002000:/d' "$work/kernel-realigns.txt" >"$work/entry-unaligned.txt"
must_fail "^FAILED: tovixquant::\(anonymous namespace\)::process\(.*does not realign the stack" \
    python3 "$here/instruction_check.py" --disassembly "$work/entry-unaligned.txt"

[ "$failed" = 0 ] && echo "the import list, the header check, the README check, the instruction check and the stack check each caught their fault"
exit "$failed"
