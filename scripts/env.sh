# shellcheck shell=bash
# Sourced (by bash) for the Wine settings every run uses:  . scripts/env.sh
# The prefix is the checkout's own, found from this file's place, unless
# WINEPREFIX is already set.
if [ -z "${BASH_VERSION:-}" ]; then
  echo "env.sh: source it from bash (. scripts/env.sh), or set WINEPREFIX yourself" >&2
  return 1 2> /dev/null || exit 1
fi
export WINEPREFIX="${WINEPREFIX:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
