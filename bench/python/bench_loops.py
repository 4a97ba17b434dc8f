"""bench_loops.py SIDE FILE LOADS [MODE]: the loops Python users write, LOADS
times in this process, picture after picture, each new result replacing the
previous one. SIDE `ours` reads a Morvellane bitmap through the package
`morvellane` that PYTHONPATH names (any build, old or new); `stock` reads the
same picture as a 24-bit BMP through Pillow's own BMP reader, without
importing `morvellane`. Prints per load "<ms> <minor page faults>", nothing
else on stdout; checks the last picture's size after the loop.

MODE (default open-load):
  open-load          im = Image.open(FILE); im.load()
  open-load-chained  Image.open(FILE).load()
  decode             ours: w, h, pixels = morvellane.decode(data)
                     stock: Image.open(io.BytesIO(data)).load()
                     (data: the file's bytes, read once before the loop)
  decode-out         ours: morvellane.decode(data, out=array), one array of
                     shape (h, w, 3) uint8 made before the loop (not touched)
                     stock: im = Image.open(io.BytesIO(data));
                     numpy.copyto(array, numpy.asarray(im))
"""

import inspect
import io
import resource
import struct
import sys
import time

MODES = ["open-load", "open-load-chained", "decode", "decode-out"]


def minor_faults():
    return resource.getrusage(resource.RUSAGE_SELF).ru_minflt


def bmp_size(path):
    # Both sides' files store the picture's size where every BMP does.
    with open(path, "rb") as f:
        width, height = struct.unpack("<ii", f.read(26)[18:26])
    return width, abs(height)


def mark():
    return minor_faults(), time.perf_counter()


def report(started):
    elapsed = time.perf_counter() - started[1]
    faults = minor_faults() - started[0]
    print(f"{elapsed * 1e3:.3f} {faults}")


def run(side, path, loads, mode, size):
    """Runs the loop exactly as written in the usage, and tells whether the
    last picture has the file's size."""
    from PIL import Image

    if side == "ours":
        import morvellane

        morvellane.register()
    expected = ("MRV" if side == "ours" else "BMP", "RGB", size)
    if mode == "open-load":
        im = None
        for _ in range(loads):
            started = mark()
            im = Image.open(path)
            im.load()
            report(started)
        return (im.format, im.mode, im.size) == expected
    if mode == "open-load-chained":
        for _ in range(loads):
            started = mark()
            Image.open(path).load()
            report(started)
        with Image.open(path) as im:
            im.load()
            return (im.format, im.mode, im.size) == expected

    with open(path, "rb") as f:
        data = f.read()
    width, height = size
    if mode == "decode" and side == "ours":
        w = h = pixels = None
        for _ in range(loads):
            started = mark()
            w, h, pixels = morvellane.decode(data)
            report(started)
        return (w, h, len(pixels)) == (width, height, width * height * 3)
    if mode == "decode":
        im = None
        for _ in range(loads):
            started = mark()
            im = Image.open(io.BytesIO(data))
            im.load()
            report(started)
        return (im.mode, im.size) == ("RGB", size)

    import numpy as np

    out = np.empty((height, width, 3), np.uint8)
    result = None
    if side == "ours" and "out" not in inspect.signature(morvellane.decode).parameters:
        sys.stderr.write("bench_loops: this morvellane has no decode(out=)\n")
        sys.exit(2)
    if side == "ours":
        for _ in range(loads):
            started = mark()
            result = morvellane.decode(data, out=out)
            report(started)
        return result[:2] == size and result[2] is out
    im = None
    for _ in range(loads):
        started = mark()
        im = Image.open(io.BytesIO(data))
        np.copyto(out, np.asarray(im))
        report(started)
    return im.size == size


def main(argv):
    if len(argv) == 2 and argv[1] == "--help":
        print(__doc__)
        return 0
    if not 4 <= len(argv) <= 5 or argv[1] not in ("ours", "stock") or not argv[3].isdigit():
        sys.stderr.write(__doc__)
        return 2
    side, path, loads = argv[1], argv[2], int(argv[3])
    mode = argv[4] if len(argv) == 5 else MODES[0]
    if mode not in MODES:
        sys.stderr.write(f"bench_loops: no mode {mode}; modes: {', '.join(MODES)}\n")
        return 2
    size = bmp_size(path)
    if loads and not run(side, path, loads, mode, size):
        reader = "the plug-in" if side == "ours" else "Pillow"
        sys.stderr.write(f"bench_loops: {side} {mode}: the last picture is not the file's "
                         f"{size[0]} x {size[1]} read by {reader}\n")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
