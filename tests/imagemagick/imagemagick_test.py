#!/usr/bin/env python3
"""ImageMagick with the built MRV coder, against the fixture pictures and
against ImageMagick without the module, in one run.

  pictures  every fixture picture exact through convert and PHP's Imagick
            (NAME.rgb), also renamed, piped, from a blob, with the MRV:
            prefix and in 16 bits; identify and mogrify; ImageMagick's own
            limits, as it applies them to the same picture as a PPM file
  standard  every standard BMP (the fixture builder's and BMP Suite's) as
            ImageMagick without the module reads it: pixels, alpha, format
            name, and its errors, through convert and PHP's Imagick

Usage: imagemagick_test.py GROUP FIXTURE_WRITER BMPSUITE_DIR WORK_DIR VAR=VALUE...
The VAR=VALUE settings lead ImageMagick to the built module; MRVLN_PRELOAD,
if set, is the sanitizer runtime an instrumented module needs. Exits 77
(skipped) when an installed copy of the module would answer for "without".
"""

import concurrent.futures
import hashlib
import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

GROUP, WRITER, BMPSUITE, WORK = sys.argv[1], Path(sys.argv[2]), Path(sys.argv[3]), Path(sys.argv[4])
PRELOAD = os.environ.get("MRVLN_PRELOAD", "")
STOCK = {k: v for k, v in os.environ.items() if not k.startswith("MAGICK_")}
if PRELOAD:  # ImageMagick itself is not instrumented
    STOCK.update(LD_PRELOAD=PRELOAD, ASAN_OPTIONS="detect_leaks=0")
WITH = dict(STOCK, **dict(kv.split("=", 1) for kv in sys.argv[5:]))
failures = []


def run(args, env, stdin=None, cwd=None):
    return subprocess.run(args, input=stdin, capture_output=True, env=env, cwd=cwd, timeout=300)


def check(ok, what):
    print(f"{'ok  ' if ok else 'FAIL'} {what}")
    if not ok:
        failures.append(what)


def words(stderr):
    """ImageMagick's first message without the program, file and source place."""
    line = stderr.decode(errors="replace").strip().splitlines()[0] if stderr.strip() else ""
    return line.split(": ", 1)[-1].split(" `")[0]


PHP = r"""
$out = [];
foreach (json_decode($argv[1], true) as [$how, $path, $map, $storage]) {
  try {
    $im = new Imagick();
    if ($how == 'blob') $im->readImageBlob(file_get_contents($path));
    else $im->readImage($path);
    $w = $im->getImageWidth(); $h = $im->getImageHeight();
    // Without alpha, ImageMagick's opacity channel is not meant to be read.
    $alpha = $im->getImageAlphaChannel();
    $px = $im->exportImagePixels(0, 0, $w, $h, $alpha ? $map : 'RGB', $storage);
    $bytes = $storage == Imagick::PIXEL_CHAR ? pack('C*', ...$px) : pack('n*', ...$px);
    $out[] = [$im->getImageFormat(), $w, $h, $alpha, md5($bytes)];
  } catch (ImagickException $e) {
    $out[] = [$e->getCode(), explode(' `', $e->getMessage())[0]];
  }
}
echo json_encode($out);
"""


def php(jobs, env):
    if PRELOAD:  # php loads its extensions with RTLD_DEEPBIND, which ASan refuses
        return None
    r = run(["php", "-r", PHP, json.dumps(jobs)], env)
    if r.returncode != 0:
        return [f"php failed: {r.stderr.decode(errors='replace')}"] * len(jobs)
    return json.loads(r.stdout)


def ppm(path, width, rows, rgb):
    path.write_bytes(b"P6 %d %d 255\n" % (width, rows) + rgb)
    return path


