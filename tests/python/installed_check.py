"""The checks of installed_check.sh, run by Debian's python3 in isolated
mode: FIXTURES is the writer's folder, PNG the example's picture."""

import importlib.metadata
import sys
from pathlib import Path

from PIL import Image

import morvellane
import morvellane.pillow  # noqa: F401  (importing it registers the plug-in)

fixtures, png = Path(sys.argv[1]), Path(sys.argv[2])
failures = []


def check(what, holds):
    print(f"   {'ok' if holds else 'FAIL'}: {what}")
    if not holds:
        failures.append(what)


expected = (fixtures / "chart_173x97.rgb").read_bytes()
check(f"morvellane {morvellane.__version__} from {Path(morvellane.__file__).parent}",
      morvellane.__file__.startswith("/usr/lib/python3/dist-packages/morvellane/"))
check("its metadata for pip and importlib",
      importlib.metadata.version("morvellane") == morvellane.__version__)
with Image.open(png) as im:
    check("the README's example wrote the exact 173 x 97 picture",
          (im.format, im.size) == ("PNG", (173, 97)) and im.convert("RGB").tobytes() == expected)
with Image.open(fixtures / "chart_173x97.bmp") as im:
    check("Image.open reads it as MRV", im.format == "MRV" and im.tobytes() == expected)
with Image.open(fixtures / "other_bitfields_565_stored_size.bmp") as im:
    check("a standard 16-bit BMP with pixels at 66 stays Pillow's", im.format == "BMP")
sys.exit(1 if failures else 0)
