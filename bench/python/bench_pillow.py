"""Threads: 16 files of 1920 x 1080 opened and loaded through the plug-in
(Image.open(f).load()) by one thread and by two, beside the machine's own
ceiling for that: NumPy copying 16 blocks the size of Pillow's image of such
a file, by one thread and by two. The measures of each round are taken in
turn (interleaved), so that load from elsewhere hits one and two threads
alike; the medians of RUNS rounds are interleaved figures. The plain loops a
script runs, picture after picture, are bench_loops.py's. A benchmark, not a
test: nothing here passes or fails on a figure.
Usage (target run_python_bench of the bench tree runs it):
  bench_pillow.py WRITE_BENCH_PICTURE WORK_DIR [RUNS]"""

import concurrent.futures
import os
import platform
import resource
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


def cpu_times():
    # Idle and total jiffies of all processors, where /proc/stat tells them.
    try:
        fields = [int(v) for v in Path("/proc/stat").read_text().split("\n")[0].split()[1:]]
    except OSError:
        return None
    return fields[3] + fields[4], sum(fields)


def timed(action):
    faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
    start = time.perf_counter()
    action()
    elapsed = (time.perf_counter() - start) * 1e3
    return elapsed, resource.getrusage(resource.RUSAGE_SELF).ru_minflt - faults


def main():
    morvellane.register()
    WORK.mkdir(parents=True, exist_ok=True)
    files = [WORK / f"bench_1920x1080_{i:02}.bmp" for i in range(16)]
    for f in files:
        subprocess.run([WRITER, "1920", "1080", str(f)], check=True)
        f.read_bytes()  # in the page cache, as for every round after the first
    with Image.open(files[0]) as im:
        assert (im.format, im.size) == ("MRV", (1920, 1080))
    print(f"python {platform.python_version()}, Pillow {PIL.__version__}, "
          f"morvellane {morvellane.__version__} from {Path(morvellane.__file__).parent}")
    print(f"{platform.processor() or platform.machine()}, {os.cpu_count()} CPUs; "
          f"load average {os.getloadavg()[0]:.2f} at the start")

    def threads(count):
        def one(path):
            Image.open(path).load()

        with concurrent.futures.ThreadPoolExecutor(count) as pool:
            return timed(lambda: list(pool.map(one, files)))

    # Copies release the GIL, so this is what two threads can gain on memory
    # traffic alone here: on a virtual machine often far less than twice.
    image_bytes = 1920 * 1080 * 4
    sources = [np.ones(image_bytes, np.uint8) for _ in files]
    targets = [np.ones(image_bytes, np.uint8) for _ in files]

    def copies(count):
        with concurrent.futures.ThreadPoolExecutor(count) as pool:
            return timed(lambda: list(pool.map(np.copyto, targets, sources)))

    measures = {"one": lambda: threads(1), "two": lambda: threads(2),
                "copy_one": lambda: copies(1), "copy_two": lambda: copies(2)}
    results = {name: [] for name in measures}
    before = cpu_times()
    for _ in range(RUNS):
        for name, measure in measures.items():
            results[name].append(measure())
    after = cpu_times()
    m = {k: statistics.median(ms for ms, _ in v) for k, v in results.items()}
    faults = {k: statistics.median(n for _, n in v) / len(files) for k, v in results.items()}
    print(f"\n16 files of 1920 x 1080 through the plug-in, interleaved rounds, median of {RUNS}:")
    for name, label in [("one", "one thread "), ("two", "two threads")]:
        print(f"  {label}               {m[name]:7.2f} ms   {faults[name]:6.0f} page faults a file")
    print(f"  ratio one / two           {m['one'] / m['two']:7.2f} x")
    print(f"  NumPy copying 16 blocks of {image_bytes >> 20} MiB: one thread "
          f"{m['copy_one']:.2f} ms, two {m['copy_two']:.2f} ms, "
          f"{m['copy_one'] / m['copy_two']:.2f} x")
    print(f"\nload average {os.getloadavg()[0]:.2f} at the end", end="")
    if before and after:
        idle = 100 * (after[0] - before[0]) / max(1, after[1] - before[1])
        print(f"; the processors were {idle:.0f} % idle during the rounds", end="")
    print()


if __name__ == "__main__":
    main()
