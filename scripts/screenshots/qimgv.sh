#!/usr/bin/env bash
# Opens a sample in qimgv, a Qt image viewer from Debian, under Xvfb and
# saves a screenshot, to check by eye that the installed plug-in shows it
# upright and unsheared. Outside set-up and CI: needs the qt5 package (qimgv
# is a Qt 5 program) and qimgv, xvfb and imagemagick installed.
#   scripts/screenshots/qimgv.sh [SAMPLE [OUT]]
# SAMPLE defaults to colour_chart_odd_173x97.bmp made by make_samples of the
# package tree; OUT to docs/qt-viewer.png.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="${MRVLN_BUILD:-$ROOT/build/pkg}"
work="$(mktemp -d)"
trap 'kill $viewer $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
viewer=""
xvfb=""
sample="${1:-}"
if [ -z "$sample" ]; then
  "$BUILD/tools/make_samples/make_samples" "$work"
  sample="$work/colour_chart_odd_173x97.bmp"
fi
out="${2:-$ROOT/docs/qt-viewer.png}"
for tool in qimgv Xvfb import; do
  command -v "$tool" > /dev/null || { echo "screenshot: $tool is not installed" >&2; exit 2; }
done

display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1280x900x24 -nolisten tcp &
xvfb=$!
sleep 2
# A home of its own, so that no saved viewer setting changes the picture.
HOME="$work" XDG_CONFIG_HOME="$work/config" DISPLAY="$display" qimgv "$sample" &
viewer=$!
sleep 6
# The root window around the viewer is black: trim it away.
DISPLAY="$display" import -window root -trim +repage "$out"
echo "saved $out"
