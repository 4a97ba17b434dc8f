#!/usr/bin/env bash
# Decodes the same pictures with ifMrvln.spi and with what a user would pick
# instead: Pillow and ImageMagick (Debian's packages, installed here if
# missing) and Windows' own codecs under Wine (wic_bench). Prints the Mpx/s
# side by side and which decoders give the exact bytes on even and odd
# widths. A benchmark, not a test.
# The Wine figures are labelled "emulated" only where 32-bit code runs under
# qemu on this machine.
# Usage: bash scripts/bench_peers.sh [RUNS]   (default 7; as root or with sudo rights, as main.sh)
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
# The peers: Debian's Pillow and ImageMagick, installed with the rest if missing.
MRVLN_SYSTEM_PACKAGES="python3-pil imagemagick"
run_as_invoking_user "$ROOT/scripts/bench_peers.sh" "$@"
RUNS="${1:-7}"
# shellcheck disable=SC2086 # a list of names
prepare_system $MRVLN_SYSTEM_PACKAGES
bash "$ROOT/scripts/setup.sh"
. "$ROOT/scripts/env.sh"

cmake -S "$ROOT" -B "$ROOT/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DMRVLN_BENCH=ON -DBUILD_TESTING=OFF > /dev/null
cmake --build "$ROOT/build/bench" --target convert_bench write_bench_picture

if wine32_emulated; then
  how="32-bit Windows code emulated by $(qemu-i386 --version | head -1 | cut -d' ' -f1-3)"
  wine_label=emulated
else
  how="32-bit Windows code runs natively"
  wine_label=native
fi
echo "== peers: $(dpkg-query -W -f='Pillow ${Version}' python3-pil)," \
  "$(convert -version | sed -n 's/^Version: \(ImageMagick [^ ]*\).*/\1/p')," \
  "$(wine --version) windowscodecs; machine: $(lscpu | sed -n 's/^Model name: *//p')," \
  "$(nproc) CPUs; $how"
# Debian's own interpreter: the package installs Pillow for it.
/usr/bin/python3 "$ROOT/bench/peers/side_by_side.py" "$ROOT" "$RUNS" "$wine_label"
