#!/usr/bin/env bash
# Sets up, builds and runs every test: the native core tests under ASan and
# UBSan, and the tests of the built DLL under Wine. Run it as root, or as a
# user with sudo rights (only the package installation runs as root).
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
run_as_invoking_user "$ROOT/scripts/test.sh" "$@"
bash "$ROOT/scripts/setup.sh"
. "$ROOT/scripts/env.sh"

echo "== native core tests (ASan + UBSan)"
ctest --test-dir "$ROOT/build/native" --output-on-failure
echo "== DLL tests under Wine"
ctest --test-dir "$ROOT/build/win32" --output-on-failure
