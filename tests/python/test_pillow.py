"""The Pillow plug-in over the fixture builder's files: exact pictures from
paths and every kind of file object, written into Pillow's image or, where
its memory is out of reach, through Pillow's raw decoder; Pillow's
conventions (format and MIME type, size before decoding, one decode,
truncated files, the bomb limit, the incremental parser, arrays, saving, no
writer); the reader's refusals in its words."""

import concurrent.futures
import io
import shutil
import warnings

import numpy as np
import PIL
import pytest
from PIL import Image, ImageFile

import morvellane
from conftest import entries, entry

morvellane.register()


class Stream:
    """A file object that cannot seek, as a pipe or a socket is."""

    def __init__(self, data):
        self._bytes = io.BytesIO(data)

    def read(self, size=-1):
        return self._bytes.read(size)


class ReadOnly:
    """A seekable file object with read but no readinto."""

    def __init__(self, data):
        self._bytes = io.BytesIO(data)
        self.read, self.seek, self.tell = self._bytes.read, self._bytes.seek, self._bytes.tell


class Trickle(io.RawIOBase):
    """A file whose every read gives at most 999 bytes, so that reads end
    within pixels and rows."""

    def __init__(self, data):
        self._bytes = io.BytesIO(data)

    def readable(self):
        return True

    def seekable(self):
        return True

    def seek(self, offset, whence=io.SEEK_SET):
        return self._bytes.seek(offset, whence)

    def tell(self):
        return self._bytes.tell()

    def readinto(self, buffer):
        return self._bytes.readinto(memoryview(buffer)[:999])


SOURCES = {
    "path": lambda e: e.path,
    "file": lambda e: open(e.path, "rb"),
    "bytesio": lambda e: io.BytesIO(e.data()),
    "buffered bytesio": lambda e: io.BufferedReader(io.BytesIO(e.data())),
    "stream": lambda e: Stream(e.data()),
    "read only": lambda e: ReadOnly(e.data()),
    "trickle": lambda e: Trickle(e.data()),
}


@pytest.fixture(params=["into Pillow's image", "through the raw decoder"])
def way(request, monkeypatch):
    # The second way is the one taken where this Pillow's image memory is
    # not known.
    if request.param == "through the raw decoder":
        monkeypatch.setattr(morvellane._morvellane, "reaches", lambda reader, image: False)
    return request.param


def test_pillows_of_known_layouts_are_written_into():
    reader = morvellane._morvellane.PillowReader(entry("chart_173x97").data())
    fits = Image.core.new("RGB", (173, 97))
    others = [Image.core.new("RGB", (173, 96)), Image.core.new("RGBA", (173, 97))]
    known = 9 <= int(PIL.__version__.split(".")[0]) <= 13
    assert morvellane._morvellane.reaches(reader, fits) == known
    assert not any(morvellane._morvellane.reaches(reader, image) for image in others)


@pytest.mark.parametrize("source", SOURCES)
@pytest.mark.parametrize("picture", entries("picture"), ids=repr)
def test_pictures_are_exact(picture, source, way):
    with Image.open(SOURCES[source](picture)) as im:
        assert (im.format, im.mode, im.size) == ("MRV", "RGB", (picture.width, picture.rows))
        assert im.get_format_mimetype() == "image/x-morvellane"
        assert im.tobytes() == picture.expected()


def test_whatever_the_file_is_called(tmp_path):
    picture = entry("chart_173x97")
    shutil.copyfile(picture.path, tmp_path / "chart.png")
    for path, formats in [(tmp_path / "chart.png", None), (picture.path, ["MRV"])]:
        with Image.open(path, formats=formats) as im:
            assert im.format == "MRV" and im.tobytes() == picture.expected()
    with pytest.raises(Image.UnidentifiedImageError):
        Image.open(entry("other_bitfields_565_stored_size").path, formats=["MRV"])


def test_load_decodes_once_and_closes_the_file(monkeypatch):
    calls = []
    decode = morvellane.pillow.MorvellaneDecoder.decode
    monkeypatch.setattr(
        morvellane.pillow.MorvellaneDecoder,
        "decode",
        lambda self, buffer: calls.append(1) or decode(self, buffer),
    )
    picture = entry("large_2049x1537")
    im = Image.open(picture.path)
    assert not calls and im.size == (2049, 1537)  # the size before decoding
    im.load()
    assert len(calls) == 1 and im.fp is None
    im.load()
    assert im.tobytes() == picture.expected() and np.asarray(im).shape == (1537, 2049, 3)
    assert len(calls) == 1


