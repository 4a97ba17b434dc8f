"""Exact reader of Morvellane bitmaps (16-bit 5-6-5 pixels in a BMP file).

    import morvellane
    width, height, rgb = morvellane.decode(open("chart.bmp", "rb").read())
    morvellane.decode(data, out=array)   # into a (height, width, 3) uint8 array
    morvellane.register()   # Pillow's Image.open reads them too

The decoder is the project's C++ core; this layer only names its parts.
"""

from . import _morvellane
from ._morvellane import DEFAULT_OUTPUT_LIMIT, __version__

MIME_TYPE = "image/x-morvellane"

__all__ = ["DEFAULT_OUTPUT_LIMIT", "MIME_TYPE", "decode", "is_morvellane", "register"]


def is_morvellane(data):
    """Whether ``data`` (any bytes-like object) starts as a Morvellane bitmap does.

    Decided on the first 38 bytes; shorter data is not one.
    """
    return _morvellane.is_morvellane(data)


def decode(data, limit=DEFAULT_OUTPUT_LIMIT, out=None):
    """Decodes a whole Morvellane file held in ``data`` (any bytes-like object).

    Returns ``(width, height, pixels)``: ``pixels`` holds RGB rows, the top
    row first, ``3 * width`` bytes each. It is a new ``bytes`` object, so that
    ``numpy.frombuffer(pixels, numpy.uint8).reshape(height, width, 3)`` is the
    picture; or, given ``out``, ``out`` itself, written in place with nothing
    allocated: any writable C-contiguous buffer of exactly ``3 * width *
    height`` bytes, such as ``numpy.empty((height, width, 3), numpy.uint8)``
    (flat, or of that shape). A wrong ``out`` raises what its exporter raises
    (``BufferError``, ``ValueError``, ``TypeError``) or ``ValueError``, and is
    left as it was. The GIL is released while the rows are converted.

    Raises ``ValueError`` for data that is not a Morvellane bitmap or does not
    hold what its header declares, and ``MemoryError`` for a picture whose
    pixels would exceed ``limit`` bytes (``None``: no limit) or memory that
    cannot be had; both with the reader's words and, as ``reason``, a short
    name: ``not-morvellane``, ``header-cut-short``, ``negative-width``,
    ``impossible-size``, ``truncated`` (``ValueError``), ``too-large``,
    ``out-of-memory`` (``MemoryError``). Nothing is written to ``out`` then.
    """
    return _morvellane.decode(data, limit, out)


def register():
    """Adds the Pillow plug-in (format ``MRV``) ahead of Pillow's BMP reader.

    Safe to call more than once, before or after ``PIL.Image.init()``.
    """
    from . import pillow

    pillow.register()
