#!/usr/bin/env python3
"""Side-by-side run of osdquant and libimagequant on the generated OSD frames.

Writes the frames as PNG files, quantises each with osdquant (as the OSD
path does) and with libimagequant through liq_compare at speed 4 (dithered)
and speed 10 (undithered), and prints median times, time ratios, PSNRs over
premultiplied RGBA and the flicker of the moved-highlight pair.

usage: compare.py BUILD_DIR [--runs N]
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

FRAMES = ["menu_720x480_0", "menu_720x480_1", "menu_720x480_2", "flat_720x480", "menu_1920x1080"]


def run(cmd):
    out = subprocess.run(cmd, check=True, capture_output=True, text=True)
    return out.stdout


def ours(osdquant, png, runs, previous=None):
    cmd = [osdquant, "--runs", str(runs)]
    if previous:
        cmd += ["--previous", previous]
    text = run(cmd + [png])
    m = re.search(r"time ([0-9.]+) ms.*PSNR ([0-9.a-z]+) dB, colours ([0-9]+)", text)
    result = {"ms": float(m.group(1)), "psnr": float(m.group(2)), "colours": int(m.group(3))}
    f = re.search(r"flicker ([0-9.]+) %", text)
    if f:
        result["flicker"] = float(f.group(1))
    return result


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
    args = parser.parse_args()

    osdquant = os.path.join(args.build_dir, "tools", "osdquant")
    writer = os.path.join(args.build_dir, "bench", "write_frames")
    liq = os.path.join(args.build_dir, "bench", "liq_compare")
    for tool in (osdquant, writer, liq):
        if not os.access(tool, os.X_OK):
            sys.exit(f"compare.py: {tool} is missing (liq_compare needs libimagequant-dev)")

    with tempfile.TemporaryDirectory() as frames:
        run([writer, frames])
        png = lambda name: os.path.join(frames, name + ".png")
        print(f"{'frame':<16} {'ours ms':>8} {'dB':>7} | {'liq4 ms':>8} {'dB':>7} {'ratio':>6} |"
              f" {'liq10 ms':>8} {'dB':>7} {'ratio':>6}")
        menu_db = {"ours": [], "liq4": [], "liq10": []}
        for name in FRAMES:
            o = ours(osdquant, png(name), args.runs)
            l4 = theirs(liq, png(name), args.runs, 4, 1.0)
            l10 = theirs(liq, png(name), args.runs, 10, 0.0)
            if name.startswith("menu_720"):
                menu_db["ours"].append(o["psnr"])
                menu_db["liq4"].append(l4["psnr"])
                menu_db["liq10"].append(l10["psnr"])
            print(f"{name:<16} {o['ms']:8.3f} {fmt_db(o['psnr'])} | {l4['ms']:8.2f} {fmt_db(l4['psnr'])}"
                  f" {l4['ms'] / o['ms']:5.1f}x | {l10['ms']:8.2f} {fmt_db(l10['psnr'])} {l10['ms'] / o['ms']:5.1f}x")
        avg = {k: sum(v) / len(v) for k, v in menu_db.items()}
        print(f"{'720x480 average':<16} {'':8} {avg['ours']:7.2f} | {'':8} {avg['liq4']:7.2f} {'':6} |"
              f" {'':8} {avg['liq10']:7.2f}")

        first, moved = png("menu_720x480_0"), png("menu_720x480_moved")
        o = ours(osdquant, moved, args.runs, previous=first)
        l4 = theirs(liq, moved, 1, 4, 1.0, previous=first)
        print(f"moved highlight: flicker ours {o['flicker']:.2f} %, liq speed 4 {l4['flicker']:.2f} %;"
              f" second frame ours {o['ms']:.3f} ms")


if __name__ == "__main__":
    main()
