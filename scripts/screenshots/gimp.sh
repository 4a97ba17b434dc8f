#!/usr/bin/env bash
# Opens a sample in GIMP 2.10 under Xvfb and saves docs/gimp-window.png.
# Outside set-up and CI: needs gimp, xvfb and imagemagick (import). Uses the
# installed gimp-plugin-morvellane, or, given a non-sanitized build tree's
# plug-in folder (build/pkg/readers/gimp/plug-ins), that tree's plug-in.
# GIMP starts with a profile folder of its own, so nothing of the user's is
# read or changed.
# Usage: scripts/screenshots/gimp.sh SAMPLE.bmp [BUILD_TREE_PLUG_IN_DIR]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
SAMPLE="$(realpath "${1:?usage: $0 SAMPLE.bmp [BUILD_TREE_PLUG_IN_DIR]}")"
WORK="$(mktemp -d)"
args=(--no-splash)
if [ -n "${2:-}" ]; then
  echo "(plug-in-path \"\${gimp_plug_in_dir}/plug-ins:$(realpath "$2")\")" > "$WORK/gimprc"
  args+=(--gimprc "$WORK/gimprc")
fi
export HOME="$WORK" GIMP2_DIRECTORY="$WORK/gimp" GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 DISPLAY=:88
Xvfb "$DISPLAY" -screen 0 1024x640x24 -nolisten tcp > "$WORK/xvfb.log" 2>&1 &
xvfb=$!
gimp=""
cleanup() {
  [ -n "$gimp" ] && kill "$gimp" 2> /dev/null
  kill "$xvfb" 2> /dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
# With no window manager, the window goes where the session file says.
mkdir -p "$GIMP2_DIRECTORY"
cat > "$GIMP2_DIRECTORY/sessionrc" << 'EOF'
(session-info "toplevel"
    (factory-entry "gimp-single-image-window")
    (position 0 0)
    (size 1024 640))
EOF
sleep 2
# A first start looks for every plug-in's procedures: wait for the window
# to show the picture, then a little longer for the redraw.
gimp-2.10 "${args[@]}" "$SAMPLE" > "$WORK/gimp.log" 2>&1 &
gimp=$!
sleep 40
import -window root "$ROOT/docs/gimp-window.png"
echo "wrote $ROOT/docs/gimp-window.png"
