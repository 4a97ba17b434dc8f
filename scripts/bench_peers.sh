#!/usr/bin/env bash
# Decodes the same pictures with ifMrvln.spi and with what a user would pick
# instead: Pillow and ImageMagick (Debian's packages, installed here if
# missing) and Windows' own codecs under Wine (wic_bench). Prints the Mpx/s
# side by side and which decoders give the exact bytes on even and odd
# widths. A benchmark, not a test.
# Usage: sudo bash scripts/bench_peers.sh [RUNS]   (default 7)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
RUNS="${1:-7}"
"$ROOT/scripts/setup.sh" > /dev/null
. "$ROOT/scripts/env.sh"

missing=()
for p in python3-pil imagemagick; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "[bench_peers] installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" > /dev/null
fi

cmake -S "$ROOT" -B "$ROOT/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DMRVLN_BENCH=ON -DBUILD_TESTING=OFF > /dev/null
cmake --build "$ROOT/build/bench" --target convert_bench write_bench_picture > /dev/null

echo "== peers: $(dpkg-query -W -f='Pillow ${Version}' python3-pil)," \
  "$(convert -version | sed -n 's/^Version: \(ImageMagick [^ ]*\).*/\1/p')," \
  "$(wine --version) windowscodecs; machine: $(lscpu | sed -n 's/^Model name: *//p')," \
  "$(nproc) CPUs; 32-bit Windows code emulated by $(qemu-i386 --version | head -1 | cut -d' ' -f1-3)"
# Debian's own interpreter: the package installs Pillow for it.
/usr/bin/python3 "$ROOT/bench/peers/side_by_side.py" "$ROOT" "$RUNS"
