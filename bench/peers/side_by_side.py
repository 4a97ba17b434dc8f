#!/usr/bin/python3
"""Decodes the same benchmark pictures with ifMrvln.spi and with the peers a
user would pick instead (Pillow, ImageMagick, Windows' own codecs under
Wine), prints the medians side by side, then checks each decoder's bytes
against the channel definition on an even and an odd width.

Usage: side_by_side.py ROOT RUNS  (run by scripts/bench_peers.sh)
"""
import json
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

from PIL import Image

ROOT, RUNS = sys.argv[1], int(sys.argv[2])
# How 32-bit Windows code runs on this machine: "native" or "emulated".
WINE = sys.argv[3] if len(sys.argv) > 3 else "native"
BENCH = os.path.join(ROOT, "build/bench/bench")
WIN = os.path.join(ROOT, "build/win32/bin")
SIZES = [(640, 480), (1920, 1080), (3840, 2160)]
WORK = tempfile.mkdtemp(prefix="mrvln_peers_")


def picture(width, height):
    path = os.path.join(WORK, "p%dx%d.bmp" % (width, height))
    if not os.path.exists(path):
        subprocess.run([os.path.join(BENCH, "write_bench_picture"), str(width), str(height), path],
                       check=True)
    return path


def median_seconds(fn):
    fn()  # warm-up
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def pillow_load(path):
    with Image.open(path) as im:
        im.load()


def pillow_bgr(path):
    with Image.open(path) as im:
        return im.tobytes("raw", "BGR")


def magick_mpx(path, width, height):
    """ImageMagick's own in-process timing (-bench), one thread: the mean of
    its iterations of reading the file into its pixels, no start-up."""
    err = subprocess.run(["convert", "-bench", str(2 * RUNS + 1), path, "null:"], check=True,
                         capture_output=True, text=True).stderr
    ips = float(re.search(r"Performance\[1\]: \d+i ([0-9.]+)ips", err).group(1))
    return ips * width * height / 1e6


def wine(*args):
    return subprocess.run(["wine"] + list(args), check=True, capture_output=True,
                          text=True).stdout


def mpx(width, height, seconds):
    return width * height / seconds / 1e6


rows = {}  # decoder -> {size: Mpx/s}


def put(name, size, value):
    rows.setdefault(name, {})[size] = value


# ifMrvln.spi natively: the core's fill and conversion, and the whole call on
# fresh pages, from the Google Benchmark build.
json_path = os.path.join(WORK, "native.json")
subprocess.run([os.path.join(BENCH, "convert_bench"),
                "--benchmark_filter=^(fill_convert_ssse3|whole_memory_best)/(640x480|1920x1080|3840x2160)",
                "--benchmark_repetitions=%d" % RUNS, "--benchmark_report_aggregates_only=true",
                "--benchmark_min_time=0.2", "--benchmark_enable_random_interleaving=true",
                "--benchmark_out=" + json_path,
                "--benchmark_out_format=json"], check=True, stdout=subprocess.DEVNULL,
               stderr=subprocess.DEVNULL)
