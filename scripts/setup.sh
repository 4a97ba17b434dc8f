#!/usr/bin/env bash
# Prepares a Debian machine to build and test ifMrvln.spi, then configures
# and builds both trees:
#   build/win32   the plug-in, its Windows test host and tools (mingw-w64, run under Wine)
#   build/native  the pure codec core, its unit tests (ASan+UBSan) and tools
# Safe to run again: it installs only what is missing.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

say() { printf '[setup] %s\n' "$*"; }

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: this installs Debian packages and registers a binary format, so it must run as root (try: sudo $0)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive

PACKAGES=(cmake ninja-build g++-mingw-w64-i686 clang libclang-rt-14-dev googletest
          libbenchmark-dev wine wine32:i386 wine64 binutils zip)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing: ${missing[*]}"
  dpkg --add-architecture i386
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" > /dev/null
fi

# Wine runs the 32-bit plug-in with its 32-bit loader. Some kernels (such as
# paravirtualised hosts without IA-32 emulation) refuse 32-bit programs; there
# the loader runs under qemu's user-mode emulator, registered as the handler
# for i386 programs. qemu 8 or newer is needed: older ones take about a
# minute to start each Wine process.
wine32_runs() { /usr/lib/wine/wine --version > /dev/null 2>&1; }
qemu_major() { qemu-i386 --version 2>/dev/null | sed -n 's/.*version \([0-9]*\).*/\1/p' | head -1; }
if ! wine32_runs; then
  if [ "$(qemu_major || true)" = "" ] || [ "$(qemu_major)" -lt 8 ]; then
    . /etc/os-release
    candidate=$(apt-cache policy qemu-user 2>/dev/null | sed -n 's/ *Candidate: *[0-9]*:*\([0-9]*\).*/\1/p')
    if [ "${candidate:-0}" -lt 8 ] && [ -n "${VERSION_CODENAME:-}" ]; then
      say "adding ${VERSION_CODENAME}-backports for a current qemu-user"
      echo "deb http://deb.debian.org/debian ${VERSION_CODENAME}-backports main" \
        > /etc/apt/sources.list.d/backports-qemu.list
      apt-get update -qq
      apt-get install -y -qq --no-install-recommends -t "${VERSION_CODENAME}-backports" qemu-user > /dev/null
    else
      apt-get install -y -qq --no-install-recommends qemu-user > /dev/null
    fi
  fi
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  fi
  if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    echo 1 > /proc/sys/fs/binfmt_misc/qemu-i386
  else
    say "registering qemu-i386 for 32-bit x86 programs"
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:' \
      > /proc/sys/fs/binfmt_misc/register
  fi
  wine32_runs || { echo "setup: the 32-bit Wine loader still cannot run" >&2; exit 1; }
fi

# A Wine prefix of our own keeps the runs independent of the user's ~/.wine.
export WINEPREFIX="${WINEPREFIX:-$ROOT/build/wineprefix}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  say "creating the Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot --init > /dev/null 2>&1 || true
  wineserver --wait || true
fi

say "configuring and building"
cmake -S "$ROOT" -B "$ROOT/build/win32" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-i686-mingw.cmake" > /dev/null
cmake --build "$ROOT/build/win32"
cmake -S "$ROOT" -B "$ROOT/build/native" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DMRVLN_SANITIZE=ON > /dev/null
cmake --build "$ROOT/build/native"
say "ready"
