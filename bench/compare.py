#!/usr/bin/env python3
"""Side-by-side run of osdquant, Pillow's FASTOCTREE and libimagequant on the generated OSD frames.

Writes the frames as PNG files, quantises each with osdquant (as the OSD
path does: a quantiser sized for the frame, made outside the timed call),
with Pillow's FASTOCTREE (Image.quantize(256, method=FASTOCTREE) on the RGBA
image, timed in this process) and, when liq_compare is built, with
libimagequant at speed 4 (dithered) and speed 10 (undithered). Prints median
times (the thread's processor time, or wall-clock with --wall), time ratios against FASTOCTREE, PSNRs over premultiplied RGBA and the
flicker of the moved-highlight pair. Every contestant runs on a frame before
the next frame is taken, so that all of them see the same machine load.

With --before OSDQUANT, a second osdquant (say, one built from an earlier
commit) runs beside ours on every frame, for before-and-after figures from
one run.

usage: compare.py BUILD_DIR [--runs N] [--before OSDQUANT]
"""
import argparse
import array
import collections
import math
import os
import re
import subprocess
import sys
import tempfile
import time

try:
    from PIL import Image
except ImportError:
    # Debian's python3-pil belongs to the system interpreter; another
    # python3 first on PATH (pyenv, a venv) may lack it.
    if os.path.realpath(sys.executable) != os.path.realpath("/usr/bin/python3") and os.access(
        "/usr/bin/python3", os.X_OK
    ):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    sys.exit("compare.py: Pillow is missing (apt-get install -y python3-pil)")

# Times are the thread's processor time unless --wall is given: on a machine
# shared with other work, it leaves out the time other processes ran.
CPU_TIME = True

FRAMES = ["menu_720x480_0", "menu_720x480_1", "menu_720x480_2", "icons_720x480", "photo_720x480",
          "flat_720x480", "menu_1920x1080"]


def run(cmd):
    out = subprocess.run(cmd, check=True, capture_output=True, text=True)
    return out.stdout


def parse_db(text):
    return float("inf") if text in ("exact", "inf") else float(text)


def ours(osdquant, png, runs, previous=None):
    cmd = [osdquant, "--runs", str(runs)]
    if previous:
        cmd += ["--previous", previous]
    text = run(cmd + [png])
    m = re.search(r"time ([0-9.]+) ms.*?(?:processor ([0-9.]+) ms.*?)?(?:PSNR ([0-9.a-z]+) dB|(exact)),"
                  r" colours ([0-9]+)", text)
    ms = float(m.group(2)) if CPU_TIME and m.group(2) else float(m.group(1))
    result = {"ms": ms, "psnr": parse_db(m.group(3) or m.group(4)), "colours": int(m.group(5))}
    f = re.search(r"flicker ([0-9.]+) %", text)
    if f:
        result["flicker"] = float(f.group(1))
    return result


def premultiplied_psnr(source, shown):
    """PSNR over premultiplied RGBA, as osdquant computes it (osd_frames.h)."""
    a = array.array("I", source.tobytes())
    b = array.array("I", shown.tobytes())
    if sys.byteorder != "little":
        a.byteswap()
        b.byteswap()
    total = 0.0
    for (x, y), n in collections.Counter(zip(a, b)).items():
        ax, ay = (x >> 24) / 255.0, (y >> 24) / 255.0
        e = float((x >> 24) - (y >> 24)) ** 2
        for s in (0, 8, 16):
            d = ((x >> s) & 255) * ax - ((y >> s) & 255) * ay
            e += d * d
        total += n * e
    if total == 0:
        return float("inf")
    return 10.0 * math.log10(255.0 * 255.0 / (total / (4.0 * len(a))))


