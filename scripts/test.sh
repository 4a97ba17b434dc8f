#!/usr/bin/env bash
# Sets up, builds and runs every test: natively under ASan and UBSan the core,
# the Qt plug-ins and the gdk-pixbuf loader with their fuzz targets; the
# tests of the built DLL under Wine; the core built for aarch64 under
# qemu-aarch64; and the Linux packages, installed and removed again. Run it
# as root, or as a user with sudo rights (only package installation runs as
# root).
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
run_as_invoking_user "$ROOT/scripts/test.sh" "$@"
bash "$ROOT/scripts/setup.sh"
. "$ROOT/scripts/env.sh"

echo "== native: the core, the Qt plug-ins, the gdk-pixbuf loader (ASan + UBSan)"
ctest --test-dir "$ROOT/build/native" --output-on-failure -j2
echo "== the DLL under Wine"
ctest --test-dir "$ROOT/build/win32" --output-on-failure
echo "== the core for aarch64, under qemu-aarch64"
cmake -S "$ROOT" -B "$ROOT/build/aarch64" -G Ninja -DMRVLN_CORE_ONLY=ON \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-aarch64-linux.cmake" > /dev/null
cmake --build "$ROOT/build/aarch64" > /dev/null
ctest --test-dir "$ROOT/build/aarch64" --output-on-failure
echo "== the Linux packages"
bash "$ROOT/scripts/packages.sh"
