#!/usr/bin/env python3
"""ImageMagick as scripts and web applications run it, for bench/loops.py:
prints, per load, its milliseconds and minor page faults.

  convert-png   convert PICTURE x.png, a process a load, as a shell loop runs it
  convert-read  convert PICTURE null:, the reading alone, a process a load
  php-png       PHP's Imagick reads PICTURE and writes x.png, every load in
                one process, as a web application's worker does

SIDE ours: ImageMagick with the coder of the tree measured (MRVLN_MAGICK_ENV
names its imagemagick.env); stock: ImageMagick as installed. Every side's
last PNG must hold the picture stock ImageMagick reads from the 24-bit BMP
beside PICTURE (loops.py writes bench_WxH.bmp and bench_WxH_24bit.bmp).
Usage: loop.py SIDE PICTURE LOADS MODE
"""

import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

side, picture, loads, mode = sys.argv[1], Path(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
STOCK = {k: v for k, v in os.environ.items() if not k.startswith("MAGICK_")}
env = dict(STOCK)
if side == "ours":
    settings = Path(os.environ["MRVLN_MAGICK_ENV"]).read_text().splitlines()
    env.update(line.split("=", 1) for line in settings if "=" in line)
out = Path(tempfile.mkdtemp()) / "x.png"

PHP = r"""
[$path, $out, $loads] = array_slice($argv, 1);
for ($i = 0; $i < $loads; $i++) {
  $faults = getrusage()['ru_minflt'];
  $t = hrtime(true);
  $im = new Imagick($path);
  $im->writeImage($out);
  $im->clear();
  printf("%.3f %d\n", (hrtime(true) - $t) / 1e6, getrusage()['ru_minflt'] - $faults);
}
"""

if mode == "php-png":
    r = subprocess.run(["php", "-r", PHP, str(picture), str(out), str(loads)], env=env,
                       capture_output=True, text=True)
    if r.returncode != 0:
        sys.exit(f"loop.py: php failed: {r.stderr}")
    print(r.stdout, end="")
elif mode in ("convert-png", "convert-read"):
    target = str(out) if mode == "convert-png" else "null:"
    for _ in range(loads):
        start = time.perf_counter()
        child = subprocess.Popen(["convert", str(picture), target], env=env)
        _, status, usage = os.wait4(child.pid, 0)
        ms = (time.perf_counter() - start) * 1000
        if status != 0:
            sys.exit(f"loop.py: convert {picture} {target} failed")
        print(f"{ms:.3f} {usage.ru_minflt}")
else:
    sys.exit(2)

if mode != "convert-read":
    reference = picture.with_name(picture.stem.removesuffix("_24bit") + "_24bit.bmp")
    pixels = [subprocess.run(["convert", str(p), "-depth", "8", "rgb:-"], env=STOCK,
                             capture_output=True).stdout for p in (out, reference)]
    if not pixels[0] or pixels[0] != pixels[1]:
        sys.exit(f"loop.py: {out} does not hold the picture of {reference}")
