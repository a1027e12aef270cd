#!/usr/bin/env python3
"""Checks that a 32-bit Windows DLL runs on a processor without SSE2 until
its quantiser has asked the processor: every function that uses an SSE2
instruction belongs to the quantiser's SSE2 build (namespace tovixquant),
and every function that uses SSE at all to one of its two builds
(tovixquant or tovixquant_scalar). Everything else, the C and C++ runtimes
included, must be plain i686 code.

It also checks the quantiser's stack: 32-bit Windows aligns a caller's
stack to 4 bytes only, and the quantiser's entry points (create, process)
realign it to 16 for the kernels, which are compiled to take that alignment
as given. A kernel that realigns its own frame again loses a register to
it; an entry point that does not realign hands the kernels a stack on which
an aligned SSE store faults.

The two builds share inline functions of shared types (a std::vector of
bytes, say): the linker keeps one copy of each, and this catches the day it
keeps the one compiled for SSE2.

Usage: instruction_check.py <objdump> <file.dll>
       instruction_check.py --disassembly <objdump -d -C output>
Exit 0 when the file keeps to this, 1 when it does not, 2 on a usage error.
"""
import re
import subprocess
import sys

# The SSE instructions of a Pentium III (those on xmm registers; SSE's
# additions to MMX work on mm registers and need no check).
SSE1 = set("""
movaps movups movss movlps movhps movhlps movlhps movmskps movntps
addss subss mulss divss sqrtss maxss minss rcpss rsqrtss cmpss
addps subps mulps divps sqrtps maxps minps rcpps rsqrtps cmpps
comiss ucomiss cvtss2si cvttss2si cvtsi2ss cvtsi2ssl cvtpi2ps cvtps2pi cvttps2pi
andps andnps orps xorps shufps unpcklps unpckhps
cmpeqss cmpltss cmpless cmpunordss cmpneqss cmpnltss cmpnless cmpordss
cmpeqps cmpltps cmpleps cmpunordps cmpneqps cmpnltps cmpnleps cmpordps
""".split())
# SSE2 instructions that name no xmm register.
SSE2_WITHOUT_XMM = {"movnti", "mfence", "lfence", "clflush"}

FUNCTION = re.compile(r"^[0-9a-f]+ <(.*)>:$")


def classify(lines):
    """Maps each function to the set {"sse", "sse2"} of what it uses, with
    one example instruction of SSE2 per function."""
    uses, example, current = {}, {}, None
    for line in lines:
        m = FUNCTION.match(line)
        if m:
            current = m.group(1)
            continue
        parts = line.split("\t")
        if current is None or len(parts) < 2:
            continue
        instruction = parts[-1].strip()
        mnemonic = instruction.split(" ")[0]
        kind = None
        if "%xmm" in instruction:
            kind = "sse" if mnemonic in SSE1 else "sse2"
        elif mnemonic in SSE2_WITHOUT_XMM:
            kind = "sse2"
        if kind:
            uses.setdefault(current, set()).add(kind)
            if kind == "sse2":
                example.setdefault(current, instruction)
    return uses, example


# `and $-16, %esp` or `and $-8, %esp`: the function realigns its frame.
REALIGN = re.compile(r"\band +\$0xfffffff[08],%esp")
ENTRY = re.compile(r"^tovixquant(_scalar)?::\(anonymous namespace\)::"
                   r"(create|destroy|process|set[A-Za-z]+)\(")
MUST_REALIGN = ("create", "process")


def realigning(lines):
    """The set of functions that realign their stack frame."""
    found, current = set(), None
    for line in lines:
        m = FUNCTION.match(line)
        if m:
            current = m.group(1)
        elif current is not None and REALIGN.search(line):
            found.add(current)
    return found


def stack_problems(lines):
    realign = realigning(lines)
    problems = []
    for function in sorted(realign):
        quantiser = function.startswith(("tovixquant::", "tovixquant_scalar::"))
        if quantiser and not ENTRY.match(function):
            problems.append(f"{function}: a kernel realigns its stack frame")
    for build in ("tovixquant", "tovixquant_scalar"):
        for name in MUST_REALIGN:
            prefix = f"{build}::(anonymous namespace)::{name}("
            if not any(f.startswith(prefix) for f in realign):
                problems.append(f"{prefix}...): the entry point does not realign the stack")
    return problems


def check(lines):
    uses, example = classify(lines)
    problems = stack_problems(lines)
    for function, kinds in sorted(uses.items()):
        sse2_build = "tovixquant::" in function
        scalar_build = "tovixquant_scalar::" in function
        if "sse2" in kinds and not sse2_build:
            problems.append(f"{function}: SSE2 outside the SSE2 build ({example[function]})")
        elif not sse2_build and not scalar_build:
            problems.append(f"{function}: SSE outside the quantiser")
    if not any("sse2" in k and "tovixquant::" in f for f, k in uses.items()):
        problems.append("no function of the SSE2 build uses SSE2: is the build still there?")
    for p in problems:
        print("FAILED: " + p)
    if not problems:
        sse2 = sum(1 for k in uses.values() if "sse2" in k)
        print(f"SSE2 in {sse2} functions, all of the quantiser's SSE2 build; SSE in "
              f"{len(uses) - sse2} more, all of the quantiser; the stack realigned by "
              "the quantiser's entry points alone")
    return 1 if problems else 0


def main(argv):
    if len(argv) == 3 and argv[1] == "--disassembly":
        with open(argv[2]) as f:
            return check(f.read().splitlines())
    if len(argv) == 3:
        out = subprocess.run([argv[1], "-d", "-C", "--no-show-raw-insn", argv[2]],
                             check=True, capture_output=True, text=True).stdout
        return check(out.splitlines())
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
