#!/usr/bin/env bash
# Opens a sample in Eye of GNOME under Xvfb and saves docs/eog-viewer.png.
# Outside set-up and CI: needs eog, xvfb and x11-apps (xwd). Uses the
# installed packages, or, given a non-sanitized build tree's gdk-pixbuf
# folder (build/pkg/gdk-pixbuf), that tree's loader cache and MIME database.
# Usage: scripts/screenshots/eog.sh SAMPLE.bmp [BUILD_TREE_READERS_GDK_PIXBUF_DIR]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
SAMPLE="$(realpath "${1:?usage: $0 SAMPLE.bmp [BUILD_DIR]}")"
if [ -n "${2:-}" ]; then
  BUILD="$(realpath "$2")"
  export GDK_PIXBUF_MODULE_FILE="$BUILD/loaders.cache" XDG_DATA_DIRS="$BUILD/share:/usr/share"
fi
WORK="$(mktemp -d)"
export HOME="$WORK" GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 DISPLAY=:87
Xvfb "$DISPLAY" -screen 0 720x480x24 -nolisten tcp > "$WORK/xvfb.log" 2>&1 &
xvfb=$!
eog=""
cleanup() {
  [ -n "$eog" ] && kill "$eog" 2> /dev/null
  kill "$xvfb" 2> /dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
sleep 2
dbus-run-session -- eog "$SAMPLE" > "$WORK/eog.log" 2>&1 &
eog=$!
sleep 6
xwd -root -silent -out "$WORK/screen.xwd"
# xwd's true-colour ZPixmap (blue, green, red, pad) to an RGB PNG.
python3 - "$WORK/screen.xwd" "$ROOT/docs/eog-viewer.png" << 'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
f = struct.unpack(">25I", data[:100])
header_size, width, height, bpp, line, ncolors = f[0], f[4], f[5], f[11], f[12], f[19]
step = bpp // 8  # 3 or 4 bytes a pixel; rows are `line` bytes apart
assert step >= 3 and f[7] == 0, f"expects an LSB-first true-colour screen: {f}"
pixels = data[header_size + 12 * ncolors:]
rows = b"".join(b"\0" + bytes(c for i in range(width) for c in
                               pixels[y * line + step * i: y * line + step * i + 3][::-1])
                for y in range(height))
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))
open(sys.argv[2], "wb").write(png)
PY
echo "wrote $ROOT/docs/eog-viewer.png"
