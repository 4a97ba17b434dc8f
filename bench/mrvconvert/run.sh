#!/usr/bin/env bash
# PNG writing, a benchmark and not a test: mrvconvert beside its baseline
# and ImageMagick, on two sets of pictures:
#   photographs  PICTURES photographs of 1024 x 768 (default 24): the colour
#                photographs that Debian's python3-skimage ships (astronaut,
#                chelsea, coffee, two motorcycles, rocket, the Hubble deep
#                field; the package is downloaded and unpacked here, not
#                installed) and ImageMagick's rose:, resized, shifted (-roll)
#                into distinct pictures and reduced to 5-6-5 by
#                ppm_to_morvellane;
#   samples      the bundled samples (make_samples), the broken ones left out.
# The sides, each converting a whole set in a process of its own as a user
# runs it, at -j 1 and at the default -j:
#   baseline     mrvconvert built from the commit BASELINE (default 1d1e78a,
#                libpng and zlib level 5 with Paeth rows: the writer before
#                libdeflate), from `git archive` into TREE-baseline, never
#                installed;
#   mrvconvert   this tree's;
#   ImageMagick  mogrify -format png on the same pictures as 24-bit BMPs
#                (morvellane_to_bmp24), one thread (MAGICK_THREAD_LIMIT=1)
#                beside -j 1 and its default beside the default -j.
# RUNS runs a side, the sides taken in turns; printed are the medians of the
# seconds, files per second and minor page faults a file, and the outputs'
# size; then a first load (one photograph converted by a new process, FIRST
# of them, median), and how the filter and default level were chosen:
# png_filters' table on the first photograph of each source and every -c
# level on those and on the samples, against the baseline's default.
# Usage:
#   bash bench/mrvconvert/run.sh --prepare    builds both sides, makes the pictures
#   flock /tmp/mrvln-bench.lock bash bench/mrvconvert/run.sh [PICTURES] [RUNS] [FIRST]
#                                             (defaults 24, 5 and 7)
# MRVLN_BENCH_TREE names the optimised tree (default build/bench),
# MRVLN_BASELINE the baseline's commit.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
MRVLN_SYSTEM_PACKAGES="imagemagick libdeflate-dev"
run_as_invoking_user "$ROOT/bench/mrvconvert/run.sh" "$@"
PREPARE=false
if [ "${1:-}" = --prepare ]; then
  PREPARE=true
  shift
fi
PICTURES="${1:-24}"
RUNS="${2:-5}"
FIRST="${3:-7}"
BASELINE="${MRVLN_BASELINE:-1d1e78a}"
# shellcheck disable=SC2086 # a list of names
prepare_system $MRVLN_SYSTEM_PACKAGES

BENCH="${MRVLN_BENCH_TREE:-$ROOT/build/bench}"
BASE_TREE="$BENCH-baseline"
cmake -S "$ROOT" -B "$BENCH" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=gcc \
  -DCMAKE_CXX_COMPILER=g++ -DMRVLN_BENCH=ON -DBUILD_TESTING=OFF > /dev/null
cmake --build "$BENCH" --target mrvconvert ppm_to_morvellane morvellane_to_bmp24 png_filters \
  make_samples > /dev/null
if [ "$(cat "$BASE_TREE/commit" 2> /dev/null)" != "$BASELINE" ]; then
  say "building the baseline, mrvconvert of $BASELINE, in $BASE_TREE"
  rm -rf "$BASE_TREE" && mkdir -p "$BASE_TREE/src"
  git -C "$ROOT" archive "$BASELINE" | tar -x -C "$BASE_TREE/src"
  cmake -S "$BASE_TREE/src" -B "$BASE_TREE/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DMRVLN_BENCH=ON -DBUILD_TESTING=OFF > /dev/null
  cmake --build "$BASE_TREE/build" --target mrvconvert > /dev/null
  echo "$BASELINE" > "$BASE_TREE/commit"
fi
NEW="$BENCH/tools/mrvconvert/mrvconvert"
OLD="$BASE_TREE/build/tools/mrvconvert/mrvconvert"
WORK="$BENCH/mrvconvert-archive"
mkdir -p "$WORK"
cd "$WORK"

# ---- the pictures (kept between runs) ----
if [ ! -d skimage ]; then
  say "fetching the photographs of Debian's python3-skimage (unpacked here, not installed)"
  rm -f python3-skimage_*.deb
  apt-get download python3-skimage > /dev/null
  dpkg-deb -x python3-skimage_*.deb unpacked
  mkdir skimage
  for f in astronaut.png chelsea.png coffee.png motorcycle_left.png motorcycle_right.png \
    rocket.jpg hubble_deep_field.jpg; do
    cp unpacked/usr/lib/python3/dist-packages/skimage/data/$f skimage/
  done
  rm -rf unpacked python3-skimage_*.deb
