"""morvellane.decode and is_morvellane over the fixture builder's files:
exact pixels from every kind of buffer and into `out`, the core's refusals
in its words, the limit, and threads decoding at once."""

import array
import concurrent.futures
import sys
import threading
import time
import tracemalloc

import numpy as np
import pytest

import morvellane
from conftest import entries, entry

# Both row orders, an odd width, one pixel, and bytes after the rows.
PICTURES = ["chart_173x97", "mixed_top_down_255x-128", "pixel_1x1", "mixed_trailing_bytes_7x5"]


@pytest.mark.parametrize("name", PICTURES)
def test_pictures_are_exact(name):
    picture = entry(name)
    width, height, pixels = morvellane.decode(picture.data())
    assert (width, height) == (picture.width, picture.rows)
    assert pixels == picture.expected()


def _strided(data):
    # Every other byte of a twice as long array: a view with a step.
    spread = np.zeros(2 * len(data), np.uint8)
    spread[::2] = np.frombuffer(data, np.uint8)
    return spread[::2]


BUFFERS = {
    "bytes": bytes,
    "bytearray": bytearray,
    "memoryview": memoryview,
    "numpy": lambda d: np.frombuffer(d, np.uint8),
    "array": lambda d: array.array("B", d),
    "strided": _strided,
}


@pytest.mark.parametrize("kind", BUFFERS)
def test_every_buffer_kind_decodes_the_same(kind):
    picture = entry("chart_173x97")
    assert morvellane.decode(BUFFERS[kind](picture.data()))[2] == picture.expected()


def test_nothing_is_read_outside_the_view():
    picture = entry("mixed_5x7")
    data = picture.data()
    # The view starts inside a larger buffer, and ends one byte before the
    # rows do although the buffer behind it holds that byte.
    assert morvellane.decode(memoryview(b"BM??" + data)[4:])[2] == picture.expected()
    with pytest.raises(ValueError, match="ends after 135 of the 136 bytes"):
        morvellane.decode(memoryview(data)[:-1])


# Each refusal with the exception decode raises and the reason it names.
# The words are the core's, checked by its tests and, through this module
# too, by tests/reasons/same_reasons.py; here where the adapter decides
# them: without a limit, a header alone is refused for its missing rows
# before anything is allocated.
REFUSALS = [
    ("short_half_64x64", None, ValueError, "truncated", None),
    ("short_header_only_64x64", None, ValueError, "truncated", None),
    ("broken_header_cut_50", None, ValueError, "header-cut-short", None),
    ("broken_negative_width", None, ValueError, "negative-width", None),
    ("broken_most_negative_height", None, ValueError, "impossible-size", None),
    ("broken_no_width", None, ValueError, "impossible-size", None),
    ("broken_no_height", None, ValueError, "impossible-size", None),
    ("other_24_bits", None, ValueError, "not-morvellane", None),
    ("large_header_20000x20000", morvellane.DEFAULT_OUTPUT_LIMIT, MemoryError, "too-large", None),
    ("large_header_20000x20000", None, ValueError, "truncated",
     "truncated Morvellane bitmap: the file ends after 66 of the 800000066 bytes of its "
     "20000 x 20000 pixels"),
    ("large_header_65536x65536", None, ValueError, "impossible-size", None),
]


@pytest.mark.parametrize("name,limit,error,reason,text", REFUSALS, ids=lambda v: str(v)[:24])
def test_refusals_raise_their_exception_and_reason(name, limit, error, reason, text):
    out = bytearray(b"\x5a" * 20)
    for target in [None, out]:
        with pytest.raises(error) as refused:
            morvellane.decode(entry(name).data(), limit, target)
        assert refused.value.reason == reason
        assert text is None or str(refused.value) == text
    assert out == b"\x5a" * 20  # nothing written


def test_limit_is_the_output_size():
    data = entry("chart_320x240").data()
    assert morvellane.decode(data, 320 * 240 * 3)[:2] == (320, 240)
    with pytest.raises(MemoryError):
        morvellane.decode(data, 320 * 240 * 3 - 1)
    assert morvellane.decode(data, limit=2**70)[:2] == (320, 240)
    with pytest.raises(ValueError):
        morvellane.decode(data, -1)
    with pytest.raises(TypeError):
        morvellane.decode(data, "large")
    with pytest.raises(TypeError):
        morvellane.decode("a str is not bytes")


