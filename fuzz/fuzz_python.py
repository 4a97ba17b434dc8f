"""A seeded fuzz pass of the Python package: mutations of the core's seeds
(fuzz/make_seeds.cpp) through morvellane.decode and the Pillow plug-in, in
the sanitizer tree's build of the extension under ASan and UBSan.

Every input must give either the exact picture (checked against a model of
the format written here with the hand-written channel tables) or one of the
documented refusals, the same way through both paths; anything else stops
the pass with the input saved. The input under test is always in
ARTIFACTS/current-input, so that a sanitizer's report has it too.

Usage: fuzz_python.py SEEDS_DIR LEVELS_BIN ARTIFACTS_DIR [--seconds S] [--seed N] [--runs N]
"""

import argparse
import io
import os
import random
import struct
import sys
import time
import warnings
from pathlib import Path

import numpy as np
from PIL import Image

import morvellane

morvellane.register()

# Values at the edges of the header's 16- and 32-bit arithmetic.
EDGES = [0, 1, 2, 3, 4, 0x7F, 0x80, 0xFF, 0x100, 0x7FFF, 0x8000, 0xFFFF, 0x10000,
         0x2AAAAAAB, 0x55555556, 0x7FFFFFFF, 0x80000000, 0x80000001, 0xFFFFFFFE, 0xFFFFFFFF]
FIELDS = [2, 10, 14, 18, 22, 26, 28, 30, 34]  # bfSize .. biSizeImage
MAX_LEN = 65536


def put32(data, offset, value):
    if len(data) < offset + 4:
        data.extend(bytes(offset + 4 - len(data)))
    data[offset:offset + 4] = struct.pack("<I", value & 0xFFFFFFFF)


def mutate(rng, data, seeds):
    data = bytearray(data)
    for _ in range(rng.randint(1, 4)):
        op = rng.randrange(7)
        if op == 0 and data:
            data[rng.randrange(len(data))] ^= 1 << rng.randrange(8)
        elif op == 1 and data:
            data[rng.randrange(len(data))] = rng.randrange(256)
        elif op == 2:
            put32(data, rng.choice(FIELDS), rng.choice(EDGES))
        elif op == 3 and data:
            del data[rng.randrange(len(data) + 1):]
        elif op == 4:
            data.extend(rng.randbytes(rng.randrange(200)))
        elif op == 5:
            # Small sizes of either sign, with the marker kept true, so that
            # the acceptance test lets the input through to the decoder.
            width, height = rng.randint(-3, 70), rng.choice([-1, 1]) * rng.randint(0, 70)
            put32(data, 18, width)
            put32(data, 22, height)
            put32(data, 34, width * 3 * height)
        else:
            other = rng.choice(seeds)
            cut = rng.randrange(len(other) + 1)
            data[cut:] = other[cut:]
    return bytes(data[:MAX_LEN])


class Model:
    """What a Morvellane file must decode to, from the format's definition
    and the channel tables: (width, rows, RGB bytes), or None when its sizes
    are impossible or it lacks rows."""

    def __init__(self, levels):
        self.l5 = np.frombuffer(levels[:32], np.uint8)
        self.l6 = np.frombuffer(levels[32:96], np.uint8)

    def picture(self, data):
        width, height = struct.unpack_from("<ii", data, 18)
        rows = abs(height)
        if width <= 0 or height in (0, -(2**31)) or len(data) < 66 + 2 * width * rows:
            return None
        v = np.frombuffer(data, "<u2", width * rows, 66).reshape(rows, width)
        out = np.stack([self.l5[v >> 11], self.l6[(v >> 5) & 63], self.l5[v & 31]], axis=-1)
        return width, rows, (out[::-1] if height > 0 else out).tobytes()


def buffer_of(rng, data):
    # The same bytes as an object of its own, or as a view inside a longer
    # buffer whose bytes beyond the view would complete a cut-short file.
    kind = rng.randrange(3)
    if kind == 0:
        return data
    if kind == 1:
        return bytearray(data)
    return memoryview(data + rng.randbytes(64))[:len(data)]


def check(data, rng, model):
    """Raises AssertionError when an outcome is not one of those allowed."""
    accepted = morvellane.is_morvellane(data)
    expected = model.picture(data) if accepted else None
    refusal = None
    try:
        pixels = morvellane.decode(buffer_of(rng, data))
    except ValueError as error:
        assert accepted or (str(error), error.reason) == ("not a Morvellane bitmap",
                                                          "not-morvellane"), error
        assert expected is None, f"a whole picture refused: {error}"
        pixels, refusal = None, error
    except MemoryError as error:
        # Inputs stay small, so only a picture whose rows are missing can
        # declare more than the limit.
        assert accepted and expected is None, f"a whole picture refused: {error}"
        assert error.reason == "too-large", error
        pixels = None
    else:
        assert accepted and pixels == expected, "the picture differs from the model"
        pixels = pixels[2]

    try:
        with Image.open(io.BytesIO(data), formats=["MRV"]) as im:
            opened = im.tobytes()
    except Image.UnidentifiedImageError:
        assert not accepted, "the plug-in declined a Morvellane header"
        return pixels is not None
    except (MemoryError, Image.DecompressionBombError):
        # Pillow's limits, which decode does not share.
        assert accepted and pixels is None, "the plug-in refused what decode read"
        return False
    except OSError as error:
        assert accepted and pixels is None, "the plug-in refused what decode read"
        # One reader: the same refusal in the same words.
        assert refusal is None or str(error) == str(refusal), f"{error} against {refusal}"
        return False
    assert accepted and opened == pixels, "the plug-in and decode disagree"
    return True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("seeds", type=Path)
    parser.add_argument("levels", type=Path)
    parser.add_argument("artifacts", type=Path)
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--runs", type=int, default=0, help="stop after this many inputs")
    args = parser.parse_args()

    seeds = [p.read_bytes() for p in sorted(args.seeds.iterdir()) if p.is_file()]
    if not seeds:
        sys.exit(f"fuzz_python: no seeds in {args.seeds}")
    model = Model(args.levels.read_bytes())
    Image.MAX_IMAGE_PIXELS = 1 << 20  # inputs stay below 64 KiB
    warnings.simplefilter("ignore", Image.DecompressionBombWarning)
    args.artifacts.mkdir(parents=True, exist_ok=True)
    current = os.open(args.artifacts / "current-input", os.O_RDWR | os.O_CREAT | os.O_TRUNC)

    rng = random.Random(args.seed)
    end = time.monotonic() + args.seconds
    runs = decoded = 0
    while time.monotonic() < end and (args.runs == 0 or runs < args.runs):
        data = seeds[runs] if runs < len(seeds) else mutate(rng, rng.choice(seeds), seeds)
        os.ftruncate(current, 0)
        os.pwrite(current, data, 0)
        runs += 1
        try:
            decoded += check(data, rng, model)
        except AssertionError as error:
            failed = args.artifacts / f"failed-{args.seed}-{runs}"
            failed.write_bytes(data)
            sys.exit(f"fuzz_python: input {runs} (seed {args.seed}): {error}; saved as {failed}")
    os.close(current)
    os.remove(args.artifacts / "current-input")
    print(f"fuzz_python: {runs} inputs, {decoded} decoded, the rest refused as documented "
          f"(seed {args.seed}, {args.seconds:g} s)")


if __name__ == "__main__":
    main()
