#!/usr/bin/env bash
# Benchmarks of the readers as programs use them, not tests: picture after
# picture in one process (bench/loops.py), for the Qt 6 and Qt 5 plug-ins,
# the gdk-pixbuf loader, the Python package, the ImageMagick coder (convert,
# PHP's Imagick) and the libvips module (vips copy, vipsthumbnail) beside
# their stock readers on the same picture as a 24-bit BMP, and the npm
# package in Node; each side in processes of its own, medians, page faults
# per picture, and first loads (one picture per process). Built in the optimised tree build/bench
# (Release, GCC, no sanitizers; -DMRVLN_BENCH=ON) and the WebAssembly tree.
# Usage: bash scripts/bench_readers.sh [OPTIONS OF bench/loops.py...]
#   e.g. --only python,web --processes 5
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
run_as_invoking_user "$ROOT/scripts/bench_readers.sh" "$@"
prepare_system
BENCH="$ROOT/build/bench"

cmake -S "$ROOT" -B "$BENCH" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DMRVLN_BENCH=ON -DBUILD_TESTING=OFF > /dev/null
cmake --build "$BENCH" --target write_bench_picture bench_qt5 bench_qt6 mrvln_qt5 mrvln_qt6 \
  pixbuf_loop pixbufloader-morvellane pixbuf_test_data mrvln_python mrvln_imagemagick \
  vips-morvellane vips_homes > /dev/null
cmake -S "$ROOT" -B "$ROOT/build/wasm32" -G Ninja -DMRVLN_CORE_ONLY=ON \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-wasm32-wasi.cmake" > /dev/null
cmake --build "$ROOT/build/wasm32" -j 2 --target web > /dev/null

echo "== $(lscpu | sed -n 's/^Model name: *//p'), $(date -u '+%Y-%m-%d %H:%M UTC'), commit" \
  "$(git -C "$ROOT" rev-parse --short HEAD)$(git -C "$ROOT" diff --quiet HEAD || echo ' (with changes)');" \
  "Qt $(pkg-config --modversion Qt6Core), gdk-pixbuf $(pkg-config --modversion gdk-pixbuf-2.0)," \
  "Pillow $(/usr/bin/python3 -c 'import PIL; print(PIL.__version__)'), Node $(node --version)," \
  "ImageMagick $(pkg-config --modversion MagickCore), libvips $(pkg-config --modversion vips)"
/usr/bin/python3 "$ROOT/bench/loops.py" "$BENCH" "$BENCH/loops" --web "$ROOT/build/wasm32" "$@"
