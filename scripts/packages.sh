#!/usr/bin/env bash
# Builds the Debian packages of the Linux front ends (an optimised tree with
# all of Debian's hardening flags, build/pkg), installs them as a user would
# (apt-get install ./FILE.deb), checks that Qt, GTK and Python programs read
# Morvellane bitmaps with nothing set, and removes again the packages that
# were not installed before.
# Usage: bash scripts/packages.sh [--keep]    (--keep leaves them installed)
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
KEEP="${1:-}"
PKG="$ROOT/build/pkg"
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

echo "== building the packages (build/pkg, dpkg-buildflags hardening=+all)"
# hardening=+all adds -z now to -z relro. The flags are passed, not left in
# the environment, which CMake reads only into a new cache; CMake reads no
# CPPFLAGS, so the fortify define joins the compile flags, as debhelper does.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
cmake -S "$ROOT" -B "$PKG" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DBUILD_TESTING=OFF -DMRVLN_PACKAGE=ON \
  -DCMAKE_C_FLAGS="$CFLAGS $CPPFLAGS" -DCMAKE_CXX_FLAGS="$CXXFLAGS $CPPFLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" -DCMAKE_SHARED_LINKER_FLAGS="$LDFLAGS" \
  -DCMAKE_MODULE_LINKER_FLAGS="$LDFLAGS" > /dev/null
cmake --build "$PKG"
rm -rf "$PKG/packages" "$PKG/packages-again"
# As dpkg-buildpackage does: every time in the packages is the date of the
# newest changelog entry, so the same tree gives the same packages; a second
# packing checks it.
entry_date=$(sed -n 's/^ -- .*  \([A-Z][a-z][a-z], .*\)$/\1/p' "$ROOT/cmake/debian-changelog.in" | head -1)
[ -n "$entry_date" ] || { echo "packages: no date in cmake/debian-changelog.in" >&2; exit 1; }
SOURCE_DATE_EPOCH=$(date -d "$entry_date" +%s)
export SOURCE_DATE_EPOCH
(cd "$PKG" && cpack > /dev/null && cpack -B "$PKG/packages-again" > /dev/null)
same=$(cd "$PKG/packages" && sha256sum ./*.deb | (cd "$PKG/packages-again" && sha256sum --quiet -c) 2>&1) ||
  { echo "packages: a second packing gave other bytes: $same" >&2; exit 1; }
rm -rf "$PKG/packages-again"
mapfile -t debs < <(find "$PKG/packages" -maxdepth 1 -name '*.deb' | sort)
[ ${#debs[@]} -gt 0 ] || { echo "packages: cpack made no package" >&2; exit 1; }
names=() new=()
for deb in "${debs[@]}"; do
  name=$(dpkg-deb -f "$deb" Package)
  names+=("$name")
  dpkg-query -W -f='${db:Status-Abbrev}' "$name" 2> /dev/null | grep -q '^ii' || new+=("$name")
  echo "   $(basename "$deb"): depends on $(dpkg-deb -f "$deb" Depends)"
  # Debian's policy: every package names its licence in its own copyright
  # file, and carries its changelog.
  contents=$(dpkg-deb -c "$deb")
  for doc in copyright changelog.gz; do
    [[ $contents == *" ./usr/share/doc/$name/$doc"* ]] ||
      { echo "packages: $(basename "$deb") has no /usr/share/doc/$name/$doc" >&2; exit 1; }
  done
  [[ $(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "./usr/share/doc/$name/changelog.gz" |
    gzip -dc | head -1) == "$name ($(dpkg-deb -f "$deb" Version)) "* ]] ||
    { echo "packages: $(basename "$deb"): the changelog's newest entry is not this package's" >&2; exit 1; }
  # Continuation lines of the description start with one space, so it wraps.
  description=$(dpkg-deb -f "$deb" Description | tail -n +2)
  ! grep -qv '^ [^ ]' <<< "$description" ||
    { echo "packages: $(basename "$deb"): description lines not wrapped" >&2; exit 1; }
done

# Debian's own checks of a package: any error or warning fails the run
# (lintian's informational tags are printed, not fatal).
echo "== lintian"
lint_status=0
lint=$(lintian --fail-on error,warning --info "${debs[@]}" 2>&1) || lint_status=$?
grep -v 'running with root privileges' <<< "$lint" || true
[ "$lint_status" -eq 0 ] || { echo "packages: lintian reports errors or warnings (above)" >&2; exit 1; }

SAMPLES="$PKG/samples"
mkdir -p "$SAMPLES"
"$PKG/tools/make_samples/make_samples" "$SAMPLES"
# The fixture builder's files, which the checks compare the installed readers
# against, from a build of their writer of its own (the packaging tree builds
# no tests).
g++ -std=c++17 -O1 -Wall -Wextra -Werror -I"$ROOT" "$ROOT/tests/python/write_fixtures.cpp" \
  -o "$PKG/write_fixtures"
mkdir -p "$SAMPLES/fixtures"
"$PKG/write_fixtures" "$SAMPLES/fixtures"

remove() {
  [ ${#new[@]} -gt 0 ] || return 0
  as_root apt-get purge -y -qq "${new[@]}" > /dev/null
  echo "== removed: ${new[*]}"
}
echo "== installing: ${names[*]}"
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${debs[@]}" > /dev/null
[ "$KEEP" = "--keep" ] || trap remove EXIT

status=0
# hardening=+all: every installed ELF file is linked with -z relro and -z now.
for name in "${names[@]}"; do
  while IFS= read -r file; do
    [ -f "$file" ] && readelf -h "$file" > /dev/null 2>&1 || continue
    elf=$(readelf -lWd "$file")
    [[ $elf == *GNU_RELRO* && $elf =~ BIND_NOW|Flags:.*\ NOW ]] ||
      { echo "FAIL: $file ($name) is not linked with -z relro -z now"; status=1; }
    # Every GTK program and thumbnailer loads this module: the C++ runtime
    # would cost each of them a millisecond at its first picture.
    [[ $name != morvellane-pixbuf-loader || $elf != *libstdc++* ]] ||
      { echo "FAIL: $file ($name) needs the C++ runtime"; status=1; }
  done < <(dpkg -L "$name")
done
[ $status -ne 0 ] || echo "   every installed ELF file: RELRO and BIND_NOW; the gdk-pixbuf module without the C++ runtime"
for check in "$ROOT"/tests/*/installed_check.sh; do
  echo "== $(basename "$(dirname "$check")"): installed, nothing set"
  # A plain environment, as a desktop session has: no plug-in or loader paths.
  env -u QT_PLUGIN_PATH -u GDK_PIXBUF_MODULE_FILE -u GDK_PIXBUF_MODULEDIR -u XDG_DATA_DIRS \
    bash "$check" "$SAMPLES" || status=1
done
exit $status