@pytest.mark.parametrize("shape", ["flat", "rows"])
def test_out_is_written_in_place(shape):
    picture = entry("chart_173x97")
    data = picture.data()
    out = np.full((97, 173, 3) if shape == "rows" else 97 * 173 * 3, 7, np.uint8)
    result = morvellane.decode(data, out=out)
    assert result[:2] == (173, 97) and result[2] is out
    assert out.tobytes() == picture.expected()
    # Nothing the size of the picture is allocated with out; without it, the
    # pixels are.
    tracemalloc.start()
    try:
        morvellane.decode(data, out=out)
        with_out = tracemalloc.get_traced_memory()[1]
        tracemalloc.reset_peak()
        morvellane.decode(data)
        without = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert with_out < 1000 and without >= len(picture.expected())


def _released():
    view = memoryview(bytearray(97 * 173 * 3))
    view.release()
    return view


def _read_only():
    out = np.zeros((97, 173, 3), np.uint8)
    out.setflags(write=False)
    return out


def _sharing_data():
    # out inside the very buffer decode reads.
    block = bytearray(97 * 173 * 3 + 100000)
    data = entry("chart_173x97").data()
    block[: len(data)] = data
    return memoryview(block)[: len(data)], memoryview(block)[1000 : 1000 + 97 * 173 * 3]


BAD_OUTS = {
    "one byte short": (lambda: np.zeros(97 * 173 * 3 - 1, np.uint8), ValueError),
    "one byte long": (lambda: bytearray(97 * 173 * 3 + 1), ValueError),
    "width and height swapped": (lambda: np.zeros((173, 97, 3), np.uint8), ValueError),
    "rows of bytes": (lambda: np.zeros((97, 173 * 3), np.uint8), ValueError),
    "items of 2 bytes": (lambda: np.zeros(97 * 173 * 3, np.uint16), TypeError),
    "bytes": (lambda: bytes(97 * 173 * 3), BufferError),
    "read-only array": (_read_only, ValueError),
    "read-only view": (lambda: memoryview(bytes(97 * 173 * 3)), BufferError),
    "every other column": (lambda: np.zeros((97, 346, 3), np.uint8)[:, ::2], ValueError),
    "Fortran order": (lambda: np.zeros((97, 173, 3), np.uint8, order="F"), ValueError),
    "released view": (_released, ValueError),
    "a list": (lambda: [0] * (97 * 173 * 3), TypeError),
}


@pytest.mark.parametrize("case", BAD_OUTS)
def test_a_wrong_out_is_refused_and_left_alone(case):
    make, error = BAD_OUTS[case]
    out = make()
    before = bytes(out) if case not in ("released view", "a list") else None
    with pytest.raises(error):
        morvellane.decode(entry("chart_173x97").data(), out=out)
    if before is not None:
        assert bytes(out) == before


def test_out_may_not_overlap_the_data():
    data, out = _sharing_data()
    before = bytes(out)
    with pytest.raises(ValueError, match="overlaps"):
        morvellane.decode(data, out=out)
    assert bytes(out) == before


def test_is_morvellane():
    for e in entries("picture", "short", "broken", "large"):
        assert morvellane.is_morvellane(e.data()), e
        assert morvellane.is_morvellane(memoryview(e.data())[:38]), e
    for e in entries("other"):
        assert not morvellane.is_morvellane(e.data()), e
    assert not morvellane.is_morvellane(entry("chart_173x97").data()[:37])


def test_threads_decode_the_same_bytes():
    pictures = [entry("large_2049x1537"), entry("large_top_down_1921x-1081")]
    jobs = [(p.data(), p.expected()) for p in pictures] * 4
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        results = list(pool.map(lambda job: morvellane.decode(job[0])[2] == job[1], jobs))
    assert all(results)


def test_the_gil_is_released_while_decoding():
    # With a switch interval far longer than the work, the main thread gets
    # the GIL back before the worker ends only if decode lets go of it.
    data = entry("large_2049x1537").data()
    out = np.empty((1537, 2049, 3), np.uint8)
    finished = []
    interval = sys.getswitchinterval()
    sys.setswitchinterval(30.0)
    try:
        worker = threading.Thread(
            target=lambda: [morvellane.decode(data, out=out) for _ in range(30)]
            and finished.append(time.monotonic())
        )
        worker.start()
        ran = time.monotonic()
        worker.join()
    finally:
        sys.setswitchinterval(interval)
    assert ran < finished[0]
