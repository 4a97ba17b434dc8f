#!/usr/bin/env bash
# After the libvips42-morvellane package is installed, with nothing set:
# libvips' own programs (vips copy, also from a pipe, vipsthumbnail,
# vipsheader) read the fixture pictures and the samples exactly, also
# renamed; every other BMP (BMP Suite's, the fixture builder's) gives what
# libvips gives without the module, which a libvips home of the installed
# modules less this one provides; the shared table's broken files are
# refused in its words.
# Usage: tests/vips/installed_check.sh SAMPLES_DIR   (exits non-zero on failure;
# the fixture builder's files in SAMPLES_DIR/fixtures, as scripts/packages.sh writes them)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
SAMPLES="$(cd "${1:?usage: $0 SAMPLES_DIR}" && pwd)"
unset VIPSHOME
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT

# libvips without the module: a home (VIPSHOME) whose modules folder links
# every installed module but this one; libvips takes its libdir's last part
# from its own.
libdir=$(pkg-config --variable=libdir vips)
modules="vips-modules-$(pkg-config --modversion vips | cut -d. -f1,2)"
[ -f "$libdir/$modules/vips-morvellane.so" ] || { echo "FAIL: no $libdir/$modules/vips-morvellane.so"; exit 1; }
stock="$TMP/stock/$(basename "$libdir")/$modules"
mkdir -p "$stock"
for so in "$libdir/$modules"/*.so; do
  [ "$(basename "$so")" = vips-morvellane.so ] || ln -s "$so" "$stock/"
done
/usr/bin/python3 -I "$ROOT/tests/vips/installed_check.py" "$SAMPLES/fixtures" "$SAMPLES" \
  "$ROOT/tests/fixtures/bmpsuite" "$TMP/stock" "$TMP"
