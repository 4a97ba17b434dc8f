"""Image.open(f).load() of a 3840 x 2160 Morvellane bitmap through the
plug-in against Pillow's own BMP reader on the same file, in one process,
and 16 files of 1920 x 1080 through the plug-in by one thread against two,
beside the machine's own ceiling for that: NumPy copying 16 blocks the size
of Pillow's image of such a file, by one thread and by two. Medians of RUNS rounds, the measures of each round taken in turn. A
benchmark, not a test: nothing here passes or fails on a figure.
Usage (target run_python_bench of the bench tree runs it):
  bench_pillow.py WRITE_BENCH_PICTURE WORK_DIR [RUNS]"""

import concurrent.futures
import os
import platform
import statistics
import subprocess
import sys
import time
from pathlib import Path

import numpy as np
import PIL
from PIL import Image

import morvellane

WRITER, WORK = sys.argv[1], Path(sys.argv[2])
RUNS = int(sys.argv[3]) if len(sys.argv) > 3 else 7


def load():
    return os.getloadavg()[0]


def cpu_times():
    # Idle and total jiffies of all processors, where /proc/stat tells them.
    try:
        fields = [int(v) for v in Path("/proc/stat").read_text().split("\n")[0].split()[1:]]
    except OSError:
        return None
    return fields[3] + fields[4], sum(fields)


def timed(action):
    start = time.perf_counter()
    action()
    return (time.perf_counter() - start) * 1e3


def main():
    morvellane.register()
    WORK.mkdir(parents=True, exist_ok=True)
    big = WORK / "bench_3840x2160.bmp"
    subprocess.run([WRITER, "3840", "2160", str(big)], check=True)
    files = [WORK / f"bench_1920x1080_{i:02}.bmp" for i in range(16)]
    for f in files:
        subprocess.run([WRITER, "1920", "1080", str(f)], check=True)
    data = big.read_bytes()
    for f in files:
        f.read_bytes()  # in the page cache, as for every round after the first

    plugin = lambda: Image.open(big).load()  # noqa: E731
    pillow = lambda: Image.open(big, formats=["BMP"]).load()  # noqa: E731
    with Image.open(big) as ours, Image.open(big, formats=["BMP"]) as theirs:
        assert ours.format == "MRV" and theirs.format == "BMP"
        same = ours.tobytes() == theirs.tobytes()
    print(f"python {platform.python_version()}, Pillow {PIL.__version__}, "
          f"morvellane {morvellane.__version__} from {Path(morvellane.__file__).parent}")
    print(f"{platform.processor() or platform.machine()}, {os.cpu_count()} CPUs; "
          f"load average {load():.2f} at the start")
    # At even widths the stored rows happen to be 4-byte aligned; odd widths
    # are what Pillow's reader refuses as truncated, or shears.
    print(f"Pillow's BMP reader on this even width: {'the same' if same else 'other'} pixels")

    def threads(count):
        def one(path):
            Image.open(path).load()

        with concurrent.futures.ThreadPoolExecutor(count) as pool:
            return timed(lambda: list(pool.map(one, files)))

    # Copies release the GIL, so this is what two threads can gain on memory
    # traffic alone here: on a virtual machine often far less than twice.
    image_bytes = 1920 * 1080 * 4
    sources = [np.ones(image_bytes, np.uint8) for _ in files]
    targets = [np.zeros(image_bytes, np.uint8) for _ in files]

    def copies(count):
        with concurrent.futures.ThreadPoolExecutor(count) as pool:
            return timed(lambda: list(pool.map(np.copyto, targets, sources)))

    results = {"plugin": [], "pillow": [], "decode": [], "one": [], "two": [],
               "copy_one": [], "copy_two": []}
    before = cpu_times()
    for _ in range(RUNS):
        results["plugin"].append(timed(plugin))
        results["pillow"].append(timed(pillow))
        results["decode"].append(timed(lambda: morvellane.decode(data)))
        results["one"].append(threads(1))
        results["two"].append(threads(2))
        results["copy_one"].append(copies(1))
        results["copy_two"].append(copies(2))
    after = cpu_times()
    m = {k: statistics.median(v) for k, v in results.items()}
    print(f"\n3840 x 2160, Image.open(f).load(), median of {RUNS}:")
    print(f"  through the plug-in       {m['plugin']:7.2f} ms")
    print(f"  Pillow's BMP reader       {m['pillow']:7.2f} ms")
    print(f"  morvellane.decode(bytes)  {m['decode']:7.2f} ms   (the file already in memory)")
    print(f"  ratio Pillow / plug-in    {m['pillow'] / m['plugin']:7.2f} x")
    print(f"\n16 files of 1920 x 1080 through the plug-in, median of {RUNS}:")
    print(f"  one thread                {m['one']:7.2f} ms")
    print(f"  two threads               {m['two']:7.2f} ms")
    print(f"  ratio one / two           {m['one'] / m['two']:7.2f} x")
    print(f"  NumPy copying 16 blocks of {image_bytes >> 20} MiB: one thread {m['copy_one']:.2f} ms, "
          f"two {m['copy_two']:.2f} ms, {m['copy_one'] / m['copy_two']:.2f} x")
    print(f"\nload average {load():.2f} at the end", end="")
    if before and after:
        # This process keeps one processor busy at most, but for the two-thread runs.
        idle = 100 * (after[0] - before[0]) / max(1, after[1] - before[1])
        print(f"; the processors were {idle:.0f} % idle during the rounds", end="")
    print()


if __name__ == "__main__":
    main()
