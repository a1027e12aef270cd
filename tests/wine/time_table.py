#!/usr/bin/env python3
"""The tables of run_wine_quantizer.sh: from quantizer_frames' lines of the
native build, then of each other build, the median and fastest time of each
frame over all its lines, and each other build's median as a ratio to the
native one; then the processor time per run (all the lines' processor time
over their runs), with the same ratios.

Usage: time_table.py <native lines> <other lines>...
"""
import statistics
import sys

HEADINGS = {"native": "Linux x86-64", "sse2": "Wine SSE2", "scalar": "Wine scalar",
            "i686sse2": "Linux i686 SSE2", "i686scalar": "Linux i686 scalar"}


def times(path):
    """Frame name -> (every time of it in the file, processor time of them
    all), in milliseconds."""
    found = {}
    for line in open(path):
        words = line.split()
        fields = dict(w.split("=", 1) for w in words[2:] if "=" in w)
        if "times" in fields:
            runs, cpu = found.setdefault(words[0], ([], [0.0]))
            runs.extend(float(t) for t in fields["times"].split(","))
            cpu[0] += float(fields["cpu"])
    return found


def main(paths):
    builds = [times(p) for p in paths]
    names = [p.split("/")[-1].split("-")[0] for p in paths]
    heading = f"{'frame':10} {HEADINGS.get(names[0], names[0]):>16}" + "".join(
        f" {HEADINGS.get(n, n):>23}" for n in names[1:])
    print(heading)
    for frame, (native, _) in builds[0].items():
        base = statistics.median(native)
        row = f"{frame:10} {base:7.2f} ({min(native):6.2f})"
        for other in builds[1:]:
            runs = other[frame][0]
            median = statistics.median(runs)
            row += f" {median:7.2f} ({min(runs):6.2f}) {median / base:5.2f}x"
        print(row)
    print()
    print("processor time per run, milliseconds:")
    print(f"{'frame':10} {HEADINGS.get(names[0], names[0]):>16}" +
          "".join(f" {HEADINGS.get(n, n):>16}" for n in names[1:]))
    for frame, (native, cpu) in builds[0].items():
        base = cpu[0] / len(native)
        row = f"{frame:10} {base:16.2f}"
        for other in builds[1:]:
            runs, total = other[frame]
            row += f" {total[0] / len(runs):9.2f} {total[0] / len(runs) / base:5.2f}x"
        print(row)
    return 0


if __name__ == "__main__":
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1:]))
