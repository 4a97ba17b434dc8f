#!/usr/bin/env python3
"""libvips as scripts and image servers run it, for bench/loops.py: prints,
per load, its milliseconds and minor page faults.

  vips-copy      vips copy PICTURE x.png, a process a load
  vipsthumbnail  vipsthumbnail PICTURE -s 128, a process a load

SIDE ours: libvips with the module of the tree measured (MRVLN_VIPS_HOME,
the tree's libvips home); stock: libvips as installed without it, which
reads the 24-bit BMP through ImageMagick (magickload). Every side's last
output must hold the pixels stock libvips makes of the 24-bit BMP beside
PICTURE (loops.py writes bench_WxH.bmp and bench_WxH_24bit.bmp).
Usage: loop.py SIDE PICTURE LOADS MODE
"""

import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from PIL import Image

side, picture, loads, mode = sys.argv[1], Path(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
home = Path(os.environ["MRVLN_VIPS_HOME"])
STOCK = dict(os.environ, VIPSHOME=str(home.with_name("home-stock")))
env = dict(os.environ, VIPSHOME=str(home)) if side == "ours" else STOCK
work = Path(tempfile.mkdtemp())


def command(path, out):
    if mode == "vips-copy":
        return ["vips", "copy", str(path), str(out)]
    if mode == "vipsthumbnail":
        return ["vipsthumbnail", str(path), "-s", "128", "-o", str(out)]
    sys.exit(2)


out = work / "x.png"
for _ in range(loads):
    start = time.perf_counter()
    child = subprocess.Popen(command(picture, out), env=env)
    _, status, usage = os.wait4(child.pid, 0)
    ms = (time.perf_counter() - start) * 1000
    if status != 0:
        sys.exit(f"loop.py: {' '.join(command(picture, out))} failed")
    print(f"{ms:.3f} {usage.ru_minflt}")

reference = picture.with_name(picture.stem.removesuffix("_24bit") + "_24bit.bmp")
subprocess.run(command(reference, work / "want.png"), env=STOCK, check=True)
with Image.open(out) as got, Image.open(work / "want.png") as want:
    if got.size != want.size or got.tobytes() != want.tobytes():
        sys.exit(f"loop.py: {out} does not hold the picture of {reference}")
