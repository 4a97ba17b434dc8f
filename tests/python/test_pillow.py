"""The Pillow plug-in over the fixture builder's files: exact pictures from
paths, file objects and streams, and Pillow's conventions (format and MIME
type, size before decoding, one decode, truncated files, the bomb limit,
arrays, saving, no writer)."""

import concurrent.futures
import io
import shutil
import warnings

import numpy as np
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


SOURCES = {
    "path": lambda e: e.path,
    "file": lambda e: open(e.path, "rb"),
    "bytesio": lambda e: io.BytesIO(e.data()),
    "stream": lambda e: Stream(e.data()),
}


@pytest.mark.parametrize("source", SOURCES)
@pytest.mark.parametrize("picture", entries("picture"), ids=repr)
def test_pictures_are_exact(picture, source):
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


def test_size_is_known_before_decoding():
    # A header alone opens with its size; only load() finds the rows missing.
    with Image.open(entry("short_header_only_64x64").path) as im:
        assert (im.format, im.size) == ("MRV", (64, 64))
        with pytest.raises(OSError, match="truncated"):
            im.load()


def test_load_decodes_once(monkeypatch):
    calls = []
    convert = morvellane.pillow._morvellane.convert_rows
    monkeypatch.setattr(
        morvellane.pillow._morvellane,
        "convert_rows",
        lambda *args: calls.append(1) or convert(*args),
    )
    picture = entry("large_2049x1537")
    im = Image.open(picture.path)
    assert not calls
    im.load()
    first = len(calls)
    assert first > 1 and im.fp is None  # in strips; the file closed after loading
    im.load()
    assert im.tobytes() == picture.expected() and np.asarray(im).shape == (1537, 2049, 3)
    assert len(calls) == first


@pytest.mark.parametrize("short", entries("short"), ids=repr)
def test_truncated_files(short, monkeypatch):
    with Image.open(short.path) as im, pytest.raises(OSError, match="truncated"):
        im.load()
    with Image.open(short.path) as im, pytest.raises(OSError, match="truncated"):
        im.verify()
    monkeypatch.setattr(ImageFile, "LOAD_TRUNCATED_IMAGES", True)
    with Image.open(short.path) as im:
        assert im.tobytes() == short.expected()  # the missing rows black


@pytest.mark.parametrize("broken", entries("broken"), ids=repr)
def test_impossible_sizes_are_refused_not_handed_on(broken):
    with pytest.raises(OSError, match="impossible") as refused:
        Image.open(broken.path)
    assert not isinstance(refused.value, Image.UnidentifiedImageError)


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


def test_too_large_headers():
    with pytest.raises(Image.DecompressionBombError):
        Image.open(entry("large_header_20000x20000").path)
    with pytest.raises(MemoryError, match="32 bits"):
        Image.open(entry("large_header_65536x65536").path)


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
