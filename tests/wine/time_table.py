#!/usr/bin/env python3
"""The table of run_wine_quantizer.sh: from quantizer_frames' lines of the
native build, then of each other build, the median and fastest time of each
frame over all its lines, and each other build's median as a ratio to the
native one.

Usage: time_table.py <native lines> <other lines>...
"""
import statistics
import sys

HEADINGS = {"native": "Linux x86-64", "sse2": "Wine SSE2", "scalar": "Wine scalar"}


def times(path):
    """Frame name -> every time of it in the file, in milliseconds."""
    found = {}
    for line in open(path):
        words = line.split()
        fields = dict(w.split("=", 1) for w in words[2:] if "=" in w)
        if "times" in fields:
            found.setdefault(words[0], []).extend(float(t) for t in fields["times"].split(","))
    return found


def main(paths):
    builds = [times(p) for p in paths]
    names = [p.split("/")[-1].split("-")[0] for p in paths]
    print(f"{'frame':10} {HEADINGS.get(names[0], names[0]):>16}" +
          "".join(f" {HEADINGS.get(n, n):>23}" for n in names[1:]))
    for frame, native in builds[0].items():
        base = statistics.median(native)
        row = f"{frame:10} {base:7.2f} ({min(native):6.2f})"
        for other in builds[1:]:
            median = statistics.median(other[frame])
            row += f" {median:7.2f} ({min(other[frame]):6.2f}) {median / base:5.2f}x"
        print(row)
    return 0


if __name__ == "__main__":
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1:]))
