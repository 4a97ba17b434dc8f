#!/usr/bin/env bash
# The Python package of a build tree under test: writes the fixtures, runs
# pytest over tests/python and a seeded fuzz pass of the core's seeds
# (fuzz/fuzz_python.py) with Debian's python3. In a sanitizer tree the
# extension is instrumented, so python3 runs with the ASan runtime preloaded
# and every allocation through it. Ends with "python tests: N passed".
# Usage: bash tests/python/run_tests.sh BUILD_DIR [FUZZ_SECONDS]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="$(cd "${1:?usage: $0 BUILD_DIR [FUZZ_SECONDS]}" && pwd)"
SECONDS_OF_FUZZ="${2:-20}"
PYTHON=/usr/bin/python3
PACKAGE="$BUILD/readers/python"
WORK="$BUILD/tests/python/run"
compgen -G "$PACKAGE/morvellane/_morvellane*.so" > /dev/null ||
  { echo "run_tests: no extension module in $PACKAGE/morvellane (build target mrvln_python)" >&2; exit 1; }

rm -rf "$WORK"
mkdir -p "$WORK/fixtures" "$WORK/seeds"
"$BUILD/tests/python/write_python_fixtures" "$WORK/fixtures"

export PYTHONPATH="$PACKAGE" PYTHONDONTWRITEBYTECODE=1
export MRVLN_PYTHON_FIXTURES="$WORK/fixtures" MRVLN_PYTHON_PACKAGE="$PACKAGE/morvellane"
# python3 with the ASan runtime when the extension is instrumented; the
# tree's own programs carry theirs.
python=("$PYTHON")
if grep -q '^MRVLN_SANITIZE:BOOL=ON' "$BUILD/CMakeCache.txt"; then
  compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
  runtime=$("$compiler" -print-file-name=libclang_rt.asan-x86_64.so)
  # Python's own allocator would hide small buffers from ASan's red zones.
  python=(env LD_PRELOAD="$runtime" ASAN_OPTIONS=detect_leaks=0 PYTHONMALLOC=malloc "$PYTHON")
  echo "python: ASan and UBSan, runtime $runtime"
fi

"${python[@]}" -m pytest -q -p no:cacheprovider "$ROOT/tests/python" | tee "$WORK/pytest.log"
passed=$(sed -n 's/^\([0-9]*\) passed.*/\1/p' "$WORK/pytest.log" | tail -1)

if [ -x "$BUILD/fuzz/make_fuzz_seeds" ]; then
  "$BUILD/fuzz/make_fuzz_seeds" "$WORK/seeds" > /dev/null
  "${python[@]}" "$ROOT/fuzz/fuzz_python.py" "$WORK/seeds" "$WORK/fixtures/levels.bin" \
    "$WORK/fuzz-artifacts" --seconds "$SECONDS_OF_FUZZ"
  passed=$((passed + 1))
fi
echo "python tests: ${passed:-0} passed"
