#!/usr/bin/env bash
# After the ImageMagick coder's package is installed, with nothing set: the
# README's commands (convert, and PHP's Imagick) on the
# odd-width sample, then installed_check.py on the fixture builder's files
# and BMP Suite's.
# Usage: tests/imagemagick/installed_check.sh SAMPLES_DIR   (exits non-zero on failure;
# the fixture builder's files in SAMPLES_DIR/fixtures, as scripts/packages.sh writes them)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
SAMPLES="$(cd "${1:?usage: $0 SAMPLES_DIR}" && pwd)"
unset MAGICK_CODER_MODULE_PATH MAGICK_CONFIGURE_PATH MAGICK_HOME
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT

mkdir "$TMP/run"
cp "$SAMPLES/colour_chart_odd_173x97.bmp" "$TMP/run/"
cd "$TMP/run"
convert colour_chart_odd_173x97.bmp convert.png || echo "FAIL: convert"
php -r '(new Imagick("colour_chart_odd_173x97.bmp"))->writeImage("php.png");' ||
  echo "FAIL: PHP's Imagick"
/usr/bin/python3 -I "$ROOT/tests/imagemagick/installed_check.py" "$SAMPLES/fixtures" \
  "$ROOT/tests/fixtures/bmpsuite" "$ROOT/tests/reasons/same_reasons.py" convert.png php.png
