#!/usr/bin/env bash
# Sets up, builds and runs every test: the native core tests under ASan and
# UBSan, and the tests of the built DLL under Wine.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/setup.sh"
. "$ROOT/scripts/env.sh"

echo "== native core tests (ASan + UBSan)"
ctest --test-dir "$ROOT/build/native" --output-on-failure
echo "== DLL tests under Wine"
ctest --test-dir "$ROOT/build/win32" --output-on-failure
