#!/usr/bin/env python3
"""The readers as programs use them: picture after picture in one process.

Each front end has a loop program (bench/<front end>/) that loads one file
LOADS times and prints, per load, its milliseconds and minor page faults.
This runs, for every front end and picture size:
  loop   each side (ours on the Morvellane bitmap, the stock reader on the
         same picture as a 24-bit BMP) in processes of its own, LOADS loads
         each, PROCESSES processes a side, taken in turns; the figure is the
         median over all their loads, faults likewise;
  first  one load per process, FIRST processes a side: a thumbnailer's case.
Without a stock side (the web in Node) the slowest load of the loops after
each process's first is shown beside the median.
A benchmark, not a test: it prints figures and fails only when a loop program
does (each checks the picture it decoded).

Usage: loops.py BENCH_TREE WORK_DIR [--readers TREE] [--web WASM_TREE]
                [--processes N] [--first N] [--loads N] [--only NAME,...]
BENCH_TREE is an optimised tree (-DMRVLN_BENCH=ON) with the loop programs;
--readers measures another tree's readers with them (an older build, say),
--web another WebAssembly tree's package. A loop program that cannot run a
mode (an older package without decodeInto) leaves that mode out.
"""

import argparse
import os
import platform
import statistics
import subprocess
import sys
from pathlib import Path

parser = argparse.ArgumentParser()
parser.add_argument("tree", type=Path, help="the bench tree: loop programs and pictures")
parser.add_argument("work", type=Path, help="a folder for the pictures")
parser.add_argument("--readers", type=Path, help="the tree whose readers are measured "
                    "(default: the bench tree)")
parser.add_argument("--web", type=Path, help="the WebAssembly tree whose package is measured")
parser.add_argument("--processes", type=int, default=3)
parser.add_argument("--first", type=int, default=7)
parser.add_argument("--loads", type=int, default=11)
parser.add_argument("--only", default="", help="front ends, comma-separated")
args = parser.parse_args()
TREE, WORK = args.tree.resolve(), args.work.resolve()
READERS = (args.readers or args.tree).resolve()
ROOT = Path(__file__).resolve().parent.parent
WEB = (args.web or ROOT / "build" / "wasm32").resolve()
SIZES = [(3840, 2160), (640, 480)]


def front_ends():
    """name -> (command, environment, modes, has a stock side)."""
    pixbuf = READERS / "readers" / "gdk-pixbuf"
    pixbuf_env = {"GDK_PIXBUF_MODULE_FILE": str(pixbuf / "loaders.cache"),
                  "XDG_DATA_DIRS": f"{pixbuf / 'share'}:/usr/share"}
    ends = {}
    for major in (6, 5):
        ends[f"qt{major}"] = ([str(TREE / "bench" / "qt" / f"bench_qt{major}")],
                              {"QT_PLUGIN_PATH": str(READERS / "readers" / "qt" / f"qt{major}")},
                              [None], True)
    ends["gdk-pixbuf"] = ([str(TREE / "bench" / "gdk-pixbuf" / "pixbuf_loop")], pixbuf_env,
                          [None], True)
    ends["python"] = (["/usr/bin/python3", str(ROOT / "bench" / "python" / "bench_loops.py")],
                      {"PYTHONPATH": str(READERS / "readers" / "python")},
                      ["open-load", "open-load-chained", "decode", "decode-out"], True)
    ends["web"] = (["node", str(ROOT / "bench" / "web" / "loop.mjs")],
                   {"MRVLN_WEB_PACKAGE": str(WEB / "readers" / "web" / "package")},
                   ["decode", "decode-into", "decoder-into"], False)
    ends["imagemagick"] = (["/usr/bin/python3", str(ROOT / "bench" / "imagemagick" / "loop.py")],
                           {"MRVLN_MAGICK_ENV": str(READERS / "readers" / "imagemagick" /
                                                    "imagemagick.env")},
                           ["convert-png", "convert-read", "php-png"], True)
    ends["vips"] = (["/usr/bin/python3", str(ROOT / "bench" / "vips" / "loop.py")],
                    {"MRVLN_VIPS_HOME": str(READERS / "readers" / "vips" / "home")},
                    ["vips-copy", "vipsthumbnail"], True)
    return ends


