#!/usr/bin/env bash
# The part of the set-up that needs root, run by the other scripts (as root
# directly, through sudo otherwise). On a Debian 12 machine it:
#   1. installs the packages below that are missing, and any named as arguments;
#   2. installs qemu-user 8 or newer, from <codename>-backports when the
#      release's own is older, without adding that suite to the machine's
#      apt sources: Wine's 32-bit side runs under qemu-i386 with a chosen
#      processor model in the tests (qemu 7 takes about 45 s to start each
#      Wine process), on every machine;
#   3. where the kernel cannot run 32-bit x86 programs, registers qemu-i386
#      as their handler until the next boot (every run checks again).
# Each change it makes is printed with how to undo it. Safe to run again: it
# changes only what is missing.
#   bash scripts/setup-system.sh [PACKAGE...]          as root
#   bash scripts/setup-system.sh --check [PACKAGE...]  any user: exit 0 if nothing is missing
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# ---- Debian packages the project needs (one list: add new ones here) ----
PACKAGES=(
  cmake ninja-build binutils
  g++-mingw-w64-i686
  clang libclang-rt-14-dev
  googletest libbenchmark-dev
  wine wine32:i386 wine64
  g++-aarch64-linux-gnu
  qtbase5-dev qtbase5-dev-tools qt6-base-dev qt6-base-dev-tools
  libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin libglib2.0-bin shared-mime-info pkg-config
  dpkg-dev file lintian
  python3-dev python3-setuptools python3-wheel python3-pip python3-venv python3-pil python3-numpy
  python3-pytest
  clang-14 lld-14 llvm-14 wasi-libc libc++-14-dev-wasm32 libc++abi-14-dev-wasm32
  libclang-rt-14-dev-wasm32 nodejs npm chromium
  libdeflate-dev libpng-dev
  gimp libgimp2.0-dev
  imagemagick libmagickcore-6.q16-dev php-cli php-imagick
  libvips-dev libvips-tools
)
# qemu-user is handled apart (step 2), since its version matters.

CHECK=false
if [ "${1:-}" = --check ]; then
  CHECK=true
  shift
fi
PACKAGES+=("$@")

BINFMT=/proc/sys/fs/binfmt_misc
QEMU=/usr/bin/qemu-i386
OLD_BINFMT_CONF=/etc/binfmt.d/qemu-i386.conf
# Any i386 ELF executable or shared object, as Debian's qemu-user registers it.
BINFMT_LINE=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:'
OLD_BACKPORTS_SOURCE=/etc/apt/sources.list.d/mrvln-backports.sources
APT=(apt-get -o DPkg::Lock::Timeout=600 -q -y)

# A mirror caught in the middle of a sync serves an index that does not match
# its Release file; it is usually whole again minutes later, so try again.
apt_update() {
  local pause
  for pause in 30 60 120 240; do
    "${APT[@]}" update && return 0
    say "apt-get update failed; trying again in $pause s (a mirror may be syncing)"
    sleep "$pause"
  done
  "${APT[@]}" update
}

# A package counts as there when it is installed or an installed package
# provides it (other builds of nodejs bring npm with them, and conflict with
# Debian's npm).
missing_packages() {
  local p provided
  provided=$(dpkg-query -W -f='${db:Status-Abbrev}|${Provides}\n' 2> /dev/null |
    sed -n 's/^ii *|//p' | tr ',' '\n' | sed 's/ *(.*//; s/^ *//; s/:.*//')
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2> /dev/null | grep -q '^ii' ||
      grep -qx -- "$p" <<< "$provided" || echo "$p"
  done
}
# The major version of a qemu binary (following links, such as Debian's
# qemu-binfmt wrappers, to the binary itself); empty if it does not run.
qemu_major() {
  local bin
  bin=$(readlink -f "$1" 2> /dev/null) || return 0
  "$bin" --version 2> /dev/null | sed -n 's/.*version \([0-9]*\)\..*/\1/p' | head -1
}
qemu_ok() { [ "$(qemu_major "$1")" -ge 8 ] 2> /dev/null; }
wine32_runs() { /usr/lib/wine/wine --version > /dev/null 2>&1; }
# The registered qemu-i386 handler: "none", or "enabled"/"disabled" and its interpreter.
handler_state() { [ -e "$BINFMT/qemu-i386" ] && head -1 "$BINFMT/qemu-i386" || echo none; }
handler_interpreter() { sed -n 's/^interpreter //p' "$BINFMT/qemu-i386"; }
# Earlier versions of this script left an apt source and a boot-time handler
# behind; only files in exactly the form they wrote count.
old_backports_source() {
  [ -e "$OLD_BACKPORTS_SOURCE" ] &&
    grep -q "^# Added by ifMrvln's scripts/setup-system.sh" "$OLD_BACKPORTS_SOURCE"
}
old_binfmt_conf() { [ -e "$OLD_BINFMT_CONF" ] && [ "$(cat "$OLD_BINFMT_CONF")" = "$BINFMT_LINE" ]; }
old_leftovers() { old_backports_source || old_binfmt_conf; }

