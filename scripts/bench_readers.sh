#!/usr/bin/env bash
# Benchmarks of the Linux readers, not tests: the Qt plug-in against Qt's own
# BMP reader (bench_qt) and the gdk-pixbuf loader against gdk-pixbuf's BMP
# loader (pixbuf_bench), on a 3840 x 2160 picture, in the optimised tree
# build/bench (Release, GCC, no sanitizers; -DMRVLN_BENCH=ON). Each prints
# medians of RUNS rounds taken in turns, after the machine, its load and the
# commit measured.
# Usage: bash scripts/bench_readers.sh [RUNS]     (default 7)
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
RUNS="${1:-7}"
BENCH="$ROOT/build/bench"

cmake -S "$ROOT" -B "$BENCH" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DMRVLN_BENCH=ON -DBUILD_TESTING=OFF > /dev/null
cmake --build "$BENCH" --target bench_qt pixbuf_bench > /dev/null

echo "== machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) CPUs; $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "   commit $(git -C "$ROOT" rev-parse --short HEAD)$(git -C "$ROOT" diff --quiet HEAD || echo ' (with changes)');" \
  "Qt $(pkg-config --modversion Qt6Core 2> /dev/null || echo '?'), gdk-pixbuf $(pkg-config --modversion gdk-pixbuf-2.0)"
echo "   load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "== Qt 6: the plug-in against Qt's BMP reader (bench_qt)"
"$BENCH/bench/bench_qt" "$RUNS"
echo
echo "== gdk-pixbuf: the loader against gdk-pixbuf's BMP loader (pixbuf_bench)"
# The build tree's loader cache and MIME database, as the tests use them.
mapfile -t pixbuf_env < "$BENCH/bench/pixbuf_bench.env"
(cd "$BENCH/bench" && env "${pixbuf_env[@]}" ./pixbuf_bench "$RUNS")
echo
echo "   load after: $(cut -d' ' -f1-3 /proc/loadavg)"
