#!/usr/bin/env bash
# Fuzzes the pure core for a given time:
#   scripts/fuzz.sh SECONDS [TARGET...]     TARGET: accept, info, decode (default: all three)
# The time is shared equally among the targets. Each target keeps its corpus
# in build/fuzz/corpus/TARGET (seeded by the fixture builder) so runs build on
# one another; a crash is written to build/fuzz/artifacts/TARGET/ and fails
# the run: keep it under fuzz/regressions/TARGET/, named for what it hits.
# FUZZ_WORKERS=N runs N fuzzing processes per target (default 1).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SECONDS_TOTAL="${1:?usage: fuzz.sh SECONDS [accept|info|decode]...}"
shift
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=(accept info decode)
WORKERS="${FUZZ_WORKERS:-1}"
NATIVE="$ROOT/build/native"
OUT="${FUZZ_OUT:-$ROOT/build/fuzz}"

cmake --build "$NATIVE" --target make_fuzz_seeds "${TARGETS[@]/#/fuzz_}" > /dev/null
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
  echo "== fuzz_$t for ${per_target}s, $WORKERS worker(s), corpus $corpus"
  # Inputs are at most 64 KiB and the decoder never plans a block larger than
  # twice its input, so the memory limits only catch a broken bound.
  args=(-dict="$ROOT/fuzz/morvellane.dict" -max_total_time="$per_target" -max_len=65536
        -rss_limit_mb=2048 -malloc_limit_mb=512 -timeout=10 -print_final_stats=1
        -artifact_prefix="$artifacts/")
  if [ "$WORKERS" -gt 1 ]; then args+=(-fork="$WORKERS" -ignore_crashes=0); fi
  "$NATIVE/fuzz/fuzz_$t" "${args[@]}" "$corpus" "$SEEDS" || status=1
  echo "== fuzz_$t corpus: $(find "$corpus" -type f -printf '%s\n' | awk '{s += $1} END {print NR " files, " s + 0 " bytes"}')"
  # The corpus once more through the plain sanitizer build, as the tests replay it.
  cmake --build "$NATIVE" --target "replay_$t" > /dev/null
  "$NATIVE/fuzz/replay_$t" "$corpus" | tail -1 || status=1
done
exit $status