fi
sources=(skimage/* rose:)
if [ "$(find photos -name '*.bmp' 2> /dev/null | wc -l)" -ne "$PICTURES" ]; then
  say "making $PICTURES photographs of 1024 x 768"
  rm -rf photos photos24 levels
  mkdir -p photos photos24 levels
  for ((i = 0; i < PICTURES; i++)); do
    src=${sources[$((i % ${#sources[@]}))]}
    shift_by=$((i / ${#sources[@]} * 41))
    name=$(printf 'photo_%04d' "$i")
    convert -quiet "$src" -resize '1024x768!' -roll "+${shift_by}+$((shift_by / 2))" -depth 8 "ppm:$name.ppm"
    "$BENCH/bench/mrvconvert/ppm_to_morvellane" "$name.ppm" "photos/$name.bmp"
    "$BENCH/bench/mrvconvert/morvellane_to_bmp24" "photos/$name.bmp" "photos24/$name.bmp"
    # The first of each photograph also goes to the level table.
    [ "$i" -lt "${#sources[@]}" ] && cp "photos/$name.bmp" levels/
    rm "$name.ppm"
  done
fi
rm -rf samples samples24 && mkdir samples samples24
"$BENCH/tools/make_samples/make_samples" samples > /dev/null
rm -f samples/not_morvellane_24bit.bmp samples/truncated_64x64.bmp
for f in samples/*.bmp; do "$BENCH/bench/mrvconvert/morvellane_to_bmp24" "$f" "samples24/${f#samples/}"; done
$PREPARE && exit 0

cpus=$(nproc)
load() { uptime | sed 's/.*load/load/'; }
echo "== machine: $(lscpu | sed -n 's/^Model name: *//p'), $cpus CPUs; $(load)"
echo "== $(find photos -name '*.bmp' | wc -l) photographs of 1024 x 768 ($(du -sm photos | cut -f1) MB)" \
  "and $(find samples -name '*.bmp' | wc -l) samples; medians of $RUNS runs a side, in turns"
echo "== baseline: mrvconvert of $BASELINE ($("$OLD" --version | tail -1));" \
  "mrvconvert: this tree ($("$NEW" --version | tail -1));" \
  "$(convert -version | sed -n 's/^Version: \(ImageMagick [^ ]*\).*/\1/p')"

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# timed FILE COMMAND...: runs it, its output thrown away, and appends
# "seconds minor-faults" to FILE.
timed() {
  local file=$1 t0 t1
  shift
  t0=$(date +%s%N)
  /usr/bin/time -f '%R' -o "$WORK/faults" "$@" > /dev/null 2>&1
  t1=$(date +%s%N)
  echo "$(echo "($t1 - $t0) / 1000000000" | bc -l) $(cat "$WORK/faults")" >> "$file"
}
bytes() { find "$1" -type f -printf '%s\n' | awk '{ n += $1 } END { print n }'; }

# side SIDE SET JOBS: one run of a side over a set into out/, timed.
side() {
  local name=$1 set=$2 jobs=$3 log="$WORK/times/$1-$2-$3"
  rm -rf out && mkdir out
  case $name in
    baseline | mrvconvert)
      local exe=$NEW
      [ "$name" = baseline ] && exe=$OLD
      if [ "$jobs" = default ]; then timed "$log" "$exe" -q "$set" out; else timed "$log" "$exe" -q -j "$jobs" "$set" out; fi
      ;;
    ImageMagick)
      if [ "$jobs" = default ]; then
        timed "$log" mogrify -path out -format png "${set}24"/*.bmp
      else
        timed "$log" env MAGICK_THREAD_LIMIT=1 mogrify -path out -format png "${set}24"/*.bmp
      fi
      ;;
  esac
  bytes out > "$log.size"
}

rm -rf times && mkdir times
sides=(baseline mrvconvert ImageMagick)
for set in photos samples; do
  for jobs in 1 default; do
    for ((r = 0; r < RUNS; r++)); do
      for s in "${sides[@]}"; do side "$s" "$set" "$jobs"; done
    done
  done
done

declare -A secs size
echo
printf '  %-10s %-13s %-10s %10s %10s %14s %12s\n' set side "-j" seconds files/s "faults/file" bytes
for set in photos samples; do
  files=$(find "$set" -name '*.bmp' | wc -l)
  for jobs in 1 default; do
    for s in "${sides[@]}"; do
      log="times/$s-$set-$jobs"
      secs[$s-$set-$jobs]=$(cut -d' ' -f1 "$log" | median)
      size[$s-$set-$jobs]=$(cat "$log.size")
      faults=$(cut -d' ' -f2 "$log" | median)
      case $s-$jobs in
        ImageMagick-1) shown="1 thread" ;;
        *-default) shown="default ($cpus)" ;;
        *) shown=$jobs ;;
      esac
      printf '  %-10s %-13s %-10s %10.3f %10.1f %14.0f %12d\n' "$set" "$s" "$shown" "${secs[$s-$set-$jobs]}" \
        "$(echo "$files / ${secs[$s-$set-$jobs]}" | bc -l)" "$(echo "$faults / $files" | bc -l)" \
        "${size[$s-$set-$jobs]}"
    done
  done
done

echo
echo "== ratios (target: mrvconvert at least 2 x the baseline's throughput at no more than its size)"
for set in photos samples; do
  for jobs in 1 default; do
    printf '  %-8s -j %-8s throughput mrvconvert / baseline %5.2f x, / ImageMagick %5.2f x;' "$set" "$jobs" \
      "$(echo "${secs[baseline-$set-$jobs]} / ${secs[mrvconvert-$set-$jobs]}" | bc -l)" \
      "$(echo "${secs[ImageMagick-$set-$jobs]} / ${secs[mrvconvert-$set-$jobs]}" | bc -l)"
    printf ' size / baseline %5.3f, / ImageMagick %5.3f\n' \
      "$(echo "${size[mrvconvert-$set-$jobs]} / ${size[baseline-$set-$jobs]}" | bc -l)" \
      "$(echo "${size[mrvconvert-$set-$jobs]} / ${size[ImageMagick-$set-$jobs]}" | bc -l)"
  done
done

echo
echo "== first load: one photograph, a new process each time, $FIRST a side in turns (median)"
rm -rf times/first-* && for ((r = 0; r < FIRST; r++)); do
  rm -f one.png && timed times/first-baseline "$OLD" -q photos/photo_0000.bmp one.png
  rm -f one.png && timed times/first-mrvconvert "$NEW" -q photos/photo_0000.bmp one.png
  rm -f one.png && timed times/first-ImageMagick convert photos24/photo_0000.bmp one.png
done
for s in "${sides[@]}"; do
  printf '  %-12s %8.1f ms %8.0f minor faults\n' "$s" \
    "$(cut -d' ' -f1 "times/first-$s" | median | awk '{ print $1 * 1000 }')" \
    "$(cut -d' ' -f2 "times/first-$s" | median)"
done

echo
echo "== the pictures: ImageMagick's PNGs against mrvconvert's (which tests/mrvconvert checks exact)"
rm -rf out magick && "$NEW" -q photos out && mkdir magick && mogrify -path magick -format png photos24/*.bmp
for png in out/photo_000[0-3].png; do
  echo "  $(basename "$png"): $(compare -metric AE "$png" "magick/$(basename "$png")" null: 2>&1 || true) pixels differ"
done

echo
echo "== the filter: png_filters on the first photograph of each source (ms a picture, bytes)"
"$BENCH/bench/mrvconvert/png_filters" 3 1,2,3,4,5,6 levels/*.bmp | sed 's/^/  /'

echo
echo "== the levels, -j 1, medians of $RUNS runs, beside the baseline's default (-c 5)"
rm -f times/level-*
for ((r = 0; r < RUNS; r++)); do
  for set in levels samples; do
    rm -rf lv && timed "times/level-base-$set" "$OLD" -q -j 1 "$set" lv
    bytes lv > "times/level-base-$set.size"
    for level in 0 1 2 3 4 5 6 7 8 9; do
      rm -rf lv && timed "times/level-$level-$set" "$NEW" -q -j 1 -c "$level" "$set" lv
      bytes lv > "times/level-$level-$set.size"
    done
  done
done
printf '  %-16s %14s %12s %9s %14s %10s %9s\n' level "photos ms/file" bytes "/ base" "samples ms/file" \
  bytes "/ base"
chosen="" chosen_ms="" within="" within_ms=""
for level in base 0 1 2 3 4 5 6 7 8 9; do
  row=()
  for set in levels samples; do
    files=$(find "$set" -name '*.bmp' | wc -l)
    ms=$(cut -d' ' -f1 "times/level-$level-$set" | median | awk -v n="$files" '{ print $1 * 1000 / n }')
    b=$(cat "times/level-$level-$set.size")
    row+=("$ms" "$b" "$(echo "$b / $(cat "times/level-base-$set.size")" | bc -l)")
  done
  name=$level
  [ "$level" = base ] && name="baseline -c 5"
  printf '  %-16s %14.1f %12d %9.3f %14.2f %10d %9.3f\n' "$name" "${row[@]}"
  if [ "$level" != base ] && [ "$(echo "${row[2]} <= 1" | bc -l)" -eq 1 ] &&
    { [ -z "$chosen" ] || [ "$(echo "${row[0]} < $chosen_ms" | bc -l)" -eq 1 ]; }; then
    chosen=$level chosen_ms=${row[0]}
  fi
  if [ "$level" != base ] && [ "$(echo "${row[2]} <= 1.02" | bc -l)" -eq 1 ] &&
    { [ -z "$within" ] || [ "$(echo "${row[0]} < $within_ms" | bc -l)" -eq 1 ]; }; then
    within=$level within_ms=${row[0]}
  fi
done
echo "  on the photographs, the fastest level within 2 % of the baseline's size: ${within:-none};" \
  "the fastest no larger: ${chosen:-none}"
echo "== load after: $(load)"
