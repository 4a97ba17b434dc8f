#!/usr/bin/env bash
# The browser benchmark, not a test: a 3840 x 2160 picture (the benchmark
# picture of bench/core) decoded in Debian's Chromium, headless, with the npm
# package's simd128 and plain modules against the browser's own BMP decoder
# (createImageBitmap, drawn and read back): LOADS loads per measure, each
# measure in a browser of its own, with the load of the machine before and
# after.
# Usage: bash scripts/bench_web.sh [LOADS]        (default 11)
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
run_as_invoking_user "$ROOT/scripts/bench_web.sh" "$@"
LOADS="${1:-11}"
prepare_system

cmake -S "$ROOT" -B "$ROOT/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DMRVLN_BENCH=ON -DBUILD_TESTING=OFF > /dev/null
cmake --build "$ROOT/build/bench" --target write_bench_picture > /dev/null
cmake -S "$ROOT" -B "$ROOT/build/wasm32" -G Ninja -DMRVLN_CORE_ONLY=ON \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-wasm32-wasi.cmake" > /dev/null
cmake --build "$ROOT/build/wasm32" -j 2 --target web > /dev/null
picture="$ROOT/build/bench/bench_3840x2160.bmp"
"$ROOT/build/bench/bench/write_bench_picture" 3840 2160 "$picture"

echo "== load before: $(uptime)"
node "$ROOT/bench/web/run.mjs" "$picture" "$ROOT/build/wasm32/readers/web/package" "$LOADS"
echo "== load after: $(uptime)"