# ---- --check: report what is missing, change nothing ----
if $CHECK; then
  needs=()
  mapfile -t missing < <(missing_packages)
  [ ${#missing[@]} -eq 0 ] || needs+=("packages: ${missing[*]}")
  qemu_ok "$QEMU" || needs+=("qemu-user 8 or newer")
  if [ "$(handler_state)" = enabled ]; then
    qemu_ok "$(handler_interpreter)" || needs+=("a qemu-i386 handler of qemu 8 or newer")
  elif [ ${#missing[@]} -eq 0 ] && ! wine32_runs; then
    needs+=("a handler for 32-bit x86 programs")
  fi
  old_leftovers && needs+=("removal of an apt source or boot-time handler an earlier set-up left")
  if [ ${#needs[@]} -eq 0 ]; then
    if [ "$(handler_state)" = enabled ]; then how="under $(handler_interpreter)"; else how=natively; fi
    say "nothing to install ($($QEMU --version | head -1); 32-bit programs run $how)"
    exit 0
  fi
  joined=$(printf '%s; ' "${needs[@]}")
  say "the system needs: ${joined%; }"
  exit 1
fi

[ "$(id -u)" -eq 0 ] || die "this step installs packages and must run as root: run it as root, or as: sudo bash $0"
. /etc/os-release
CODENAME=${VERSION_CODENAME:?/etc/os-release names no release codename}
export DEBIAN_FRONTEND=noninteractive

# ---- 1. packages ----
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  say "adding the i386 architecture (for wine32)"
  dpkg --add-architecture i386
fi
mapfile -t missing < <(missing_packages)
if [ ${#missing[@]} -gt 0 ] || ! qemu_ok "$QEMU"; then
  say "updating the package lists (apt-get update)"
  apt_update || die "apt-get update failed (see above): fix the machine's apt sources, then run this again"
fi
if [ ${#missing[@]} -gt 0 ]; then
  say "installing: ${missing[*]}"
  "${APT[@]}" install --no-install-recommends "${missing[@]}" ||
    die "apt-get install failed (see above); fix what it names, then run this again"
fi

# ---- 2. qemu-user 8 or newer ----
# Fetched from <codename>-backports of the mirror the machine's own release
# comes from, through an apt state of its own in a temporary folder, then
# installed as a package file: the machine's sources and lists stay as they
# are.
install_backports_qemu() {
  local uri tmp private major
  uri=$(apt-get indextargets --format '$(REPO_URI)' "Release: $CODENAME" "Target-Of: deb" \
    "Component: main" | head -1)
  [ -n "$uri" ] || die "no apt source for '$CODENAME' main is configured, so qemu-user 8 or newer cannot come from $CODENAME-backports. Install qemu-user 8 or newer by other means, then run this again."
  tmp=$(mktemp -d)
  mkdir -p "$tmp/parts" "$tmp/lists/partial" "$tmp/archives/partial"
  printf 'Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: main\nSigned-By: %s\n' \
    "$uri" "$CODENAME" /usr/share/keyrings/debian-archive-keyring.gpg > "$tmp/parts/backports.sources"
  private=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$tmp/parts"
    -o Dir::State::Lists="$tmp/lists" -o Dir::Cache::Archives="$tmp/archives"
    -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= -o APT::Sandbox::User=root)
  say "reading $CODENAME-backports from $uri (in $tmp; the machine's apt sources are not changed)"
  if ! "${APT[@]}" "${private[@]}" update; then
    rm -rf "$tmp"
    die "$CODENAME-backports could not be read from $uri (see above). Install qemu-user 8 or newer by other means, then run this again."
  fi
  major=$(apt-cache "${private[@]}" policy qemu-user | sed -n 's/ *Candidate: *\([0-9]*:\)*\([0-9]*\).*/\2/p')
  if [ "${major:-0}" -lt 8 ] 2> /dev/null || ! (cd "$tmp" && apt-get "${private[@]}" -q download qemu-user); then
    rm -rf "$tmp"
    die "$CODENAME-backports offers no qemu-user 8 or newer here (candidate: ${major:-none}). Install qemu-user 8 or newer (for instance from a newer Debian release), then run this again."
  fi
  say "installing $(basename "$tmp"/qemu-user_*.deb) (undo: apt-get remove qemu-user)"
  "${APT[@]}" install --no-install-recommends "$tmp"/qemu-user_*.deb || {
    rm -rf "$tmp"
    die "apt-get install of qemu-user from $CODENAME-backports failed (see above)"
  }
  rm -rf "$tmp"
}

if old_backports_source; then
  say "removing $OLD_BACKPORTS_SOURCE, which an earlier set-up added"
  rm -f "$OLD_BACKPORTS_SOURCE"
  "${APT[@]}" update > /dev/null 2>&1 || true
fi
if old_binfmt_conf; then
  say "removing $OLD_BINFMT_CONF, which an earlier set-up added (the handler is registered for this boot only now)"
  rm -f "$OLD_BINFMT_CONF"
fi

if ! qemu_ok "$QEMU"; then
  candidate=$(apt-cache policy qemu-user | sed -n 's/ *Candidate: *\([0-9]*:\)*\([0-9]*\).*/\2/p')
  if [ "${candidate:-0}" -ge 8 ] 2> /dev/null; then
    say "installing qemu-user (version $candidate from the release)"
    "${APT[@]}" install --no-install-recommends qemu-user || die "apt-get install qemu-user failed (see above)"
  else
    say "the release offers qemu-user ${candidate:-(none)}; 8 or newer comes from $CODENAME-backports"
    install_backports_qemu
  fi
  qemu_ok "$QEMU" || die "$QEMU is still not qemu 8 or newer: $($QEMU --version 2>&1 | head -1)"
fi
say "qemu: $($QEMU --version | head -1)"

# ---- 3. a handler for 32-bit x86 programs, only where the kernel has none ----
# Registered for this boot only: every run of the scripts checks again.
state=$(handler_state)
if [ "$state" != none ] && ! qemu_ok "$(handler_interpreter)"; then
  say "removing the registered qemu-i386 handler: its qemu ($(handler_interpreter)) is older than 8"
  { echo -1 > "$BINFMT/qemu-i386"; } 2> /dev/null || die "could not remove the old qemu-i386 handler ($BINFMT/qemu-i386)"
  state=none
fi
if [ "$state" = enabled ]; then
  say "32-bit x86 programs run under $(handler_interpreter) (registered handler)"
  exit 0
fi
if wine32_runs; then
  say "this kernel runs 32-bit x86 programs natively"
  exit 0
fi

say "this kernel cannot run 32-bit x86 programs: registering qemu-i386 as their handler until the next boot"
container_help="In a container, do this on the host instead (as root there): install qemu-user 8 or newer and register it, e.g. write this line to /proc/sys/fs/binfmt_misc/register: ${BINFMT_LINE}F ; then run this again."
if [ ! -e "$BINFMT/register" ]; then
  mount -t binfmt_misc binfmt_misc "$BINFMT" 2> /dev/null ||
    die "binfmt_misc cannot be mounted at $BINFMT, so no handler for 32-bit programs can be registered from here (an unprivileged container?). $container_help"
fi
if [ "$state" = disabled ]; then
  { echo 1 > "$BINFMT/qemu-i386"; } 2> /dev/null || die "could not enable the qemu-i386 handler. $container_help"
else
  { printf '%s' "$BINFMT_LINE" > "$BINFMT/register"; } 2> /dev/null ||
    die "could not register qemu-i386 with the kernel ($BINFMT/register is not writable here: an unprivileged container?). $container_help"
fi
say "registered until the next boot (undo: echo -1 > $BINFMT/qemu-i386)"
wine32_runs || die "Wine's 32-bit loader still does not run under $QEMU: try '/usr/lib/wine/wine --version' to see why"
say "Wine's 32-bit loader runs under qemu"
