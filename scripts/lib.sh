# shellcheck shell=bash
# Sourced by the scripts in this folder (bash only). Sets ROOT to the
# checkout and gives:
#   say, die                     progress lines and a failure that says what to do
#   run_as_invoking_user SCRIPT [ARG...]
#                                under `sudo bash scripts/X.sh`: prepares the system
#                                as root, hands back anything in build/ and out/ that
#                                root owns, then runs SCRIPT again as the user who
#                                called sudo, so nothing the user needs is left to root
#   prepare_system [PACKAGE...]  installs what is missing through setup-system.sh:
#                                directly as root, through sudo otherwise; nothing
#                                is asked for when nothing is missing
#   wine32_emulated              true where 32-bit x86 programs, Wine's 32-bit
#                                side among them, run under a registered qemu handler
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

say() { printf '[%s] %s\n' "$(basename "$0" .sh)" "$*"; }
die() {
  printf '[%s] error: %s\n' "$(basename "$0" .sh)" "$*" >&2
  exit 1
}

prepare_system() {
  local step="bash $ROOT/scripts/setup-system.sh${*:+ $*}"
  if bash "$ROOT/scripts/setup-system.sh" --check "$@"; then
    return 0
  fi
  if [ "$(id -u)" -eq 0 ]; then
    bash "$ROOT/scripts/setup-system.sh" "$@"
  elif command -v sudo > /dev/null 2>&1; then
    say "installing needs root: running sudo $step"
    sudo bash "$ROOT/scripts/setup-system.sh" "$@" ||
      die "the system set-up failed (see above), or sudo was refused; as root, run: $step"
  else
    die "the system set-up needs root, and this user is not root and has no sudo. As root, run: $step (or install sudo and give $(id -un) sudo rights), then run this again."
  fi
}

run_as_invoking_user() {
  [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ] &&
    [ "${CI:-}" != true ] && id -u "$SUDO_USER" > /dev/null 2>&1 || return 0
  local script=$1 group
  shift
  group=$(id -gn "$SUDO_USER")
  say "started through sudo: the system set-up runs as root, the rest as $SUDO_USER"
  prepare_system ${MRVLN_SYSTEM_PACKAGES:+$MRVLN_SYSTEM_PACKAGES}
  for dir in "$ROOT/build" "$ROOT/out"; do
    if [ -e "$dir" ] && [ -n "$(find "$dir" -user root -print -quit)" ]; then
      say "handing $dir back to $SUDO_USER (parts of it belong to root)"
      chown -R --from=root "$SUDO_USER:$group" "$dir"
    fi
  done
  exec runuser -u "$SUDO_USER" -- bash "$script" "$@"
}

wine32_emulated() { [ "$(head -1 /proc/sys/fs/binfmt_misc/qemu-i386 2> /dev/null)" = enabled ]; }
