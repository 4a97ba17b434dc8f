#!/usr/bin/env python3
"""The same broken files through every front end: each must refuse each file
for the same reason, in the same words (EXPECTED below; the files are the
fixture builder's, as tests/python/write_fixtures.cpp writes them).

Front ends, each as its users meet it: mrvhost.exe under Wine (the plug-in's
refusal explained), mrvconvert to PNG and to JPEG, the Python module's
decode() and Pillow's Image.open().load(), the npm package's decode() in
Node, QImageReader with the Qt 5 and Qt 6 plug-ins, gdk_pixbuf_new_from_file,
convert with the ImageMagick coder, libvips' loader as `vips copy` reads.
Where a front end has a limit of its own, it is set to the 256 MiB the table
names; the plug-in's is its 32-bit block, which its words name instead.

Usage: same_reasons.py NATIVE_TREE WIN32_TREE WASM32_TREE WORK_DIR
Prints one line per front end and file, and ends with "same reasons: N
checked" (exit 0) or the differences (exit 1).
"""

import json
import os
import subprocess
import sys
from pathlib import Path

# Run as a program; tests/gimp/gimp_check.py imports the table alone (GIMP
# starts once there for pictures, other BMPs and these files together).
if __name__ == "__main__":
    NATIVE, WIN32, WASM32, WORK = (Path(a).resolve() for a in sys.argv[1:5])
LIMIT_MIB = 256

# What every front end must say of each file, written out by hand: rows
# missing, past the 256 MiB every front end is given (and past the plug-in's
# 32-bit block), the header cut short, impossible sizes, another bitmap.
EXPECTED = {
    "short_half_64x64": "truncated Morvellane bitmap: the file ends after 4162 of the 8258 bytes "
    "of its 64 x 64 pixels",
    "large_header_40000x40000": "Morvellane bitmap too large: 40000 x 40000 pixels, more than "
    "the limit of 256 MiB decoded",
    "broken_header_cut_50": "Morvellane bitmap cut short: the file ends after 50 of the 66 bytes "
    "of its header",
    "broken_negative_width": "broken Morvellane bitmap: its width is negative (-1)",
    "broken_no_width": "broken Morvellane bitmap: it has no pixels (0 x 5)",
    "broken_most_negative_height": "broken Morvellane bitmap: its height is impossible "
    "(-2147483648)",
    "other_24_bits": "not a Morvellane bitmap",
}
# Where a front end's words differ from the table by design: the plug-in's
# limit is its 32-bit block; Pillow's own decompression-bomb check answers a
# picture this large before any reader does.
OVERRIDES = {
    ("mrvhost", "large_header_40000x40000"): "Morvellane bitmap too large: 40000 x 40000 "
    "pixels, more than the limit of 4294967295 bytes decoded",
    ("pillow", "large_header_40000x40000"): "Image size (1600000000 pixels) exceeds limit of "
    "178956970 pixels, could be decompression bomb DOS attack.",
    # ImageMagick's own limits (Debian's policy.xml: 16000 pixels a side).
    ("imagemagick", "large_header_40000x40000"): "width or height exceeds limit",
    # libvips holds a strip at a time, never the picture: no limit applies,
    # and the header's 3.2 GB of rows are missing.
    ("vips", "large_header_40000x40000"): "truncated Morvellane bitmap: the file ends after 66 "
    "of the 3200000066 bytes of its 40000 x 40000 pixels",
}
# Front ends that hand other files to another reader instead of refusing them.
DELEGATE_OTHERS = {"pillow", "qt5", "qt6", "gdk-pixbuf", "imagemagick", "vips"}


def run(args, env=None, cwd=None):
    merged = dict(os.environ, **(env or {}))
    return subprocess.run(args, capture_output=True, text=True, env=merged, cwd=cwd, timeout=300)


def after_name(line, path):
    """The words after "PROGRAM: PATH: " in a tool's message."""
    marker = f"{path}: "
    return line[line.index(marker) + len(marker):] if marker in line else line


def tool_words(prefix, args_of, files):
    words = {}
    for name, path in files.items():
        r = run(args_of(path))
        line = r.stderr.strip().splitlines()[-1] if r.stderr.strip() else f"(exit {r.returncode})"
        words[name] = after_name(line, str(path)) if line.startswith(prefix) else line
    return words


def mrvhost(files):
    exe = WIN32 / "bin" / "mrvhost.exe"
    out = WORK / "mrvhost.bmp"
    return tool_words("mrvhost: ", lambda p: ["wine", str(exe), "convert", str(p), str(out)], files)


def mrvconvert(suffix):
    exe = NATIVE / "tools" / "mrvconvert" / "mrvconvert"

    def words(files):
        out = WORK / f"mrvconvert.{suffix}"
        return tool_words("mrvconvert: ",
                          lambda p: [str(exe), f"--limit={LIMIT_MIB}", str(p), str(out)], files)

    return words


def probe(program, env=None):
    def words(files):
        r = run([str(program)] + [str(p) for p in files.values()], env=env)
        by_path = dict(line.split("\t", 1) for line in r.stdout.splitlines() if "\t" in line)
        # gdk_pixbuf_new_from_file puts 'Failed to load image "FILE": ' in front.
        by_path = {p: w.split("\u201d: ", 1)[-1] for p, w in by_path.items()}
        return {name: by_path.get(str(p), f"(no answer; exit {r.returncode})")
                for name, p in files.items()}

    return words


