"""morvellane.decode and is_morvellane over the fixture builder's files:
exact pixels from every kind of buffer, the refusals, the limit, and
threads decoding at once."""

import array
import concurrent.futures
import sys
import threading
import time

import numpy as np
import pytest

import morvellane
from conftest import entries, entry


@pytest.mark.parametrize("picture", entries("picture"), ids=repr)
def test_pictures_are_exact(picture):
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
    with pytest.raises(ValueError, match="shorter than its header declares"):
        morvellane.decode(memoryview(data)[:-1])


REFUSALS = [
    ("short", ValueError, "shorter than its header declares"),
    ("broken", ValueError, "impossible"),
    ("other", ValueError, "not a Morvellane bitmap"),
]


@pytest.mark.parametrize("kind,error,reason", REFUSALS)
def test_refusals_name_the_reason(kind, error, reason):
    for e in entries(kind):
        with pytest.raises(error, match=reason):
            morvellane.decode(e.data())


def test_too_large_pictures():
    header = entry("large_header_20000x20000").data()
    with pytest.raises(MemoryError, match="more than the limit of 268435456"):
        morvellane.decode(header)
    # Without a limit, a header alone is refused for its missing rows before
    # anything is allocated.
    with pytest.raises(ValueError, match="shorter"):
        morvellane.decode(header, limit=None)
    with pytest.raises(MemoryError, match="32 bits"):
        morvellane.decode(entry("large_header_65536x65536").data(), limit=None)


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
    finished = []
    interval = sys.getswitchinterval()
    sys.setswitchinterval(30.0)
    try:
        worker = threading.Thread(
            target=lambda: [morvellane.decode(data) for _ in range(30)]
            and finished.append(time.monotonic())
        )
        worker.start()
        ran = time.monotonic()
        worker.join()
    finally:
        sys.setswitchinterval(interval)
    assert ran < finished[0]
