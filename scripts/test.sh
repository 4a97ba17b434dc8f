#!/usr/bin/env bash
# Sets up, builds and runs every test: natively under ASan and UBSan the core,
# the Qt plug-ins and the gdk-pixbuf loader with their fuzz targets, and the
# Python package with its fuzz pass, and the GIMP plug-in in headless GIMPs;
# the tests of the built DLL under Wine; the core built for aarch64 under
# qemu-aarch64; the core built for WebAssembly under Node, with the npm
# package and the page in headless Chromium; the same broken files through
# every front end, which must give the same reasons; and the Linux packages,
# installed and removed again. Run it
# as root, or as a user with sudo rights (only package installation runs as
# root).
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
run_as_invoking_user "$ROOT/scripts/test.sh" "$@"
bash "$ROOT/scripts/setup.sh"
. "$ROOT/scripts/env.sh"

# Runs one tree's tests (each GoogleTest case is a test of its own) and adds
# those that passed to the count, skipped ones apart; any failure ends the run.
passed=0 skipped=0
LOG="$ROOT/build/ctest-last.log"
run_tests() {
  ctest --test-dir "$1" --output-on-failure "${@:2}" | tee "$LOG"
  local ran skips
  ran=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$LOG")
  skips=$(grep -c '\*\*\*Skipped ' "$LOG" || true)
  passed=$((passed + ran - skips)) skipped=$((skipped + skips))
}

echo "== native: the core, the Qt plug-ins, the gdk-pixbuf loader, the GIMP plug-in (ASan + UBSan)"
run_tests "$ROOT/build/native" -j2
echo "== the Python package under ASan + UBSan: pytest and a seeded fuzz pass"
bash "$ROOT/tests/python/run_tests.sh" "$ROOT/build/native" | tee "$LOG"
passed=$((passed + $(sed -n 's/^python tests: \([0-9]*\) passed$/\1/p' "$LOG")))
echo "== the DLL under Wine"
# Started here too, so that listing the cases before the run is quick as well.
bash "$ROOT/scripts/wine_session.sh"
run_tests "$ROOT/build/win32" -j2
echo "== the core for aarch64, under qemu-aarch64"
cmake -S "$ROOT" -B "$ROOT/build/aarch64" -G Ninja -DMRVLN_CORE_ONLY=ON \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-aarch64-linux.cmake" > /dev/null
cmake --build "$ROOT/build/aarch64" > /dev/null
run_tests "$ROOT/build/aarch64"
echo "== the web front end: the core for wasm32 under Node, the npm package, the page in Chromium"
cmake -S "$ROOT" -B "$ROOT/build/wasm32" -G Ninja -DMRVLN_CORE_ONLY=ON \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-wasm32-wasi.cmake" > /dev/null
cmake --build "$ROOT/build/wasm32" -j 2 > /dev/null
run_tests "$ROOT/build/wasm32"
echo "== the same broken files through every front end: the same reasons, in the same words"
bash "$ROOT/scripts/wine_session.sh"
/usr/bin/python3 "$ROOT/tests/reasons/same_reasons.py" "$ROOT/build/native" "$ROOT/build/win32" \
  "$ROOT/build/wasm32" "$ROOT/build/reasons" | tee "$LOG"
passed=$((passed + $(sed -n 's/^same reasons: \([0-9]*\) checked$/\1/p' "$LOG")))
echo "== the Linux packages, installed and removed again"
bash "$ROOT/scripts/packages.sh"
passed=$((passed + 1))
echo
echo "skipped: $skipped (a case that needs what this machine or tree lacks)"
echo "tests: $passed passed, 0 failed"
