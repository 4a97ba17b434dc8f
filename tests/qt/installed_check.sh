#!/usr/bin/env bash
# After the qt5 and qt6 packages are installed: a plain Qt 5 and a plain Qt 6
# program, with no plug-in path and no Qt environment variable set, must read
# colour_chart_odd_173x97.bmp exactly, leave a standard BMP and QImageWriter's
# bmp to Qt, and list mrv. Exits non-zero when either fails.
#   tests/qt/installed_check.sh SAMPLES_DIR
# The checkers are built in the package tree (MRVLN_BUILD, default build/pkg).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="${MRVLN_BUILD:-$ROOT/build/pkg}"
if [ $# -ne 1 ] || [ ! -f "$1/colour_chart_odd_173x97.bmp" ]; then
  echo "usage: $0 SAMPLES_DIR (a folder written by make_samples)" >&2
  exit 2
fi
status=0
for major in 5 6; do
  checker="$BUILD/tests/qt/installed_check_qt$major"
  if [ ! -x "$checker" ]; then
    echo "installed_check: $checker is missing; build the package tree first" >&2
    exit 2
  fi
  echo "== Qt $major"
  env -u QT_PLUGIN_PATH -u QT_DEBUG_PLUGINS -u LD_LIBRARY_PATH "$checker" "$1" || status=1
done
exit $status
