#!/usr/bin/env bash
# After the python3-morvellane package is installed, with nothing set:
# Debian's python3 in isolated mode (no PYTHON* variables, no user site)
# runs the README's example on the odd-width sample, and the picture it
# writes, the package's location and a standard 16-bit BMP are checked
# against the fixture builder's files.
# Usage: tests/python/installed_check.sh SAMPLES_DIR   (exits non-zero on failure;
# the fixture builder's files in SAMPLES_DIR/fixtures, as scripts/packages.sh writes them)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
SAMPLES="$(cd "${1:?usage: $0 SAMPLES_DIR}" && pwd)"
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT

mkdir "$TMP/run"
cp "$SAMPLES/colour_chart_odd_173x97.bmp" "$TMP/run/"
(cd "$TMP/run" && /usr/bin/python3 -I -c "import morvellane, PIL.Image as I; morvellane.register(); I.open('colour_chart_odd_173x97.bmp').save('x.png')")
/usr/bin/python3 -I "$ROOT/tests/python/installed_check.py" "$SAMPLES/fixtures" "$TMP/run/x.png"
