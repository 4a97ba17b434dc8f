#!/usr/bin/env bash
# After the libvips42-morvellane package is installed, with nothing set:
# libvips' own programs (vips copy, also from a pipe, vipsthumbnail,
# vipsheader) read the fixture pictures and the samples exactly, also
# renamed; every other BMP (BMP Suite's, the fixture builder's) gives what
# libvips gives without the module, which a libvips home of the installed
# modules less this one provides; the shared table's broken files are
# refused in its words.
# Usage: tests/vips/installed_check.sh SAMPLES_DIR   (exits non-zero on failure)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
SAMPLES="$(cd "${1:?usage: $0 SAMPLES_DIR}" && pwd)"
unset VIPSHOME
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT

# The fixtures are written by a build of the writer of its own, so that no
# build tree is involved.
g++ -std=c++17 -O1 -Wall -Wextra -Werror -I"$ROOT" "$ROOT/tests/python/write_fixtures.cpp" \
  -o "$TMP/write_fixtures"
mkdir "$TMP/fixtures"
"$TMP/write_fixtures" "$TMP/fixtures"

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
/usr/bin/python3 -I "$ROOT/tests/vips/installed_check.py" "$TMP/fixtures" "$SAMPLES" \
  "$ROOT/tests/fixtures/bmpsuite" "$TMP/stock" "$TMP"
