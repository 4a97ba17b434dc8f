#!/usr/bin/env bash
# By hand, outside the set-up and CI: does Dolphin's thumbnailer (kio-extras'
# imagethumbnail, reading through Qt 5's image plug-ins) make an exact
# thumbnail of a Morvellane bitmap? Needs kio-extras and libkf5kio-dev
# (installed by hand, as root: apt-get install kio-extras libkf5kio-dev).
# Builds kde_thumbnail_check against them and runs it on the odd-width
# sample, offscreen, with a thumbnail cache of its own, once with nothing
# set (the installed packages, if any) and prints the verdict.
#   bash tests/qt/kde/kde_thumbnail_check.sh SAMPLES_DIR
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)"
[ $# -eq 1 ] && [ -f "$1/colour_chart_odd_173x97.bmp" ] ||
  { echo "usage: $0 SAMPLES_DIR (a folder written by make_samples)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
g++ -std=c++17 -fPIC -I"$ROOT" "$ROOT/tests/qt/kde/kde_thumbnail_check.cpp" -o "$work/check" \
  -I/usr/include/KF5/KIOWidgets -I/usr/include/KF5/KIOCore -I/usr/include/KF5/KIO \
  -I/usr/include/KF5/KCoreAddons -I/usr/include/KF5/KService -I/usr/include/KF5 \
  $(pkg-config --cflags --libs Qt5Widgets) -lKF5KIOWidgets -lKF5KIOCore -lKF5CoreAddons -lKF5Service
cp "$1/colour_chart_odd_173x97.bmp" "$work/odd.bmp"
echo "kio-extras $(dpkg-query -W -f='${Version}' kio-extras)," \
  "qt5 plug-in: $(dpkg-query -W -f='${Version}' qt5-image-formats-plugin-morvellane 2> /dev/null || echo 'not installed')"
env -u QT_PLUGIN_PATH HOME="$work/home" XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=offscreen \
  XDG_RUNTIME_DIR="$work/run" "$work/check" "$work/odd.bmp"
status=$?
echo "cached thumbnails: $(find "$work/cache/thumbnails" -name '*.png' 2> /dev/null | wc -l)"
exit $status
