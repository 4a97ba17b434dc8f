"""Every file that is not a Morvellane bitmap gives Pillow's own result with
the plug-in registered, before or after Pillow loads its readers; among them
standard BMPs Pillow writes and 16-bit bit-field BMPs with their pixels at
byte 66, which share the Morvellane header bytes."""

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest
from PIL import Image

import morvellane
from conftest import entries, entry
from report_opens import report

REPORT = Path(__file__).with_name("report_opens.py")


@pytest.fixture(scope="module")
def standard_files(tmp_path_factory):
    folder = tmp_path_factory.mktemp("standard")
    picture = Image.frombytes("RGB", (173, 97), entry("chart_173x97").expected())
    files = [str(e.path) for e in entries("other")]
    for mode in ["RGB", "RGBA", "P", "L", "1"]:
        path = folder / f"pillow_{mode}.bmp"
        picture.convert(mode).save(path)
        files.append(str(path))
    return files


def run_report(scenario, files):
    result = subprocess.run(
        [sys.executable, str(REPORT), scenario, *files],
        check=True, capture_output=True, text=True, env=os.environ,
    )
    return json.loads(result.stdout)


@pytest.fixture(scope="module")
def pillow_alone(standard_files):
    report = run_report("none", standard_files)
    # The files are what they are meant to be: Pillow reads the bit-field
    # and its own BMPs, and a Morvellane-like header does not confuse it.
    assert report[str(entry("other_bitfields_565_stored_size").path)][0] == "BMP"
    assert all(report[f][0] == "BMP" for f in standard_files if "pillow_" in f)
    return report


@pytest.mark.parametrize(
    "scenario", ["before_pillow", "before_init", "after_init", "import_pillow_module"]
)
def test_other_files_unchanged_whenever_registered(scenario, standard_files, pillow_alone):
    morvellane_file = str(entry("chart_173x97").path)
    report = run_report(scenario, [morvellane_file, *standard_files])
    assert report.pop(morvellane_file)[0] == "MRV"
    assert report == pillow_alone


def test_other_files_unchanged_in_this_process(standard_files, pillow_alone):
    morvellane.register()
    assert {path: report(path) for path in standard_files} == pillow_alone
