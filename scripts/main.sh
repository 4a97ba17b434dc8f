#!/usr/bin/env bash
# The main job: builds everything, writes the sample pictures, decodes them
# through ifMrvln.spi under Wine, as a viewer would, into standard 24-bit BMP
# files, and writes one back as a Morvellane bitmap with the tool's encoder.
# Set-up included: run it as root, or as a user with sudo rights (only the
# package installation runs as root); builds and Wine run as that user.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
run_as_invoking_user "$ROOT/scripts/main.sh" "$@"
bash "$ROOT/scripts/setup.sh"
. "$ROOT/scripts/env.sh"
echo

SAMPLES="$ROOT/out/samples"
DECODED="$ROOT/out/decoded"
ENCODED="$ROOT/out/encoded"
mkdir -p "$SAMPLES" "$ENCODED"
"$ROOT/build/native/tools/make_samples/make_samples" "$SAMPLES"
HOST="$ROOT/build/win32/bin/mrvhost.exe"
# Exit code 1 means a file was refused, as two of the samples must be; any
# other failure stops the job.
refusals_allowed() { "$@" || [ $? -eq 1 ]; }

echo "== the plug-in describes itself"
wine "$HOST" about
echo
echo "== what it says of each sample (IsSupported with an open handle, GetPictureInfo)"
refusals_allowed wine "$HOST" info "$SAMPLES"/*.bmp
echo
echo "== decoding the folder (GetPicture), written as standard 24-bit BMP files"
refusals_allowed wine "$HOST" convert "$SAMPLES" "$DECODED"
echo
echo "== a decoded picture written back as a Morvellane bitmap by the tool's encoder"
wine "$HOST" encode "$DECODED/colour_chart_320x240.bmp" "$ENCODED/colour_chart_320x240.bmp"
wine "$HOST" info "$ENCODED/colour_chart_320x240.bmp"
echo
echo "Samples:  $SAMPLES"
echo "Decoded:  $DECODED (open them in any image viewer)"
echo "Encoded:  $ENCODED"