def fastoctree(png, runs):
    image = Image.open(png)
    image.load()
    image = image.convert("RGBA")
    times = []
    for _ in range(runs):
        clock = time.thread_time if CPU_TIME else time.perf_counter
        t0 = clock()
        result = image.quantize(256, method=Image.Quantize.FASTOCTREE)
        times.append((clock() - t0) * 1000.0)
    times.sort()
    return {"ms": times[len(times) // 2], "psnr": premultiplied_psnr(image, result.convert("RGBA"))}


def theirs(liq, png, runs, speed, dither, previous=None):
    cmd = [liq, "--speed", str(speed), "--dither", str(dither), "--runs", str(runs)]
    if previous:
        cmd += ["--previous", previous]
    text = run(cmd + [png])
    fields = dict(kv.split("=") for kv in text.split())
    result = {"ms": float(fields["time_ms"]), "psnr": float(fields["psnr"]), "colours": int(fields["colours"])}
    if "flicker" in fields:
        result["flicker"] = 100.0 * float(fields["flicker"])
    return result


def fmt_db(v):
    return "  exact" if v == float("inf") else f"{v:7.2f}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build_dir")
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--before", help="an earlier osdquant to run beside ours")
    parser.add_argument("--wall", action="store_true", help="wall-clock times instead of processor time")
    args = parser.parse_args()
    global CPU_TIME
    CPU_TIME = not args.wall

    osdquant = os.path.join(args.build_dir, "tools", "osdquant")
    writer = os.path.join(args.build_dir, "bench", "write_frames")
    liq = os.path.join(args.build_dir, "bench", "liq_compare")
    for tool in (osdquant, writer):
        if not os.access(tool, os.X_OK):
            sys.exit(f"compare.py: {tool} is missing")
    have_liq = os.access(liq, os.X_OK)
    if not have_liq:
        print("(liq_compare is not built: libimagequant is left out; it needs libimagequant-dev)")

    with tempfile.TemporaryDirectory() as frames:
        run([writer, frames])
        png = lambda name: os.path.join(frames, name + ".png")
        header = f"{'frame':<16} {'octree ms':>9} {'dB':>7} |"
        if args.before:
            header += f" {'before ms':>9} {'dB':>7} {'ratio':>6} |"
        header += f" {'ours ms':>8} {'dB':>7} {'ratio':>6}"
        if have_liq:
            header += f" | {'liq4 ms':>8} {'dB':>7} | {'liq10 ms':>8} {'dB':>7}"
        print(header)
        menus = []
        for name in FRAMES:
            p = fastoctree(png(name), args.runs)
            line = f"{name:<16} {p['ms']:9.3f} {fmt_db(p['psnr'])} |"
            if args.before:
                b = ours(args.before, png(name), args.runs)
                line += f" {b['ms']:9.3f} {fmt_db(b['psnr'])} {b['ms'] / p['ms']:5.2f}x |"
            o = ours(osdquant, png(name), args.runs)
            line += f" {o['ms']:8.3f} {fmt_db(o['psnr'])} {o['ms'] / p['ms']:5.2f}x"
            if have_liq:
                l4 = theirs(liq, png(name), args.runs, 4, 1.0)
                l10 = theirs(liq, png(name), args.runs, 10, 0.0)
                line += f" | {l4['ms']:8.2f} {fmt_db(l4['psnr'])} | {l10['ms']:8.2f} {fmt_db(l10['psnr'])}"
            print(line)
            if "720x480" in name and not name.startswith("flat"):
                menus.append((p["ms"], o["ms"], b["ms"] if args.before else 0.0))
        octree = sum(m[0] for m in menus) / len(menus)
        mine = sum(m[1] for m in menus) / len(menus)
        worst = max(m[1] / m[0] for m in menus)
        line = f"720x480 menus (flat frame left out): mean octree {octree:.3f} ms,"
        if args.before:
            before = sum(m[2] for m in menus) / len(menus)
            line += f" before {before:.3f} ms ({before / octree:.2f}x),"
        print(line + f" ours {mine:.3f} ms, ratio {mine / octree:.2f}x, worst frame {worst:.2f}x")

        first, moved = png("menu_720x480_0"), png("menu_720x480_moved")
        o = ours(osdquant, moved, args.runs, previous=first)
        line = f"moved highlight: flicker ours {o['flicker']:.2f} %"
        if have_liq:
            l4 = theirs(liq, moved, 1, 4, 1.0, previous=first)
            line += f", liq speed 4 {l4['flicker']:.2f} %"
        print(line + f"; second frame ours {o['ms']:.3f} ms")


if __name__ == "__main__":
    main()
