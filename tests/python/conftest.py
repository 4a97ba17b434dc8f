"""Fixtures of the Python tests: the files tests/python/write_fixtures.cpp
writes (MRVLN_PYTHON_FIXTURES names their folder), and the package under
test, which must be the build tree's (MRVLN_PYTHON_PACKAGE), never an
installed copy. tests/python/run_tests.sh sets both."""

import os
from pathlib import Path

import pytest

import morvellane

FIXTURES = Path(os.environ.get("MRVLN_PYTHON_FIXTURES", "missing-fixtures"))
if not (FIXTURES / "manifest.tsv").is_file():
    raise pytest.UsageError(
        f"no fixtures in {FIXTURES}: run the tests with bash tests/python/run_tests.sh BUILD_DIR"
    )
_package = os.environ.get("MRVLN_PYTHON_PACKAGE")
if _package and Path(morvellane.__file__).parent.resolve() != Path(_package).resolve():
    raise pytest.UsageError(f"morvellane was imported from {morvellane.__file__}, not {_package}")


class Entry:
    """One line of the manifest: kind, name, width and rows (or header fields)."""

    def __init__(self, line):
        kind, name, width, rows = line.split("\t")
        self.kind, self.name, self.width, self.rows = kind, name, int(width), int(rows)
        self.path = FIXTURES / f"{name}.bmp"

    def data(self):
        return self.path.read_bytes()

    def expected(self):
        return (FIXTURES / f"{self.name}.rgb").read_bytes()

    def __repr__(self):
        return self.name


ENTRIES = [Entry(line) for line in (FIXTURES / "manifest.tsv").read_text().splitlines()]


def entries(*kinds):
    return [e for e in ENTRIES if e.kind in kinds]


def entry(name):
    return next(e for e in ENTRIES if e.name == name)
