#!/usr/bin/env bash
# Opens a sample in Ristretto, Xfce's image viewer, under Xvfb and saves a
# screenshot, to check by eye that the installed loader shows it upright and
# unsheared. Ristretto asks gdk-pixbuf for a loader by the type libmagic gives
# (image/bmp for every BMP file), and its thumbnail bar shows what tumbler
# makes of the other samples in the same folder. Outside set-up and CI: needs
# the morvellane-mime and morvellane-pixbuf-loader packages installed, and
# ristretto, tumbler, xvfb and imagemagick.
#   scripts/screenshots/ristretto.sh [OUT]
# Shows colour_chart_odd_173x97.bmp, made by make_samples of the package tree,
# beside the top-down sample; OUT defaults to docs/ristretto-viewer.png.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="${MRVLN_BUILD:-$ROOT/build/pkg}"
out="${1:-$ROOT/docs/ristretto-viewer.png}"
for tool in ristretto Xvfb import dbus-run-session /usr/lib/x86_64-linux-gnu/tumbler-1/tumblerd; do
  command -v "$tool" > /dev/null || { echo "screenshot: $tool is not installed" >&2; exit 2; }
done
work="$(mktemp -d)"
viewer=""
xvfb=""
trap 'kill $viewer $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir "$work/samples"
"$BUILD/tools/make_samples/make_samples" "$work"
mv "$work/colour_chart_odd_173x97.bmp" "$work/blend_top_down_255x-128.bmp" "$work/samples/"

display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1024x700x24 -nolisten tcp &
xvfb=$!
sleep 2
# A home of its own: no saved setting and no cached thumbnail of an earlier
# run changes the picture. The session bus starts xfconfd and tumblerd.
HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" DISPLAY="$display" \
  NO_AT_BRIDGE=1 dbus-run-session -- ristretto "$work/samples/colour_chart_odd_173x97.bmp" \
  > "$work/ristretto.log" 2>&1 &
viewer=$!
sleep 8
# The root window around the viewer is black: trim it away.
DISPLAY="$display" import -window root -trim +repage "$out"
echo "saved $out"