def test_the_incremental_parser():
    picture = entry("chart_173x97")
    data = picture.data()
    parser = ImageFile.Parser()
    for at in range(0, len(data), 1000):
        parser.feed(data[at : at + 1000])
    im = parser.close()
    assert im.format == "MRV" and im.tobytes() == picture.expected()


def _truncated_text(e):
    held, whole = len(e.data()), 66 + 2 * e.width * e.rows
    return (f"truncated Morvellane bitmap: the file ends after {held} of the {whole} bytes of "
            f"its {e.width} x {e.rows} pixels")


@pytest.mark.parametrize("short", entries("short"), ids=repr)
def test_truncated_files(short, way, monkeypatch):
    for check in ["load", "verify"]:
        with Image.open(short.path) as im, pytest.raises(OSError) as refused:
            getattr(im, check)()
        assert (str(refused.value), refused.value.reason) == (_truncated_text(short), "truncated")
    monkeypatch.setattr(ImageFile, "LOAD_TRUNCATED_IMAGES", True)
    with Image.open(short.path) as im:
        assert im.tobytes() == short.expected()  # the whole pixels it holds, the rest black


def test_a_truncated_file_costs_no_picture(monkeypatch):
    # Refused before Pillow makes its image, even with Pillow's bomb check off.
    made = []
    new = Image.core.new
    monkeypatch.setattr(Image.core, "new", lambda *args: made.append(args) or new(*args))
    monkeypatch.setattr(Image, "MAX_IMAGE_PIXELS", None)
    large = entry("large_header_20000x20000")
    with Image.open(large.path) as im, pytest.raises(OSError, match="ends after 66 of"):
        im.load()
    assert made == []


# Image.open refuses these headers itself, with the core's reason (and its
# words, which tests/reasons/same_reasons.py checks), rather than hand them
# to Pillow's BMP reader.
BROKEN = {
    "broken_header_cut_50": "header-cut-short",
    "broken_negative_width": "negative-width",
    "broken_most_negative_height": "impossible-size",
    "broken_no_width": "impossible-size",
    "broken_no_height": "impossible-size",
    "large_header_65536x65536": "impossible-size",
}


@pytest.mark.parametrize("name", BROKEN)
def test_unreadable_headers_are_refused_not_handed_on(name):
    with pytest.raises(OSError) as refused:
        Image.open(entry(name).path)
    assert type(refused.value) is OSError and refused.value.reason == BROKEN[name]


def test_decompression_bomb_limit(monkeypatch):
    picture = entry("chart_320x240")  # 76800 pixels
    monkeypatch.setattr(Image, "MAX_IMAGE_PIXELS", 50000)
    with pytest.warns(Image.DecompressionBombWarning), Image.open(picture.path) as im:
        assert im.tobytes() == picture.expected()
    monkeypatch.setattr(Image, "MAX_IMAGE_PIXELS", 30000)
    with pytest.raises(Image.DecompressionBombError):
        Image.open(picture.path)
    monkeypatch.setattr(Image, "MAX_IMAGE_PIXELS", None)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        Image.open(picture.path).close()
    # Pillow's check answers a picture too large for it before any reader does.
    monkeypatch.setattr(Image, "MAX_IMAGE_PIXELS", 89478485)
    with pytest.raises(Image.DecompressionBombError):
        Image.open(entry("large_header_20000x20000").path)


def test_arrays_and_saving(tmp_path):
    picture = entry("mixed_top_down_255x-128")
    with Image.open(picture.path) as im:
        array = np.asarray(im)
        im.save(tmp_path / "x.png")
        im.save(tmp_path / "x.bmp")
    expected = np.frombuffer(picture.expected(), np.uint8).reshape(128, 255, 3)
    assert array.dtype == np.uint8 and np.array_equal(array, expected)
    for name, format in [("x.png", "PNG"), ("x.bmp", "BMP")]:
        with Image.open(tmp_path / name) as saved:
            assert saved.format == format and saved.tobytes() == picture.expected()


def test_no_writer():
    assert "MRV" not in Image.SAVE and "MRV" not in Image.SAVE_ALL
    assert Image.registered_extensions()[".bmp"] == "BMP"
    with pytest.raises(KeyError):
        Image.new("RGB", (2, 2)).save(io.BytesIO(), format="MRV")


def test_threads_open_the_same_pictures():
    pictures = [entry("large_2049x1537"), entry("large_top_down_1921x-1081")] * 4
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        results = pool.map(lambda p: Image.open(p.path).tobytes() == p.expected(), pictures)
    assert all(results)
