#!/usr/bin/env bash
# Fuzzes for a given time, longer than the fixed passes of the test run:
#   scripts/fuzz.sh SECONDS [TARGET...]
# TARGET: accept, info, decode (the core), qt (the Qt 6 handler), pixbuf (the
# gdk-pixbuf loader), vips (the libvips module), imagemagick (the ImageMagick
# coder), gimp (the GIMP plug-in's reading); by default every one the native
# tree builds. The time is shared equally among the targets. Each target
# keeps its corpus in build/fuzz/corpus/TARGET (seeded by the fixture
# builder) so runs build on one another; a crash is written to
# build/fuzz/artifacts/TARGET/ and fails the run: once fixed, keep the input
# under fuzz/regressions/TARGET/, named for what it hits, and every test run
# replays it.
# FUZZ_WORKERS=N runs N fuzzing processes per target (default 1).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SECONDS_TOTAL="${1:?usage: fuzz.sh SECONDS [accept|info|decode|qt|pixbuf|vips|imagemagick|gimp]...}"
shift
NATIVE="$ROOT/build/native"
TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then
  for t in accept info decode qt pixbuf vips imagemagick gimp; do
    # The tree writes fuzz_TARGET.env for each target it has.
    [ -f "$NATIVE/fuzz/fuzz_$t.env" ] && TARGETS+=("$t")
  done
fi
WORKERS="${FUZZ_WORKERS:-1}"
OUT="${FUZZ_OUT:-$ROOT/build/fuzz}"

cmake --build "$NATIVE" --target make_fuzz_seeds "${TARGETS[@]/#/fuzz_}" "${TARGETS[@]/#/replay_}" > /dev/null
SEEDS="$OUT/seeds"
mkdir -p "$SEEDS"
"$NATIVE/fuzz/make_fuzz_seeds" "$SEEDS" > /dev/null

per_target=$((SECONDS_TOTAL / ${#TARGETS[@]}))
[ "$per_target" -ge 1 ] || per_target=1
status=0
for t in "${TARGETS[@]}"; do
  corpus="$OUT/corpus/$t"
  artifacts="$OUT/artifacts/$t"
  mkdir -p "$corpus" "$artifacts"
  # The environment the tests give this target (the loader's own cache, for one).
  mapfile -t target_env < "$NATIVE/fuzz/fuzz_$t.env"
  echo "== fuzz_$t for ${per_target}s, $WORKERS worker(s), corpus $corpus"
  # Inputs are at most 64 KiB and the decoder never plans a block larger than
  # twice its input, so the memory limits only catch a broken bound.
  args=(-dict="$ROOT/fuzz/morvellane.dict" -max_total_time="$per_target" -max_len=65536
        -rss_limit_mb=2048 -malloc_limit_mb=512 -timeout=10 -print_final_stats=1
        -artifact_prefix="$artifacts/")
  if [ "$WORKERS" -gt 1 ]; then args+=(-fork="$WORKERS" -ignore_crashes=0); fi
  env "${target_env[@]}" "$NATIVE/fuzz/fuzz_$t" "${args[@]}" "$corpus" "$SEEDS" || status=1
  echo "== fuzz_$t corpus: $(find "$corpus" -type f -printf '%s\n' | awk '{s += $1} END {print NR " files, " s + 0 " bytes"}')"
  # The corpus once more through the plain sanitizer build, as the tests replay inputs.
  env "${target_env[@]}" "$NATIVE/fuzz/replay_$t" "$corpus" | tail -1 || status=1
done
exit $status
