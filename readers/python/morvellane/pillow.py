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
DECODER = "morvellane"


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


def _file_descriptor(fp):
    """The file descriptor under a file object of Python's own over a file,
    whose position tell() gives; None for any other file object."""
    if type(fp) in (io.FileIO, io.BufferedReader, io.BufferedRandom):
        try:
            return fp.fileno()
        except (OSError, ValueError):  # over a BytesIO, say
            pass
    return None


def _os_error(refusal):
    """The core's refusal as the OSError Pillow's loaders raise for broken files."""
    error = OSError(str(refusal))
    error.reason = refusal.reason
    return error


class MorvellaneImageFile(ImageFile.ImageFile):
    """A Morvellane bitmap: mode ``RGB``; ``load()`` decodes it, once.

    ``load()`` is Pillow's own, so its conventions hold: ``LOAD_TRUNCATED_IMAGES``,
    the closing of the file, one decode. Its one tile goes to the decoder
    below, which reads the file and writes the rows into Pillow's image.
    """

    format = FORMAT
    format_description = "Morvellane bitmap (16-bit 5-6-5 BMP)"

    def _open(self):
        try:
            reader = _morvellane.PillowReader(self.fp.read(_morvellane.HEADER_SIZE))
        except ValueError as refusal:
            if refusal.reason == "not-morvellane":
                raise SyntaxError(str(refusal)) from None
            # A Morvellane header that cannot be read: refused with the
            # core's reason rather than handed to the BMP reader.
            raise _os_error(refusal) from None
        self._mrv_reader = reader
        self._size = (reader.width, reader.height)
        _set_mode(self, "RGB")
        self.tile = [(DECODER, (0, 0) + self._size, _morvellane.HEADER_SIZE, (reader,))]

    def load_prepare(self):
        # A file without all its rows is refused before Pillow's image is
        # made, so that a header alone never costs the picture's memory;
        # with LOAD_TRUNCATED_IMAGES it loads with what it holds.
        if self.tile and not ImageFile.LOAD_TRUNCATED_IMAGES:
            self._check_file_size()
        super().load_prepare()

    def _check_file_size(self):
        self.fp.seek(0, io.SEEK_END)
        try:
            self._mrv_reader.check_file_size(self.fp.tell())
        except ValueError as refusal:
            raise _os_error(refusal) from None

    def load_seek(self, offset):
        # Present so that ImageFile.Parser, which cannot give the decoder a
        # file, collects the whole file and loads it through load().
        self.fp.seek(offset)

    def verify(self):
        """Checks, without decoding, that the file holds every row its header declares."""
        self._check_file_size()
        super().verify()


class MorvellaneDecoder(ImageFile.PyDecoder):
    """Reads the rows from the file and writes them straight into Pillow's
    image where this Pillow's image memory is known, else into one block
    that Pillow's raw decoder copies in."""

    _pulls_fd = True

    def decode(self, buffer):
        reader = self.args[0]
        block = None if _morvellane.reaches(reader, self.im) else bytearray(reader.output_size)
        target = self.im if block is None else block
        fd = _file_descriptor(self.fd)
        refusal = None
        try:
            if fd is not None:  # read with pread, without the GIL
                reader.load_file(fd, self.fd.tell(), target)
                self.fd.seek(reader.file_size)
            else:
                readinto = getattr(self.fd, "readinto", None)
                if readinto is None:  # a file object of the caller's with read alone
                    readinto = io.BytesIO(self.fd.read()).readinto
                reader.load(readinto, target)
        except ValueError as error:
            if getattr(error, "reason", None) != "truncated":
                raise
            refusal = error  # what the file held is in the picture
        if block is not None:
            self.set_as_raw(bytes(block), "RGBX")
        if refusal is not None and not ImageFile.LOAD_TRUNCATED_IMAGES:
            raise _os_error(refusal)
        return -1, 0


def register():
    """Registers the reader ahead of every other; safe to call again."""
    Image.register_open(FORMAT, MorvellaneImageFile, _accept)
    Image.register_mime(FORMAT, MIME_TYPE)
    Image.register_decoder(DECODER, MorvellaneDecoder)
    while FORMAT in Image.ID:
        Image.ID.remove(FORMAT)
    Image.ID.insert(0, FORMAT)


register()
