"""Run by installed_check.sh with the package installed and nothing set:
the pictures the README's commands wrote, fixture pictures through convert
and PHP's Imagick, standard BMPs as ImageMagick's BMP coder reads them when
named (BMP:FILE, which no magic entry reaches), and the shared table of
broken files through PHP's Imagick in one process: a CorruptImageError with
the table's words each, and a good picture read after them.
Usage: installed_check.py FIXTURES BMPSUITE SAME_REASONS PNG...
"""

import ast
import hashlib
import json
import subprocess
import sys
from pathlib import Path

FIXTURES, BMPSUITE, SAME_REASONS = (Path(a) for a in sys.argv[1:4])
PNGS = sys.argv[4:]
CORRUPT_IMAGE_ERROR = 425  # ImageMagick 6's ExceptionType, Imagick's exception code
failures = 0


def check(ok, what):
    global failures
    print(f"{'ok  ' if ok else 'FAIL'}: {what}")
    failures += not ok


def table(name):
    """A dictionary written out in same_reasons.py, read without running it."""
    tree = ast.parse(SAME_REASONS.read_text())
    node = next(n for n in tree.body if isinstance(n, ast.Assign) and ast.unparse(n.targets[0]) == name)
    return ast.literal_eval(node.value)


def convert(*args):
    return subprocess.run(["convert", *map(str, args)], capture_output=True, timeout=120)


chart = (FIXTURES / "chart_173x97.rgb").read_bytes()
for png in PNGS:
    check(convert(png, "-depth", "8", "rgb:-").stdout == chart, f"{png}: the exact picture")
for name in ["chart_173x97", "mixed_3x-2", "mixed_top_down_255x-128", "pixel_1x1"]:
    r = convert(FIXTURES / f"{name}.bmp", "-depth", "8", "rgb:-")
    check(r.stdout == (FIXTURES / f"{name}.rgb").read_bytes(), f"convert {name}: exact")

standard = [FIXTURES / f"{n}.bmp" for n in ["other_24_bits", "other_bitfields_565_zero_size",
                                            "other_bitfields_565_stored_size", "other_v4_header"]]
standard += sorted(BMPSUITE.glob("[gb]/*.bmp"))
for f in standard:
    args = ["-print", "%m %w %h %A\n", "-depth", "16", "rgba:-"]
    a, b = convert(f, *args), convert(f"BMP:{f}", *args)
    check((a.returncode, a.stdout, a.stderr) == (b.returncode, b.stdout, b.stderr),
          f"convert {f.parent.name}/{f.name}: as the BMP coder reads it")

expected, overrides = table("EXPECTED"), table("OVERRIDES")
broken = {n: w for n, w in expected.items() if n != "other_24_bits"}
PHP = r"""
$out = [];
foreach (json_decode($argv[1], true) as $name => $path) {
  try { (new Imagick($path)); $out[$name] = ['read']; }
  catch (ImagickException $e) { $out[$name] = [$e->getCode(), explode(' `', $e->getMessage())[0]]; }
}
$im = new Imagick(); $im->readImageBlob(file_get_contents($argv[2]));
$out['good'] = md5(pack('C*', ...$im->exportImagePixels(0, 0, 173, 97, 'RGB', Imagick::PIXEL_CHAR)));
echo json_encode($out);
"""
paths = {n: str(FIXTURES / f"{n}.bmp") for n in broken}
r = subprocess.run(["php", "-r", PHP, json.dumps(paths), str(FIXTURES / "chart_173x97.bmp")],
                   capture_output=True, text=True, timeout=120)
got = json.loads(r.stdout) if r.returncode == 0 else {}
for name, words in broken.items():
    want = overrides.get(("imagemagick", name), words)
    said = got.get(name, [r.stderr])
    if ("imagemagick", name) in overrides:  # ImageMagick's own limit, in its words
        check(said[-1] == want, f"PHP Imagick {name}: {said}")
    else:
        check(said == [CORRUPT_IMAGE_ERROR, want], f"PHP Imagick {name}: CorruptImageError, {said}")
check(got.get("good") == hashlib.md5(chart).hexdigest(), "PHP Imagick: a good picture after them")
sys.exit(1 if failures else 0)
