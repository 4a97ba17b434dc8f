#!/usr/bin/env bash
# The part of the set-up that needs root, run by the other scripts (as root
# directly, through sudo otherwise). On a Debian 12 machine it:
#   1. installs the packages below that are missing, and any named as arguments;
#   2. installs qemu-user 8 or newer, from <codename>-backports when the
#      release's own is older: Wine's 32-bit side runs under qemu-i386 with a
#      chosen processor model in the tests (qemu 7 takes about 45 s to start
#      each Wine process), on every machine;
#   3. where the kernel cannot run 32-bit x86 programs, registers qemu-i386
#      as their handler, now and at every boot (/etc/binfmt.d/qemu-i386.conf).
# Safe to run again: it changes only what is missing.
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
BINFMT_CONF=/etc/binfmt.d/qemu-i386.conf
# Any i386 ELF executable or shared object, as Debian's qemu-user registers it.
BINFMT_LINE=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:'
BACKPORTS_SOURCE=/etc/apt/sources.list.d/mrvln-backports.sources
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

# ---- --check: report what is missing, change nothing ----
if $CHECK; then
  needs=()
  mapfile -t missing < <(missing_packages)
  [ ${#missing[@]} -eq 0 ] || needs+=("packages: ${missing[*]}")
  qemu_ok "$QEMU" || needs+=("qemu-user 8 or newer")
  if [ "$(handler_state)" = enabled ]; then
    qemu_ok "$(handler_interpreter)" || needs+=("a qemu-i386 handler of qemu 8 or newer")
    [ -e "$BINFMT_CONF" ] || [ -e /usr/lib/binfmt.d/qemu-i386.conf ] ||
      needs+=("the qemu-i386 handler registered at boot")
  elif [ ${#missing[@]} -eq 0 ] && ! wine32_runs; then
    needs+=("a handler for 32-bit x86 programs")
  fi
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
# The deb822 stanza (or one-line entry) that carries the release's own main
# suite, printed as a deb822 stanza for <codename>-backports with the same
# URIs and keys. Empty if there is none.
backports_stanza() {
  local f stanza=""
  for f in /etc/apt/sources.list.d/*.sources; do
    if [ ! -e "$f" ] || [ "$f" = "$BACKPORTS_SOURCE" ]; then continue; fi
    stanza=$(awk -v want="$CODENAME" -v suite="$CODENAME-backports" '
      function flush() {
        if (deb && hit && enabled && uris != "" && !done) {
          print "Types: deb"; print "URIs: " uris; print "Suites: " suite
          print "Components: main"; if (signed != "") print signed; done = 1
        }
        deb = hit = 0; enabled = 1; uris = signed = ""; field = ""
      }
      BEGIN { enabled = 1 }
      /^[ \t]*$/ { flush(); next }
      /^#/ { next }
      /^[ \t]/ { if (field == "signed-by") signed = signed "\n" $0; next }
      {
        field = tolower(substr($0, 1, index($0, ":") - 1)); value = substr($0, index($0, ":") + 1)
        gsub(/^[ \t]+|[ \t]+$/, "", value)
        if (field == "types") deb = (" " value " " ~ / deb /)
        else if (field == "uris") uris = value
        else if (field == "suites") hit = (" " value " " ~ (" " want " "))
        else if (field == "enabled") enabled = (tolower(value) != "no")
        else if (field == "signed-by") signed = "Signed-By: " value
      }
      END { flush() }' "$f")
    [ -z "$stanza" ] || break
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    if [ -n "$stanza" ] || [ ! -e "$f" ]; then continue; fi
    # deb [options] URI SUITE COMPONENT...
    stanza=$(awk -v want="$CODENAME" -v suite="$CODENAME-backports" '
      $1 == "deb" {
        opts = ""; i = 2
        if ($2 ~ /^\[/) { while (i <= NF) { opts = opts " " $i; if ($i ~ /\]$/) { i++; break } i++ } }
        if ($(i + 1) == want) {
          print "Types: deb"; print "URIs: " $i; print "Suites: " suite; print "Components: main"
          if (match(opts, /signed-by=[^] ]+/)) print "Signed-By: " substr(opts, RSTART + 10, RLENGTH - 10)
          exit
        }
      }' "$f")
  done
  printf '%s' "$stanza"
}
# The highest major version of qemu-user that apt offers from a suite.
suite_qemu_major() {
  apt-cache madison qemu-user 2> /dev/null | awk -F'|' -v s=" $1/" '
    index($3, s) { v = $2; gsub(/ /, "", v); sub(/^[0-9]+:/, "", v); sub(/[^0-9].*/, "", v)
                   if (v + 0 > best) best = v + 0 }
    END { print best + 0 }'
}

if ! qemu_ok "$QEMU"; then
  candidate=$(apt-cache policy qemu-user | sed -n 's/ *Candidate: *\([0-9]*:\)*\([0-9]*\).*/\2/p')
  if [ "${candidate:-0}" -ge 8 ] 2> /dev/null; then
    say "installing qemu-user (version $candidate from the release)"
    "${APT[@]}" install --no-install-recommends qemu-user || die "apt-get install qemu-user failed (see above)"
  else
    say "the release offers qemu-user ${candidate:-(none)}; 8 or newer comes from $CODENAME-backports"
    added=false
    if [ "$(suite_qemu_major "$CODENAME-backports")" -lt 8 ]; then
      stanza=$(backports_stanza)
      [ -n "$stanza" ] || die "no apt source for '$CODENAME' main was found in /etc/apt/sources.list or /etc/apt/sources.list.d/, so $CODENAME-backports cannot be added. Add a $CODENAME-backports source for this machine's mirror (see 'man sources.list'), or install qemu-user 8 or newer by other means, then run this again."
      say "adding $CODENAME-backports from the machine's own $CODENAME source: $BACKPORTS_SOURCE"
      printf '%s\n' "# Added by ifMrvln's scripts/setup-system.sh for qemu-user 8 or newer." "$stanza" > "$BACKPORTS_SOURCE"
      sed 's/^/    /' "$BACKPORTS_SOURCE"
      added=true
      "${APT[@]}" update || true
    fi
    if [ "$(suite_qemu_major "$CODENAME-backports")" -lt 8 ]; then
      if $added; then
        rm -f "$BACKPORTS_SOURCE"
        "${APT[@]}" update > /dev/null 2>&1 || true
      fi
      die "$CODENAME-backports offers no qemu-user 8 or newer here (or could not be read: see apt-get's messages above); the source added for it was removed. Install qemu-user 8 or newer (for instance from a newer Debian release), then run this again."
    fi
    say "installing qemu-user from $CODENAME-backports"
    "${APT[@]}" install --no-install-recommends -t "$CODENAME-backports" qemu-user ||
      die "apt-get install -t $CODENAME-backports qemu-user failed (see above)"
  fi
  qemu_ok "$QEMU" || die "$QEMU is still not qemu 8 or newer: $($QEMU --version 2>&1 | head -1)"
fi
say "qemu: $($QEMU --version | head -1)"

# ---- 3. a handler for 32-bit x86 programs, only where the kernel has none ----
state=$(handler_state)
if [ "$state" != none ] && ! qemu_ok "$(handler_interpreter)"; then
  say "removing the registered qemu-i386 handler: its qemu ($(handler_interpreter)) is older than 8"
  { echo -1 > "$BINFMT/qemu-i386"; } 2> /dev/null || die "could not remove the old qemu-i386 handler ($BINFMT/qemu-i386)"
  state=none
fi
if [ "$state" = enabled ] || wine32_runs; then
  if [ "$state" = enabled ]; then
    say "32-bit x86 programs run under $(handler_interpreter) (registered handler)"
    if [ ! -e "$BINFMT_CONF" ] && [ ! -e /usr/lib/binfmt.d/qemu-i386.conf ]; then
      say "registering it at every boot too: $BINFMT_CONF"
      mkdir -p /etc/binfmt.d
      printf '%s\n' "$BINFMT_LINE" > "$BINFMT_CONF"
    fi
  else
    say "this kernel runs 32-bit x86 programs natively"
  fi
  exit 0
fi

say "this kernel cannot run 32-bit x86 programs: registering qemu-i386 as their handler"
container_help="In a container, do this on the host instead (as root there): install qemu-user 8 or newer and register it, e.g. install Debian's qemu-user-binfmt package of the same version, or write this line to /etc/binfmt.d/qemu-i386.conf and run 'systemctl restart systemd-binfmt': ${BINFMT_LINE}F ; then run this again."
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
mkdir -p /etc/binfmt.d
printf '%s\n' "$BINFMT_LINE" > "$BINFMT_CONF"
say "registered now and at every boot ($BINFMT_CONF, read by systemd-binfmt)"
if command -v update-binfmts > /dev/null 2>&1 &&
  update-binfmts --display qemu-i386 2> /dev/null | grep -q 'interpreter'; then
  old=$(update-binfmts --display qemu-i386 | sed -n 's/^ *interpreter = //p')
  qemu_ok "$old" || say "warning: binfmt-support also knows qemu-i386 with $old (older than 8) and may register it at boot; remove the package that brings it (qemu-user-static 7, for one) or install its version 8 or newer"
fi
wine32_runs || die "Wine's 32-bit loader still does not run under $QEMU: try '/usr/lib/wine/wine --version' to see why"
say "Wine's 32-bit loader runs under qemu"
