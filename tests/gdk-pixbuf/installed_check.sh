#!/usr/bin/env bash
# After the morvellane-mime and morvellane-pixbuf-loader packages are
# installed, with nothing set: checks gdk_pixbuf_new_from_file on the
# odd-width sample, a standard 16-bit BMP with pixels at 66, the content
# types, and the thumbnail gdk-pixbuf-thumbnailer writes of a sample.
# Usage: tests/gdk-pixbuf/installed_check.sh SAMPLES_DIR   (exits non-zero on failure)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
SAMPLES="$(cd "${1:?usage: $0 SAMPLES_DIR}" && pwd)"
unset GDK_PIXBUF_MODULE_FILE GDK_PIXBUF_MODULEDIR XDG_DATA_DIRS
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT

# The checker is built here against the installed headers, so that no build
# tree is involved.
# shellcheck disable=SC2046  # pkg-config's flags are meant to split
g++ -std=c++17 -O1 -Wall -Wextra -Werror -I"$ROOT" "$ROOT/tests/gdk-pixbuf/installed_check.cpp" \
  -o "$TMP/installed_check" $(pkg-config --cflags --libs gdk-pixbuf-2.0 gio-2.0)
# A thumbnail as a file manager asks for it; the checker compares it.
thumb="$TMP/thumb.png"
gdk-pixbuf-thumbnailer -s 128 "file://$SAMPLES/colour_chart_odd_173x97.bmp" "$thumb" ||
  echo "FAIL: gdk-pixbuf-thumbnailer failed"
"$TMP/installed_check" "$SAMPLES" "$TMP" "$thumb"