def run_loop(command, env, side, path, loads, mode):
    full_env = dict(os.environ, **env)
    # A program with one loop takes no mode.
    r = subprocess.run(command + [side, str(path), str(loads)] + ([mode] if mode else []),
                       capture_output=True, text=True, env=full_env)
    if r.returncode == 2:  # the mode does not exist in the readers measured
        return None
    if r.returncode != 0:
        sys.exit(f"loops.py: {' '.join(command)} {side} {path} {mode} failed:\n{r.stderr}")
    rows = [line.split() for line in r.stdout.splitlines() if line.strip()]
    return [(float(ms), int(faults)) for ms, faults in rows]


def median_pair(loads):
    return statistics.median(ms for ms, _ in loads), statistics.median(f for _, f in loads)


def main():
    WORK.mkdir(parents=True, exist_ok=True)
    only = {n for n in args.only.split(",") if n}
    pictures = {}
    for w, h in SIZES:
        ours, stock = WORK / f"bench_{w}x{h}.bmp", WORK / f"bench_{w}x{h}_24bit.bmp"
        subprocess.run([str(TREE / "bench" / "write_bench_picture"), str(w), str(h), str(ours),
                        str(stock)], check=True)
        pictures[(w, h)] = {"ours": ours, "stock": stock}
    print(f"== readers of {READERS}, package of {WEB}")
    print(f"== {platform.processor() or platform.machine()}, {os.cpu_count()} CPUs, "
          f"load {os.getloadavg()[0]:.2f}; {args.processes} processes x {args.loads} loads a "
          f"side for loops, {args.first} processes for first loads; medians")
    print(f"  {'reader, loop':34} {'size':>10} {'ours ms':>9} {'faults':>7} {'stock ms':>9} "
          f"{'faults':>7} {'ratio':>6}")
    for name, (command, env, modes, has_stock) in front_ends().items():
        if only and name not in only:
            continue
        for mode in modes:
            for size, files in pictures.items():
                sides = ["ours", "stock"] if has_stock else ["ours"]
                loops = {s: [] for s in sides}
                firsts = {s: [] for s in sides}
                missing = False
                later = []  # ours, every load of a loop but its process's first
                for _ in range(args.processes):
                    for s in sides:
                        got = run_loop(command, env, s, files[s], args.loads, mode)
                        missing = missing or got is None
                        loops[s] += got or []
                        if s == "ours":
                            later += (got or [])[1:]
                if missing:
                    print(f"  {name + ', ' + str(mode):34} (not in the readers measured)")
                    break
                for _ in range(args.first):
                    for s in sides:
                        firsts[s] += run_loop(command, env, s, files[s], 1, mode)
                label = f"{size[0]}x{size[1]}"
                for kind, got in (("loop", loops), ("first load", firsts)):
                    ours_ms, ours_faults = median_pair(got["ours"])
                    cells = f"{ours_ms:9.2f} {ours_faults:7.0f}"
                    if has_stock:
                        stock_ms, stock_faults = median_pair(got["stock"])
                        cells += f" {stock_ms:9.2f} {stock_faults:7.0f} {stock_ms / ours_ms:5.2f}x"
                    elif kind == "loop" and later:
                        worst = max(ms for ms, _ in later)
                        cells += f"   slowest after the first: {worst:.2f} ms " \
                                 f"({worst / ours_ms:.2f}x the median)"
                    what = ", ".join(w for w in (name, mode, kind) if w)
                    print(f"  {what:34} {label:>10} {cells}")
    print(f"  load after: {os.getloadavg()[0]:.2f}")


main()