PYTHON_SCRIPT = """
import json, sys
import morvellane
from PIL import Image
morvellane.register()
out = {}
for name, path in json.loads(sys.argv[2]).items():
    try:
        if sys.argv[1] == "decode":
            morvellane.decode(open(path, "rb").read())
        else:
            with Image.open(path) as im:
                im.load()
        out[name] = "read"
    except Exception as e:
        out[name] = str(e)
print(json.dumps(out))
"""


def sanitizer_env():
    """An instrumented extension needs python3 run with the ASan runtime."""
    cache = (NATIVE / "CMakeCache.txt").read_text()
    if "MRVLN_SANITIZE:BOOL=ON" not in cache:
        return {}
    compiler = next(line.split("=", 1)[1] for line in cache.splitlines()
                    if line.startswith("CMAKE_CXX_COMPILER:"))
    runtime = run([compiler, "-print-file-name=libclang_rt.asan-x86_64.so"]).stdout.strip()
    return {"LD_PRELOAD": runtime, "ASAN_OPTIONS": "detect_leaks=0", "PYTHONMALLOC": "malloc"}


def python(mode):
    def words(files):
        env = {"PYTHONPATH": str(NATIVE / "readers" / "python"), **sanitizer_env()}
        r = run(["/usr/bin/python3", "-c", PYTHON_SCRIPT, mode,
                 json.dumps({n: str(p) for n, p in files.items()})], env=env)
        return json.loads(r.stdout) if r.returncode == 0 else {n: r.stderr for n in files}

    return words


NODE_SCRIPT = """
import { readFileSync } from 'node:fs';
const { decode } = await import(process.argv[1]);
const out = {};
for (const [name, path] of Object.entries(JSON.parse(process.argv[2]))) {
  try { await decode(readFileSync(path)); out[name] = 'read'; } catch (e) { out[name] = e.message; }
}
console.log(JSON.stringify(out));
"""


def web(files):
    package = WASM32 / "readers" / "web" / "package" / "morvellane.js"
    r = run(["node", "--input-type=module", "-e", NODE_SCRIPT, str(package),
             json.dumps({n: str(p) for n, p in files.items()})])
    return json.loads(r.stdout) if r.returncode == 0 else {n: r.stderr for n in files}


def imagemagick(files):
    """convert with the tree's coder reads every file in one process, and a
    good file after them: its words are the line that names each file."""
    env = dict(line.split("=", 1) for line in
               (NATIVE / "readers" / "imagemagick" / "imagemagick.env").read_text().splitlines())
    env.update({k: v for k, v in sanitizer_env().items() if k != "PYTHONMALLOC"})
    good = WORK / "chart_173x97.bmp"
    r = run(["convert", *map(str, files.values()), str(good), "-print", "%f\n", "null:"], env=env)
    if r.stdout.strip() != good.name:
        return {n: f"(the good file after them was not read: {r.stderr})" for n in files}
    lines = r.stderr.splitlines()
    return {n: next((line.split(": ", 1)[1].split(f" `{p}'")[0] for line in lines
                     if f"`{p}'" in line), "(no message)") for n, p in files.items()}


def main():
    WORK.mkdir(parents=True, exist_ok=True)
    probes = NATIVE / "tests" / "reasons"
    r = run([str(NATIVE / "tests" / "python" / "write_python_fixtures"), str(WORK)])
    if r.returncode != 0:
        sys.exit(f"same_reasons: write_python_fixtures failed: {r.stderr}")
    files = {name: WORK / f"{name}.bmp" for name in EXPECTED}

    # The build tree's loader cache and MIME database, as the tests use them.
    pixbuf = dict(line.split("=", 1) for line in
                  (probes / "pixbuf_probe.env").read_text().splitlines() if "=" in line)
    front_ends = {
        "mrvhost": mrvhost,
        "mrvconvert png": mrvconvert("png"),
        "mrvconvert jpeg": mrvconvert("jpg"),
        "python decode": python("decode"),
        "pillow": python("pillow"),
        "web": web,
        "qt5": probe(probes / "qt5_probe"),
        "qt6": probe(probes / "qt6_probe", {"QT_IMAGEIO_MAXALLOC": str(LIMIT_MIB)}),
        "gdk-pixbuf": probe(probes / "pixbuf_probe", pixbuf),
    }
    if (NATIVE / "readers" / "imagemagick" / "imagemagick.env").exists():
        front_ends["imagemagick"] = imagemagick
    if (probes / "vips_probe").exists():  # the build tree's libvips home
        vips = dict(line.split("=", 1) for line in
                    (probes / "vips_probe.env").read_text().splitlines() if "=" in line)
        front_ends["vips"] = probe(probes / "vips_probe", vips)
    checked, wrong = 0, []
    for front_end, words_of in front_ends.items():
        key = front_end.split()[0]
        mine = {n: p for n, p in files.items()
                if not (n == "other_24_bits" and key in DELEGATE_OTHERS)}
        got = words_of(mine)
        for name in mine:
            want = OVERRIDES.get((key, name), EXPECTED[name])
            ok = got.get(name) == want
            checked += 1
            print(f"{'ok ' if ok else 'BAD'} {front_end:16} {name:27} {got.get(name)}")
            if not ok:
                wrong.append(f"{front_end}, {name}: said {got.get(name)!r}, expected {want!r}")
    if wrong:
        print("\n".join(["different reasons:"] + wrong))
        sys.exit(1)
    print(f"same reasons: {checked} checked")


if __name__ == "__main__":
    main()
