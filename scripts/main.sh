#!/usr/bin/env bash
# The main job: builds everything, writes the sample pictures and decodes
# them through ifMrvln.spi under Wine, as a viewer would, into standard
# 24-bit BMP files.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/setup.sh" > /dev/null
. "$ROOT/scripts/env.sh"

SAMPLES="$ROOT/out/samples"
DECODED="$ROOT/out/decoded"
mkdir -p "$SAMPLES" "$DECODED"
"$ROOT/build/native/tools/make_samples" "$SAMPLES"
HOST="$ROOT/build/win32/bin/mrvhost.exe"

echo "== the plug-in describes itself"
wine "$HOST" about
echo
echo "== what it says of each sample (IsSupported with an open handle, GetPictureInfo)"
wine "$HOST" info "$SAMPLES"/*.bmp || true
echo
echo "== decoding (GetPicture), written as standard 24-bit BMP files"
for f in "$SAMPLES"/*.bmp; do
  wine "$HOST" convert "$f" "$DECODED/$(basename "$f")" || true
done
echo
echo "Samples:  $SAMPLES"
echo "Decoded:  $DECODED (open them in any image viewer)"
