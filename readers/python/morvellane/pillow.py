"""Pillow plug-in for Morvellane bitmaps; importing this module registers it.

Pillow asks its readers in the order of ``PIL.Image.ID``, and its BMP reader
takes every file that starts with ``BM``, so the plug-in goes first. Files the
core does not accept are declined in ``_open`` and reach Pillow's own readers
unchanged. Read-only: no writer is registered, and no file extension, since
``.bmp`` stays with Pillow's BMP writer.
"""

import io

from PIL import Image, ImageFile

from . import MIME_TYPE, _morvellane

FORMAT = "MRV"


def _accept(prefix):
    # The container's signature, as Pillow's BMP reader tests it; the core
    # decides on the whole header in _open.
    return prefix[:2] == b"BM"


def _set_mode(image, mode):
    # Pillow 10.1 made ``mode`` a read-only property over ``_mode``.
    if isinstance(getattr(type(image), "mode", None), property):
        image._mode = mode
    else:
        image.mode = mode


class MorvellaneImageFile(ImageFile.ImageFile):
    """A Morvellane bitmap: mode ``RGB``; ``load()`` decodes it, once.

    Pillow's raw decoder takes the rows in strips that the core converts as
    they are read (``load_read``), so that Pillow's own image is the only
    block the size of the picture, and Pillow's loader keeps its conventions:
    ``LOAD_TRUNCATED_IMAGES``, the closing of the file, one decode.
    """

    format = FORMAT
    format_description = "Morvellane bitmap (16-bit 5-6-5 BMP)"

    def _open(self):
        header = self.fp.read(_morvellane.HEADER_SIZE)
        if not _morvellane.is_morvellane(header):
            raise SyntaxError("not a Morvellane bitmap")
        try:
            width, height, self._mrv_file_size, self._mrv_strip, top_first = _morvellane.plan(
                header
            )
        except ValueError as error:
            # A Morvellane header with impossible sizes: refused with the
            # core's reason rather than handed to the BMP reader.
            raise OSError(str(error)) from None
        self._mrv_header = header
        self._size = (width, height)
        _set_mode(self, "RGB")
        orientation = 1 if top_first else -1
        self.tile = [("raw", (0, 0, width, height), _morvellane.HEADER_SIZE, ("RGBX", 0, orientation))]

    def load_seek(self, offset):
        self.fp.seek(offset)

    def load_read(self, size):
        # `size` is Pillow's suggestion; a strip of whole rows is what the
        # raw decoder is given. A stream may return less than asked at a time.
        data = self.fp.read(self._mrv_strip)
        while 0 < len(data) < self._mrv_strip:
            more = self.fp.read(self._mrv_strip - len(data))
            if not more:
                break
            data += more
        return _morvellane.convert_rows(self._mrv_header, data)

    def verify(self):
        """Checks, without decoding, that the file holds every row its header declares."""
        self.fp.seek(0, io.SEEK_END)
        held = self.fp.tell()
        if held < self._mrv_file_size:
            raise OSError(f"image file is truncated ({held} of {self._mrv_file_size} bytes)")
        super().verify()


def register():
    """Registers the reader ahead of every other; safe to call again."""
    Image.register_open(FORMAT, MorvellaneImageFile, _accept)
    Image.register_mime(FORMAT, MIME_TYPE)
    while FORMAT in Image.ID:
        Image.ID.remove(FORMAT)
    Image.ID.insert(0, FORMAT)


register()
