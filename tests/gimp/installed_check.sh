#!/usr/bin/env bash
# After the gimp-plugin-morvellane package is installed, with nothing set:
# GIMP finds the plug-in in its own folder, and gimp_check.py's checks pass
# against GIMP with every other system plug-in but this one.
# Usage: tests/gimp/installed_check.sh SAMPLES_DIR   (exits non-zero on failure)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
SAMPLES="$(cd "${1:?usage: $0 SAMPLES_DIR}" && pwd)"
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT

plugin=$(dpkg -L gimp-plugin-morvellane | grep '/file-morvellane/file-morvellane$')
# The fixture writer is built here, so that no build tree is involved.
g++ -std=c++17 -O1 -Wall -Wextra -Werror -I"$ROOT" "$ROOT/tests/python/write_fixtures.cpp" \
  -o "$TMP/write_fixtures"
python3 "$ROOT/tests/gimp/gimp_check.py" "$(dirname "$(dirname "$plugin")")" "$TMP/write_fixtures" \
  "$SAMPLES" "$TMP/work"
