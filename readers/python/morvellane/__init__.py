"""Exact reader of Morvellane bitmaps (16-bit 5-6-5 pixels in a BMP file).

    import morvellane
    width, height, rgb = morvellane.decode(open("chart.bmp", "rb").read())
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


def decode(data, limit=DEFAULT_OUTPUT_LIMIT):
    """Decodes a whole Morvellane file held in ``data`` (any bytes-like object).

    Returns ``(width, height, pixels)``: ``pixels`` is ``bytes`` of RGB rows,
    the top row first, ``3 * width`` bytes each, so that
    ``numpy.frombuffer(pixels, numpy.uint8).reshape(height, width, 3)`` is the
    picture. The GIL is released while the rows are converted.

    Raises ``ValueError`` for data that is not a Morvellane bitmap or does not
    hold what its header declares, and ``MemoryError`` for a picture whose
    pixels would exceed ``limit`` bytes (``None``: no limit but the core's
    32-bit sizes), each with the reason.
    """
    return _morvellane.decode(data, limit)


def register():
    """Adds the Pillow plug-in (format ``MRV``) ahead of Pillow's BMP reader.

    Safe to call more than once, before or after ``PIL.Image.init()``.
    """
    from . import pillow

    pillow.register()