for b in json.load(open(json_path))["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    measure, size = b["run_name"].replace("/real_time", "").split("/")
    w, h = (int(v) for v in size.split("x"))
    label = {"fill_convert_ssse3": "ifMrvln core, native: fill + convert (ssse3)",
             "whole_memory_best": "ifMrvln core, native: whole call, fresh pages"}[measure]
    put(label, (w, h), b["items_per_second"] / 1e6)

for (w, h) in SIZES:
    path = picture(w, h)
    put("Pillow: open + load", (w, h), mpx(w, h, median_seconds(lambda: pillow_load(path))))
    put("Pillow: open + load + to 24-bit BGR", (w, h),
        mpx(w, h, median_seconds(lambda: pillow_bgr(path))))
    put("ImageMagick: read (convert -bench, 1 thread)", (w, h), magick_mpx(path, w, h))
    out = wine(os.path.join(WIN, "wic_bench.exe"), path, str(RUNS))
    for line in out.splitlines():
        m = re.match(r"wic (own format|to 24-bit BGR) .*: [0-9.]+ ms, ([0-9.]+) Mpx/s", line)
        if m:
            put("Windows codecs (WIC), Wine, " + WINE + ": " + m.group(1), (w, h), float(m.group(2)))
    out = wine(os.path.join(WIN, "bench_host.exe"), str(w), str(h), str(RUNS))
    for line in out.splitlines():
        m = re.match(r"\s+(GetPicture, (memory|file))\s+[0-9.]+ ms\s+([0-9.]+) Mpx/s", line)
        if m:
            put("ifMrvln.spi, Wine, " + WINE + ": " + m.group(1), (w, h), float(m.group(3)))

print("  %-56s" % "Mpx/s, median of %d" % RUNS + "".join("%12s" % ("%dx%d" % s) for s in SIZES))
for name, values in rows.items():
    print("  %-56s" % name + "".join("%12.1f" % values[s] if s in values else "%12s" % "-"
                                     for s in SIZES))


# Exactness: each decoder's 24-bit rows, top row first, against the
# definition v * 255 / max, truncated.
def reference_rows(path):
    data = open(path, "rb").read()
    width = int.from_bytes(data[18:22], "little", signed=True)
    height = int.from_bytes(data[22:26], "little", signed=True)
    out = bytearray()
    for y in range(height):
        row = 66 + 2 * width * (height - 1 - y)  # stored bottom row first
        for x in range(width):
            p = data[row + 2 * x] | data[row + 2 * x + 1] << 8
            out += bytes(((p & 31) * 255 // 31, ((p >> 5) & 63) * 255 // 63,
                          ((p >> 11) & 31) * 255 // 31))
    return width, height, bytes(out)


def verdict(expected, got):
    if got is None:
        return "refused"
    if len(got) != len(expected):
        return "wrong size"
    bad = sum(1 for i in range(0, len(expected), 3) if expected[i:i + 3] != got[i:i + 3])
    worst = max((abs(a - b) for a, b in zip(expected, got)), default=0)
    return "exact" if bad == 0 else "%.1f%% of pixels differ (up to %d)" % (
        100.0 * bad / (len(expected) // 3), worst)


def ours_rows(path, width, height):
    out = os.path.join(WORK, "ours.bmp")
    wine(os.path.join(WIN, "mrvhost.exe"), "convert", path, out)
    data = open(out, "rb").read()
    offset = int.from_bytes(data[10:14], "little")
    stride = (width * 3 + 3) & ~3
    rows_ = [data[offset + y * stride: offset + y * stride + 3 * width] for y in range(height)]
    return b"".join(reversed(rows_))


def try_decode(fn):
    try:
        return fn()
    except Exception:  # a peer that cannot read the file is the finding
        return None


print()
print("  bytes against the definition (v * 255 / max, truncated):")
for (w, h) in [(640, 480), (641, 480)]:
    path = picture(w, h)
    width, height, expected = reference_rows(path)
    wic_out = os.path.join(WORK, "wic.bgr")
    if os.path.exists(wic_out):
        os.remove(wic_out)
    results = {
        "ifMrvln.spi (mrvhost convert)": try_decode(lambda: ours_rows(path, width, height)),
        "Pillow": try_decode(lambda: pillow_bgr(path)),
        "ImageMagick": try_decode(lambda: subprocess.run(
            ["convert", path, "-depth", "8", "bgr:-"], check=True, capture_output=True).stdout),
        "Windows codecs (WIC)": try_decode(lambda: (
            wine(os.path.join(WIN, "wic_bench.exe"), path, "1", wic_out),
            open(wic_out, "rb").read())[1]),
    }
    for name, got in results.items():
        print("    %dx%d %-32s %s" % (w, h, name, verdict(expected, got)))
