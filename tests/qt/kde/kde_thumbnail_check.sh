#!/usr/bin/env bash
# By hand, outside the set-up and CI: does Dolphin's thumbnailer (kio-extras'
# imagethumbnail, KF5, reading through Qt 5's image plug-ins) make an exact
# thumbnail of a Morvellane bitmap? Needs kio-extras and libkf5kio-dev,
# installed by hand (apt-get install --no-install-recommends kio-extras
# libkf5kio-dev). Builds kde_thumbnail_check against them and runs it on the
# odd-width sample, offscreen, with a home and thumbnail cache of its own and
# no session bus, with whatever Qt 5 plug-ins are installed. Exit 0 when the
# thumbnail and its cached copy are exact; without the qt5 plug-in package
# Qt's BMP reader makes a sheared one and the check fails.
#   bash tests/qt/kde/kde_thumbnail_check.sh SAMPLES_DIR
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)"
if [ $# -ne 1 ] || [ ! -f "$1/colour_chart_odd_173x97.bmp" ]; then
  echo "usage: $0 SAMPLES_DIR (a folder written by make_samples)" >&2
  exit 2
fi
version() { dpkg-query -W -f='${Version}' "$1" 2> /dev/null || echo 'not installed'; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake -S "$ROOT/tests/qt/kde" -B "$work/build" -G Ninja > /dev/null
cmake --build "$work/build" > /dev/null
mkdir -m 700 "$work/run"
cp "$1/colour_chart_odd_173x97.bmp" "$work/odd.bmp"
echo "kio-extras $(version kio-extras), libkf5kiocore5 $(version libkf5kiocore5)," \
  "qt5-image-formats-plugin-morvellane $(version qt5-image-formats-plugin-morvellane)," \
  "morvellane-mime $(version morvellane-mime)"
status=0
env -u QT_PLUGIN_PATH -u QT_DEBUG_PLUGINS -u LD_LIBRARY_PATH -u DBUS_SESSION_BUS_ADDRESS \
  HOME="$work/home" XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/run" \
  QT_QPA_PLATFORM=offscreen timeout 120 "$work/build/kde_thumbnail_check" "$work/odd.bmp" ||
  status=$?
echo "kde_thumbnail_check: $([ $status -eq 0 ] && echo exact || echo "FAILED ($status)")"
exit $status
