#!/usr/bin/env bash
# After morvellane-tools is installed: mrvconvert, found on the PATH with
# nothing set, converts colour_chart_odd_173x97.bmp exactly, without a word
# on standard error (no Qt warning, even without XDG_RUNTIME_DIR), holds no
# test hook, reports its version, and its man page is installed. Exits
# non-zero when any fails.
#   tests/mrvconvert/installed_check.sh SAMPLES_DIR
# The checker is built in the package tree (MRVLN_BUILD, default build/pkg).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="${MRVLN_BUILD:-$ROOT/build/pkg}"
if [ $# -ne 1 ] || [ ! -f "$1/colour_chart_odd_173x97.bmp" ]; then
  echo "usage: $0 SAMPLES_DIR (a folder written by make_samples)" >&2
  exit 2
fi
checker="$BUILD/tests/mrvconvert/installed_check_mrvconvert"
[ -x "$checker" ] || { echo "installed_check: $checker is missing; build the package tree first" >&2; exit 2; }
status=0
check() { # WHAT COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok  : $what"; else echo "FAIL: $what"; status=1; fi
}
temp=$(mktemp -d)
trap 'rm -rf "$temp"' EXIT
exe=$(command -v mrvconvert || true)
check "mrvconvert is /usr/bin/mrvconvert ($exe)" test "$exe" = /usr/bin/mrvconvert
env -i PATH=/usr/bin:/bin mrvconvert -q "$1/colour_chart_odd_173x97.bmp" "$temp/odd.png" 2> "$temp/err" || true
check "it writes nothing on standard error" test ! -s "$temp/err"
check "its PNG is exact" "$checker" "$temp/odd.png"
check "it holds no test hook" sh -c '! grep -q MRVLN_TEST /usr/bin/mrvconvert'
check "mrvconvert --version" sh -c 'mrvconvert --version | grep -q "^mrvconvert [0-9]"'
check "its man page is installed" sh -c 'gzip -dc /usr/share/man/man1/mrvconvert.1.gz | grep -q "^\.TH MRVCONVERT 1"'
exit $status
