#!/usr/bin/env python3
"""GIMP opens Morvellane bitmaps exactly, and every other BMP as it does
without the plug-in. Two headless GIMPs run side by side, each once, each
with a profile folder of its own (HOME, GIMP2_DIRECTORY) and every system
plug-in: one with the plug-in, one without it. Each loads every file through
gimp-file-load, GIMP's own choice of loader, in one Script-Fu batch, and
dumps each image's pixels as a GIMP pattern (saved by GIMP itself, with no
plug-in to start; file-raw-save2 past the pattern's 10000 pixels). Checked:
- the fixture pictures and the samples, also renamed (.BMP, another
  extension, none): RGB, one layer named after the file, the .rgb pixels;
- the shared table of broken files (tests/reasons/same_reasons.py): the
  core's words as GIMP's error, the other broken files refused too, and a
  good file opened after them in the same GIMP;
- standard BMPs, the 16-bit bit-field ones with pixels at 66 among them: the
  same image or the same error as GIMP without the plug-in.

Usage: gimp_check.py [--plug-ins DIR] SYSTEM_PLUG_INS WRITE_FIXTURES SAMPLES WORK
  --plug-ins DIR    the built plug-in's folder, put after the system's (the
                    installed copy otherwise, found with nothing set)
  SYSTEM_PLUG_INS   GIMP's plug-in folder (/usr/lib/gimp/2.0/plug-ins)
  WRITE_FIXTURES    tests/python's fixture writer, run into WORK/fixtures
  SAMPLES           a folder of make_samples' files, or make_samples itself
  WORK              profiles and files; kept profiles make later runs quicker
Exit status 0 when every check passes.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "reasons"))
from same_reasons import EXPECTED  # noqa: E402

PLUGIN = "file-morvellane"
SCRIPT = r"""
(define out (open-output-file "%(results)s"))
(define (try-load path)
  (call/cc (lambda (k)
    (let ((hook *error-hook*))
      (set! *error-hook* (lambda args (set! *error-hook* hook) (k (cons 'error args))))
      (let ((image (car (gimp-file-load RUN-NONINTERACTIVE path path))))
        (set! *error-hook* hook)
        image)))))
(define (put . items)
  (for-each (lambda (x) (display x out) (display "\t" out)) items))
(define (check name path dump)
  (let ((image (try-load path)))
    (put name)
    (if (pair? image)
        (put "error" (cadr image))
        (let ((layers (cadr (gimp-image-get-layers image))))
          (put "image" (car (gimp-image-base-type image)) (car (gimp-image-width image))
               (car (gimp-image-height image)) (vector-length layers)
               (car (gimp-drawable-type (vector-ref layers 0)))
               (car (gimp-item-get-name (vector-ref layers 0))))
          (if (and (<= (car (gimp-image-width image)) 10000) (<= (car (gimp-image-height image)) 10000))
              (file-pat-save-internal RUN-NONINTERACTIVE image (vector-ref layers 0)
                                      (string-append "file://" dump) (string-append "file://" dump) "dump")
              (file-raw-save2 RUN-NONINTERACTIVE image (vector-ref layers 0) dump dump 0 0))
          (gimp-image-delete image)))
    (newline out)))
%(checks)s
(close-output-port out)
"""


def scheme_string(text):
    return '"' + str(text).replace("\\", "\\\\").replace('"', '\\"') + '"'


def cases(fixtures, samples, renamed):
    """(name, path, expected .rgb or None, kind) in the order GIMP loads them."""
    manifest = [line.split("\t") for line in (fixtures / "manifest.tsv").read_text().splitlines()]
    # The charts and the 2 x 3 picture are left to the samples and the others.
    pictures = [(n, fixtures / f"{n}.bmp", fixtures / f"{n}.rgb", "picture") for kind, n, *_ in manifest
                if kind == "picture" and not n.startswith(("chart_", "mixed_2x"))]
    # The samples of those sizes are the fixture charts' very bytes.
    same = {"colour_chart_odd_173x97.bmp": "chart_173x97", "colour_chart_320x240.bmp": "chart_320x240"}
    for sample, fixture in same.items():
        if (samples / sample).read_bytes() != (fixtures / f"{fixture}.bmp").read_bytes():
            sys.exit(f"gimp_check: {sample} is not {fixture}.bmp")
        pictures.append((sample, samples / sample, fixtures / f"{fixture}.rgb", "picture"))
    renamed.mkdir(exist_ok=True)
    for source, new in [("chart_173x97", "odd.BMP"), ("chart_173x97", "odd.picture"),
                        ("chart_173x97", "odd"), ("mixed_top_down_255x-128", "top_down")]:
        shutil.copyfile(fixtures / f"{source}.bmp", renamed / new)
        pictures.append((f"renamed {new}", renamed / new, fixtures / f"{source}.rgb", "picture"))
    refused = [(n, fixtures / f"{n}.bmp", None, "refused") for kind, n, *_ in manifest
               if kind in ("short", "broken", "large") and n not in EXPECTED]
    table = [(n, fixtures / f"{n}.bmp", None, "table") for n in EXPECTED if n != "other_24_bits"]
    refused.append(("truncated_64x64.bmp", samples / "truncated_64x64.bmp", None, "refused"))
    standard = [(n, fixtures / f"{n}.bmp", None, "standard") for kind, n, *_ in manifest
                if kind == "other"]
    standard.append(("not_morvellane_24bit.bmp", samples / "not_morvellane_24bit.bmp", None,
                     "standard"))
    after = [("chart_173x97 after the broken files", fixtures / "chart_173x97.bmp",
              fixtures / "chart_173x97.rgb", "picture")]
    return table + refused + after + pictures + standard


def run_gimp(label, work, plug_in_path, numbered):
    """Starts a GIMP on the numbered cases; returns (process, results, dumps folder)."""
    dumps = work / f"dumps-{label}"
    shutil.rmtree(dumps, ignore_errors=True)
    dumps.mkdir()
    results = work / f"results-{label}.tsv"
    results.unlink(missing_ok=True)
    checks = "\n".join(f"(check {scheme_string(n)} {scheme_string(p)} {scheme_string(dumps / str(i))})"
                       for i, (n, p, _, _) in numbered)
    script = work / f"batch-{label}.scm"
    script.write_text(SCRIPT % {"results": results, "checks": checks})
    profile = work / f"profile-{label}"
    profile.mkdir(exist_ok=True)
    args = ["gimp-console-2.10", "-i", "-d", "-f"]
    if plug_in_path is not None:
        gimprc = work / f"gimprc-{label}"
        gimprc.write_text(f"(plug-in-path {scheme_string(os.pathsep.join(plug_in_path))})\n")
        args += ["--gimprc", str(gimprc)]
    args += ["-b", f"(load {scheme_string(script)})", "-b", "(gimp-quit 0)"]
    env = dict(os.environ, HOME=str(profile), GIMP2_DIRECTORY=str(profile / "gimp"))
    log = open(work / f"gimp-{label}.log", "w")
    # A group of its own, so that a plug-in it leaves running goes with it.
    process = subprocess.Popen(args, env=env, stdout=log, stderr=log, start_new_session=True)
    return process, results, dumps


def pixels(dump, row):
    """The pixel bytes of a dump: a pattern's follow its header."""
    data = dump.read_bytes() if dump.exists() else b""
    if max(int(row[2]), int(row[3])) <= 10000 and len(data) >= 4:
        return data[int.from_bytes(data[:4], "big"):]
    return data


def read_results(results):
    rows = {}
    for line in results.read_text().splitlines() if results.exists() else []:
        fields = line.rstrip("\t").split("\t")
        if fields[1] == "error":
            # Script-Fu's "(FILE : LINE) Procedure execution of gimp-file-load failed: WORDS"
            fields[2] = fields[2].split(" failed: ", 1)[-1]
        rows[fields[0]] = fields[1:]
    return rows


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--plug-ins", type=Path)
    parser.add_argument("system", type=Path)
    parser.add_argument("write_fixtures")
    parser.add_argument("samples", type=Path)
    parser.add_argument("work", type=Path)
    a = parser.parse_args()
    work = a.work.resolve()
    fixtures = work / "fixtures"
    fixtures.mkdir(parents=True, exist_ok=True)
    subprocess.run([a.write_fixtures, str(fixtures)], check=True)
    samples = a.samples.resolve()
    if samples.is_file():
        (work / "samples").mkdir(exist_ok=True)
        subprocess.run([str(samples), str(work / "samples")], check=True)
        samples = work / "samples"
    all_cases = cases(fixtures, samples, work / "renamed")

    # Every system plug-in but an installed copy of this one.
    others = sorted(str(d) for d in a.system.iterdir() if d.is_dir() and d.name != PLUGIN)
    with_path = None if a.plug_ins is None else others + [str(a.plug_ins.resolve())]
    start = time.monotonic()
    numbered = list(enumerate(all_cases))
    standard = [(i, c) for i, c in numbered if c[3] == "standard"]
    runs = {label: run_gimp(label, work, path, cases)
            for label, path, cases in [("with", with_path, numbered), ("without", others, standard)]}
    for label, (process, _, _) in runs.items():
        try:
            process.wait(timeout=600)
        except subprocess.TimeoutExpired:
            pass  # a hung GIMP: its answers so far are checked, the rest missing
        try:
            os.killpg(process.pid, signal.SIGKILL)  # GIMP if hung, and any plug-in left
        except ProcessLookupError:
            pass
        process.wait()
        if process.returncode != 0:
            print(f"FAIL: GIMP {label} the plug-in ended with status {process.returncode}")
    print(f"two GIMPs side by side, {len(all_cases)} and {len(standard)} files: "
          f"{time.monotonic() - start:.1f} s")
    (_, results, dumps), (_, ref_results, ref_dumps) = runs["with"], runs["without"]
    got, ref = read_results(results), read_results(ref_results)

    failures = 0
    for i, (name, path, rgb, kind) in enumerate(all_cases):
        row = got.get(name, ["(no answer)"])
        dump = dumps / str(i)
        if kind == "picture":
            width, height = (int(v) for v in (row[2:4] if row[0] == "image" else (0, 0)))
            want = ["image", "0", str(width), str(height), "1", "0", path.name]
            ok = row == want and width * height > 0 and pixels(dump, row) == rgb.read_bytes()
        elif kind == "table":
            ok = row == ["error", EXPECTED[name]]
        elif kind == "refused":
            ok = row[0] == "error"
        else:
            ok = row == ref.get(name) and (row[0] != "image" or
                                          pixels(dump, row) == pixels(ref_dumps / str(i), row))
        failures += not ok
        print(f"{'ok  ' if ok else 'FAIL'} {kind:8} {name:40} {' '.join(row)[:100]}")
        if not ok and kind == "standard":
            print(f"     without the plug-in: {' '.join(ref.get(name, ['(no answer)']))[:100]}")
    print(f"gimp: {len(all_cases) - failures} of {len(all_cases)} passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
