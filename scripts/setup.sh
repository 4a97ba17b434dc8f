#!/usr/bin/env bash
# Prepares this machine to build and test ifMrvln.spi, then configures and
# builds both trees:
#   build/win32   the plug-in, its Windows test host and tools (mingw-w64, run under Wine)
#   build/native  the pure codec core, its unit tests (ASan+UBSan) and tools
# The system part (packages, qemu, the handler for 32-bit programs) is
# scripts/setup-system.sh, run as root: directly when this runs as root,
# through sudo otherwise, and only when something is missing. Everything
# else runs as the user who started it. Safe to run again.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
run_as_invoking_user "$ROOT/scripts/setup.sh" "$@"

prepare_system

# Files left by an earlier run as root cannot be rewritten by a user.
if [ "$(id -u)" -ne 0 ]; then
  for dir in "$ROOT/build" "$ROOT/out"; do
    foreign=$(find "$dir" ! -user "$(id -u)" -print -quit 2> /dev/null || true)
    [ -z "$foreign" ] ||
      die "$foreign belongs to $(stat -c %U "$foreign"), not to $(id -un) (left by a run as root?). Hand it back with: sudo chown -R $(id -un): $dir  (or remove $dir), then run this again."
  done
fi

# A Wine prefix of our own keeps the runs independent of the user's ~/.wine.
. "$ROOT/scripts/env.sh"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  say "creating the Wine prefix $WINEPREFIX (wineboot; about a minute the first time)"
  mkdir -p "$WINEPREFIX"
  wineboot --init || say "wineboot reported a failure; checking the prefix"
  wineserver --wait || true
fi
# The prefix must work for 32-bit programs: its 32-bit command interpreter answers.
cmd32='C:\windows\syswow64\cmd.exe'
[ -d "$WINEPREFIX/drive_c/windows/syswow64" ] || cmd32='C:\windows\system32\cmd.exe'
answer=$(wine "$cmd32" /c ver 2>&1 || true)
if [ ! -f "$WINEPREFIX/system.reg" ] || [[ $answer != *Windows* ]]; then
  die "the Wine prefix $WINEPREFIX does not work (no system.reg, or a 32-bit program does not run in it). See Wine's own messages with: WINEPREFIX=$WINEPREFIX WINEDEBUG= wine '$cmd32' /c ver ; a prefix that belongs to another user or was left half-made can be removed (rm -rf $WINEPREFIX) and this run again."
fi
say "Wine prefix ready: $WINEPREFIX"

say "configuring and building build/win32 (the plug-in, its tools and tests)"
cmake -S "$ROOT" -B "$ROOT/build/win32" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-i686-mingw.cmake" > /dev/null
cmake --build "$ROOT/build/win32"
say "configuring and building build/native (the core, its tests and tools)"
cmake -S "$ROOT" -B "$ROOT/build/native" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DMRVLN_SANITIZE=ON > /dev/null
cmake --build "$ROOT/build/native"
say "ready"
