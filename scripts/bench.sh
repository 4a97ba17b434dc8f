#!/usr/bin/env bash
# Benchmarks, not tests: nothing here passes or fails on a figure.
#   1. the conversion core natively (Google Benchmark, x86-64, build/bench):
#      every path at 640x480, 1920x1080, 3840x2160 and an odd width, with
#      memcpy of the output, the straightforward loop and whole calls;
#   2. the built ifMrvln.spi under Wine, through its exports, with bench_host:
#      GetPicture in memory and file mode, IsSupported, GetPictureInfo, next
#      to memcpy, the straightforward loop and each path, in one process;
#   3. the same DLL on qemu's Core Duo and Pentium III models (the sse2 and
#      plain paths), Wine started explicitly under qemu-i386 -cpu MODEL.
# Figures are medians of RUNS repetitions, taken in turns (the repetitions of
# all measures interleaved) so that load from elsewhere hits them alike; the
# ratios come from one run.
# Usage: bash scripts/bench.sh [RUNS]        (default 7; as root or with sudo rights, as main.sh)
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
run_as_invoking_user "$ROOT/scripts/bench.sh" "$@"
RUNS="${1:-7}"
bash "$ROOT/scripts/setup.sh"
. "$ROOT/scripts/env.sh"

cmake -S "$ROOT" -B "$ROOT/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DMRVLN_BENCH=ON -DBUILD_TESTING=OFF > /dev/null
cmake --build "$ROOT/build/bench" --target convert_bench write_bench_picture

echo "== machine"
lscpu | sed -n 's/^\(Model name\|CPU(s)\|Hypervisor vendor\|Virtualization type\): *\(.*\)/  \1: \2/p'
echo "  kernel: $(uname -r); SSE2: $(grep -qw sse2 /proc/cpuinfo && echo yes || echo no)," \
  "SSSE3: $(grep -qw ssse3 /proc/cpuinfo && echo yes || echo no)"
if wine32_emulated; then
  echo "  32-bit x86 code runs under $(qemu-i386 --version | head -1): every Wine figure is emulated"
else
  echo "  32-bit x86 code runs natively; the runs on qemu's processor models (last) are emulated"
fi

echo
echo "== conversion core, native x86-64 (Google Benchmark, median of $RUNS)"
JSON="$ROOT/build/bench/convert_bench.json"
"$ROOT/build/bench/bench/convert_bench" --benchmark_repetitions="$RUNS" \
  --benchmark_report_aggregates_only=true --benchmark_min_time=0.2 \
  --benchmark_enable_random_interleaving=true \
  --benchmark_out="$JSON" --benchmark_out_format=json > /dev/null
python3 "$ROOT/scripts/bench_summary.py" "$JSON"

echo
echo "== ifMrvln.spi under Wine, through its exports (bench_host, median of $RUNS)"
wine "$ROOT/build/win32/bin/bench_host.exe" 3840 2160 "$RUNS"

# qemu's processor models make the DLL take its other paths: the whole calls
# through the sse2 path (Core Duo) and the plain path (Pentium III). Wine's
# 32-bit loader is started under qemu explicitly; WINELOADERNOEXEC keeps it
# from starting itself again outside the emulator. Emulated figures.
for model in coreduo pentium3; do
  echo
  echo "== ifMrvln.spi under Wine on qemu's $model model, emulated (median of $RUNS)"
  WINELOADERNOEXEC=1 qemu-i386 -cpu "$model" /usr/lib/wine/wine \
    "$ROOT/build/win32/bin/bench_host.exe" 3840 2160 "$RUNS" |
    grep -E "^bench_host|GetPicture|straightforward|conversion|ratios|vs straightforward loop with"
done