def pictures(fixtures):
    manifest = [line.split("\t") for line in (fixtures / "manifest.tsv").read_text().splitlines()]
    for kind, name, width, rows in manifest:
        if kind != "picture":
            continue
        rgb = (fixtures / f"{name}.rgb").read_bytes()
        # ImageMagick's limits (Debian's policy.xml: 16000 pixels a side) answer
        # for the picture as they answer for the same picture as a PPM file.
        stock = run(["convert", ppm(WORK / "same.ppm", int(width), int(rows), rgb), "-depth", "8",
                     "rgb:-"], STOCK)
        ours = run(["convert", fixtures / f"{name}.bmp", "-depth", "8", "rgb:-"], WITH)
        if stock.returncode == 0:
            check(ours.returncode == 0 and ours.stdout == rgb, f"convert {name}: exact")
        else:
            check(ours.returncode != 0 and words(ours.stderr) == words(stock.stderr),
                  f"convert {name}: refused as the PPM is: {words(ours.stderr)!r}")
        size = run(["identify", "-ping", "-format", "%m %w %h", fixtures / f"{name}.bmp"], WITH)
        check(size.stdout.decode() == f"MRV {width} {rows}", f"identify {name}: {size.stdout}")

    chart = fixtures / "chart_173x97.bmp"
    rgb = (fixtures / "chart_173x97.rgb").read_bytes()
    named = {n: WORK / n for n in ["chart.png", "chart", "chart.dat"]}
    for path in named.values():
        shutil.copy(chart, path)
    reads = [
        ("by its name", [chart], None),
        ("named .png", [named["chart.png"]], None),
        ("without extension", [named["chart"]], None),
        ("MRV: prefix", [f"MRV:{chart}"], None),
        ("MRV: prefix, named .dat", [f"MRV:{named['chart.dat']}"], None),
        ("piped", ["-"], chart.read_bytes()),
        ("MRV: prefix, piped", ["MRV:-"], chart.read_bytes()),
    ]
    for what, source, stdin in reads:
        r = run(["convert", *source, "-depth", "8", "rgb:-"], WITH, stdin)
        check(r.returncode == 0 and r.stdout == rgb, f"convert chart_173x97 {what}: exact")
    # Q16: each 8-bit value times 257.
    r = run(["convert", chart, "-depth", "16", "rgb:-"], WITH)
    wide = [int.from_bytes(r.stdout[i:i + 2], "big") for i in range(0, len(r.stdout), 2)]
    check(wide == [257 * v for v in rgb], "convert chart_173x97 in 16 bits: v x 257")

    # identify asks for the header only: a header without rows answers.
    r = run(["identify", "-ping", "-format", "%m %w %h", fixtures / "short_header_only_64x64.bmp"], WITH)
    check(r.returncode == 0 and r.stdout == b"MRV 64 64", f"identify of a header alone: {r.stdout}")
    # Reading it refuses it before sizing a pixel cache, which these limits
    # would refuse in other words.
    r = run(["convert", "-limit", "area", "1KP", "-limit", "disk", "1KiB",
             fixtures / "short_header_only_64x64.bmp", "null:"], WITH)
    check(words(r.stderr) == "truncated Morvellane bitmap: the file ends after 66 of the 8258 "
          "bytes of its 64 x 64 pixels", f"a header alone, before the pixel cache: {r.stderr}")
    limited = ["-limit", "width", "100"]
    stock = run(["convert", *limited, ppm(WORK / "chart.ppm", 173, 97, rgb), "rgb:-"], STOCK)
    ours = run(["convert", *limited, chart, "rgb:-"], WITH)
    check(stock.returncode != 0 and ours.returncode != 0 and words(ours.stderr) == words(stock.stderr),
          f"-limit width 100: refused as the PPM is: {words(ours.stderr)!r}")

    # mogrify: a new format beside the file, and a change in place, which
    # ImageMagick writes as a BMP of its own.
    folder = WORK / "mogrify"
    folder.mkdir()
    shutil.copy(chart, folder / "chart.bmp")
    r = run(["mogrify", "-format", "png", "chart.bmp"], WITH, cwd=folder)
    r = run(["convert", folder / "chart.png", "-depth", "8", "rgb:-"], STOCK)
    check(r.stdout == rgb, "mogrify -format png: exact")
    run(["mogrify", "-flop", "chart.bmp"], WITH, cwd=folder)
    flopped = run(["convert", WORK / "chart.ppm", "-flop", "-depth", "8", "rgb:-"], STOCK).stdout
    r = run(["convert", folder / "chart.bmp", "-depth", "8", "rgb:-"], STOCK)
    check(r.stdout == flopped, "mogrify -flop in place: the flopped picture")

    digest = hashlib.md5(rgb).hexdigest()
    jobs = [[how, str(p), "RGB", 1] for how in ("file", "blob")
            for p in (chart, named["chart.png"], named["chart"])]
    jobs.append(["file", f"MRV:{named['chart.dat']}", "RGB", 1])
    for job, got in zip(jobs, php(jobs, WITH) or []):
        check(got == ["MRV", 173, 97, False, digest], f"PHP Imagick {job[0]} {job[1]}: {got}")


def standard(fixtures):
    manifest = [line.split("\t") for line in (fixtures / "manifest.tsv").read_text().splitlines()]
    files = [fixtures / f"{name}.bmp" for kind, name, *_ in manifest if kind == "other"]
    files += sorted(BMPSUITE.glob("*/*.bmp"))
    def both(f):
        args = ["convert", f, "-print", "%m %w %h %A\n", "-depth", "16", "rgba:-"]
        return f, run(args, STOCK), run(args, WITH)

    with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
        results = list(pool.map(both, files))
    for f, stock, ours in results:
        same = (ours.returncode, ours.stdout, ours.stderr) == (stock.returncode, stock.stdout,
                                                               stock.stderr)
        said = stock.stdout.partition(b"\n")[0] if stock.returncode == 0 else words(stock.stderr)
        check(same, f"convert {f.parent.name}/{f.name}: as without the module ({said})")
    jobs = [[how, str(f), "RGBA", 4] for how in ("file", "blob") for f in files]
    for job, stock, ours in zip(jobs, php(jobs, STOCK) or [], php(jobs, WITH) or []):
        check(ours == stock, f"PHP Imagick {job[0]} {Path(job[1]).name}: as without the module")


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    fixtures = WORK / "fixtures"
    fixtures.mkdir(parents=True)
    subprocess.run([WRITER, fixtures], check=True)
    magic = run(["convert", "-list", "magic"], STOCK).stdout
    if b"MRV" in magic:
        print("skipped: an installed MRV coder answers for ImageMagick without the module")
        sys.exit(77)
    {"pictures": pictures, "standard": standard}[GROUP](fixtures)
    if failures:
        sys.exit(f"{len(failures)} failed:\n" + "\n".join(failures))
    if PRELOAD:
        print("PHP's Imagick left to installed_check.sh: php cannot load an instrumented module")
    print(f"imagemagick {GROUP}: all passed")


main()
