#!/usr/bin/env python3
"""GIMP opening a 3840 x 2160 picture with gimp-file-load, as a script or a
user does picture after picture: the plug-in on the Morvellane bitmap against
GIMP's own BMP loader on the same picture stored as a 24-bit BMP.

Each side runs in GIMPs of its own (gimp-console-2.10, a profile folder of
its own, every system plug-in; the plug-in's side adds the built one),
PROCESSES of them a side, taken in turns, each loading the file LOADS times
and deleting each image. Script-Fu times every gimp-file-load and reads
GIMP's minor page faults around it from /proc, those of the load's plug-in
process included (GIMP has reaped it by then). Figures: the median of every
load after each process's first, and the median of the first loads. Every
GIMP runs under flock /tmp/mrvln-bench.lock.
A benchmark, not a test.

Usage: bench_gimp.py WRITE_BENCH_PICTURE PLUG_IN_DIR WORK [--processes N] [--loads N]
  WRITE_BENCH_PICTURE  bench/core's writer (an optimised tree, -DMRVLN_BENCH=ON)
  PLUG_IN_DIR          a non-sanitized tree's readers/gimp/plug-ins
"""

import argparse
import os
import statistics
import subprocess
from pathlib import Path

SYSTEM = Path("/usr/lib/gimp/2.0/plug-ins")
SCRIPT = r"""
(define out (open-output-file "%(results)s"))
(define (slurp path)
  (let ((port (open-input-file path)))
    (let loop ((chars '()) (c (read-char port)))
      (if (eof-object? c)
          (begin (close-input-port port) (list->string (reverse chars)))
          (loop (cons c chars) (read-char port))))))
(define (field text n)
  (let loop ((k 0) (from 0) (i 0))
    (cond ((= i (string-length text)) (substring text from i))
          ((char=? (string-ref text i) #\space)
           (if (= k n) (substring text from i) (loop (+ k 1) (+ i 1) (+ i 1))))
          (else (loop k from (+ i 1))))))
(define gimp-stat (string-append "/proc/" (field (slurp "/proc/self/stat") 3) "/stat"))
(define (faults)
  (let ((stat (slurp gimp-stat)))
    (+ (string->number (field stat 9)) (string->number (field stat 10)))))
(define (now) (let ((t (gettimeofday))) (+ (* 1000.0 (car t)) (/ (cadr t) 1000.0))))
(let loop ((k 0))
  (if (< k %(loads)d)
      (let* ((f0 (faults)) (t0 (now))
             (image (car (gimp-file-load RUN-NONINTERACTIVE "%(file)s" "%(file)s")))
             (t1 (now)) (f1 (faults)))
        (gimp-image-delete image)
        (display (- t1 t0) out) (display " " out) (display (- f1 f0) out) (newline out)
        (loop (+ k 1)))))
(close-output-port out)
"""


def run_side(work, side, picture, plug_in_path, loads, index):
    results = work / f"{side}-{index}.txt"
    results.unlink(missing_ok=True)
    script = work / f"{side}.scm"
    script.write_text(SCRIPT % {"results": results, "file": picture, "loads": loads})
    gimprc = work / f"gimprc-{side}"
    gimprc.write_text(f'(plug-in-path "{os.pathsep.join(plug_in_path)}")\n')
    profile = work / f"profile-{side}"
    env = dict(os.environ, HOME=str(profile), GIMP2_DIRECTORY=str(profile / "gimp"))
    subprocess.run(["flock", "/tmp/mrvln-bench.lock", "gimp-console-2.10", "-i", "-d", "-f",
                    "--gimprc", str(gimprc), "-b", f'(load "{script}")', "-b", "(gimp-quit 0)"],
                   env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    rows = [line.split() for line in results.read_text().splitlines()]
    if len(rows) != loads:
        raise SystemExit(f"bench_gimp: {side}: {len(rows)} of {loads} loads")
    return [(float(ms), int(faults)) for ms, faults in rows]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("writer")
    parser.add_argument("plug_ins", type=Path)
    parser.add_argument("work", type=Path)
    parser.add_argument("--processes", type=int, default=3)
    parser.add_argument("--loads", type=int, default=11)
    a = parser.parse_args()
    work = a.work.resolve()
    work.mkdir(parents=True, exist_ok=True)
    load_average = os.getloadavg()[0]
    ours, stock = work / "bench_3840x2160.bmp", work / "bench_3840x2160_24bit.bmp"
    subprocess.run([a.writer, "3840", "2160", str(ours), str(stock)], check=True)
    others = sorted(str(d) for d in SYSTEM.iterdir() if d.is_dir() and d.name != "file-morvellane")
    sides = {"plug-in": (ours, others + [str(a.plug_ins.resolve())]),
             "file-bmp-load": (stock, others)}
    for side, (picture, path) in sides.items():  # profiles made before anything is timed
        run_side(work, side, picture, path, 1, "setup")
    loads = {side: [] for side in sides}
    for index in range(a.processes):
        for side, (picture, path) in sides.items():
            loads[side].append(run_side(work, side, picture, path, a.loads, index))
    print(f"gimp-file-load, 3840 x 2160, {a.processes} GIMPs a side x {a.loads} loads "
          f"(load average at the start: {load_average:.2f})")
    for side, runs in loads.items():
        rest = [load for run in runs for load in run[1:]]
        first = [run[0] for run in runs]
        print(f"  {side:14} median {statistics.median(ms for ms, _ in rest):7.1f} ms, "
              f"{statistics.median(f for _, f in rest):7.0f} faults/picture; first load "
              f"{statistics.median(ms for ms, _ in first):7.1f} ms, "
              f"{statistics.median(f for _, f in first):7.0f} faults")


if __name__ == "__main__":
    main()
