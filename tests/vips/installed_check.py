"""libvips' own programs with the installed module, nothing set (see
installed_check.sh): exact pictures against the fixture writer's .rgb files,
thumbnails against libvips' thumbnails of those pixels as PNG, other BMPs
against libvips without the module, broken files against the shared table.

Usage: installed_check.py FIXTURES SAMPLES BMPSUITE STOCK_HOME TMP
"""

import ast
import os
import shutil
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

from PIL import Image

FIXTURES, SAMPLES, BMPSUITE, STOCK_HOME, TMP = (Path(a) for a in sys.argv[1:6])

def shared_table():
    """EXPECTED and OVERRIDES of tests/reasons/same_reasons.py, read, not run."""
    source = (Path(__file__).resolve().parents[1] / "reasons" / "same_reasons.py").read_text()
    tables = {}
    for node in ast.parse(source).body:
        if isinstance(node, ast.Assign) and isinstance(node.targets[0], ast.Name):
            if node.targets[0].id in ("EXPECTED", "OVERRIDES"):
                tables[node.targets[0].id] = ast.literal_eval(node.value)
    return tables["EXPECTED"], tables["OVERRIDES"]


EXPECTED, OVERRIDES = shared_table()

checked, failed = 0, []


def check(ok, what):
    global checked
    checked += 1
    if not ok:
        failed.append(what)
        print(f"FAIL: {what}")


def run(*args, stock=False, stdin=None):
    env = {k: v for k, v in os.environ.items() if k != "VIPSHOME"}
    if stock:
        env["VIPSHOME"] = str(STOCK_HOME)
    return subprocess.run([str(a) for a in args], env=env, input=stdin, capture_output=True,
                          timeout=300)


def pixels(png):
    with Image.open(png) as im:
        return im.mode, im.size, im.tobytes()


manifest = [line.split("\t") for line in (FIXTURES / "manifest.tsv").read_text().splitlines()]
pictures = {name: (int(w), abs(int(h))) for kind, name, w, h in manifest if kind == "picture"}
others = [FIXTURES / f"{name}.bmp" for kind, name, _, _ in manifest if kind == "other"]


def expected(name):
    return "RGB", pictures[name], (FIXTURES / f"{name}.rgb").read_bytes()


# Every picture, then some renamed (libvips goes by the first bytes) and some
# through a pipe (the source loader; bottom-up rows are read back).
out = TMP / "out.png"
cases = [(name, FIXTURES / f"{name}.bmp", None) for name in pictures]
renamed = TMP / "renamed"
renamed.mkdir()
for name in ("chart_173x97", "mixed_top_down_255x-128"):
    for new in ("picture.png", "picture.jpg", "picture", "PICTURE.BMP"):
        shutil.copy(FIXTURES / f"{name}.bmp", renamed / f"{name}-{new}")
        cases.append((name, renamed / f"{name}-{new}", None))
for name in ("chart_173x97", "mixed_top_down_255x-128", "large_2049x1537"):
    cases.append((name, "stdin", (FIXTURES / f"{name}.bmp").read_bytes()))
# The samples of the README's lines are the fixture charts.
for sample, name in (("colour_chart_odd_173x97", "chart_173x97"),
                     ("colour_chart_320x240", "chart_320x240")):
    check((SAMPLES / f"{sample}.bmp").read_bytes() == (FIXTURES / f"{name}.bmp").read_bytes(),
          f"sample {sample} is not the fixture {name}")
    cases.append((name, SAMPLES / f"{sample}.bmp", None))
for name, path, stdin in cases:
    r = run("vips", "copy", path, out, stdin=stdin)
    check(r.returncode == 0 and pixels(out) == expected(name),
          f"vips copy {path}: {r.stderr.decode().strip() or 'other pixels'}")
loader = run("vipsheader", "-f", "vips-loader", SAMPLES / "colour_chart_odd_173x97.bmp")
check(loader.stdout.decode().strip() == "morvellaneload", f"vipsheader: {loader.stdout!r}")

# vipsthumbnail of a Morvellane bitmap and, without the module, of the same
# pixels as PNG give the same thumbnail.
for name in ("chart_320x240", "large_2049x1537", "mixed_top_down_255x-128"):
    mode, size, rgb = expected(name)
    Image.frombytes(mode, size, rgb).save(TMP / f"{name}_png.png")
    shutil.copy(FIXTURES / f"{name}.bmp", TMP / f"{name}.bmp")
    ours = run("vipsthumbnail", TMP / f"{name}.bmp", "-s", "128", "-o", "t_%s.png")
    want = run("vipsthumbnail", TMP / f"{name}_png.png", "-s", "128", "-o", "t_%s.png",
               stock=True)
    check(ours.returncode == 0 and want.returncode == 0 and
          pixels(TMP / f"t_{name}.png") == pixels(TMP / f"t_{name}_png.png"),
          f"vipsthumbnail {name}: {ours.stderr.decode().strip() or 'another thumbnail'}")

# Every other BMP: what vips copy makes of it, or says, as without the
# module. Two at a time: libvips' start (its modules) is most of each run.
def copy_both(path, index):
    results = []
    for stock in (False, True):
        target = TMP / f"other_{index}_{stock}.png"
        r = run("vips", "copy", path, target, stock=stock)
        results.append((r.returncode, r.stderr.decode().replace(str(target), "OUT"),
                        pixels(target) if r.returncode == 0 else None))
    return path, results


bmps = sorted(BMPSUITE.rglob("*.bmp")) + others + [SAMPLES / "not_morvellane_24bit.bmp"]
with ThreadPoolExecutor(2) as pool:
    for path, (ours, stock) in pool.map(copy_both, bmps, range(len(bmps))):
        check(ours == stock, f"{path} differs from libvips without the module: {ours[:2]}")

# The shared table's broken files, each refused in its words.
for name, words in EXPECTED.items():
    if name == "other_24_bits":  # another BMP: libvips' own loaders answer (above)
        continue
    r = run("vips", "copy", FIXTURES / f"{name}.bmp", out)
    want = "morvellaneload: " + OVERRIDES.get(("vips", name), words)
    check(r.returncode != 0 and want in r.stderr.decode().splitlines(),
          f"{name}: said {r.stderr.decode().strip()!r}, expected {want!r}")

print(f"vips installed check: {checked} checked, {len(failed)} failed")
sys.exit(1 if failed else 0)
