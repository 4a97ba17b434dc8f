#!/usr/bin/env bash
# Archive conversion, a benchmark and not a test: an archive of photographs
# of 1024 x 768 (default 200) and the 4K benchmark picture, all Morvellane
# bitmaps, converted to PNG by
#   - mrvconvert at its defaults (one worker per processor, level 5),
#   - mrvconvert -j 1, -j 2, ... up to one more than the processors,
#   - ImageMagick's mogrify -format png on copies of the same files,
# with files per second and total output size; then every zlib level of
# mrvconvert on the photographs and on the bundled samples (one worker), which
# is how the default level was chosen; and how many pixels of ImageMagick's
# PNGs differ from mrvconvert's.
# The photographs: the colour photographs that Debian's python3-skimage ships
# (astronaut, chelsea, coffee, two motorcycles, rocket, the Hubble deep
# field; the package is downloaded and unpacked here, not installed) and
# ImageMagick's rose:, each resized to 1024 x 768 and shifted (-roll) into
# distinct pictures, then reduced to 5-6-5 by ppm_to_morvellane.
# Usage: bash bench/mrvconvert/run.sh [PICTURES] [RUNS]   (defaults 200 and 3)
# Figures are the best of RUNS; `uptime` load is printed with them.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
MRVLN_SYSTEM_PACKAGES="imagemagick"
run_as_invoking_user "$ROOT/bench/mrvconvert/run.sh" "$@"
PICTURES="${1:-200}"
RUNS="${2:-3}"
# shellcheck disable=SC2086 # a list of names
prepare_system $MRVLN_SYSTEM_PACKAGES

BENCH="$ROOT/build/bench"
cmake -S "$ROOT" -B "$BENCH" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=gcc \
  -DCMAKE_CXX_COMPILER=g++ -DMRVLN_BENCH=ON -DBUILD_TESTING=OFF > /dev/null
cmake --build "$BENCH" --target mrvconvert ppm_to_morvellane write_bench_picture make_samples > /dev/null
MRVCONVERT="$BENCH/tools/mrvconvert/mrvconvert"
WORK="$BENCH/mrvconvert-archive"
mkdir -p "$WORK"
cd "$WORK"

# ---- the archive (kept between runs) ----
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
if [ "$(find archive -name '*.bmp' 2> /dev/null | wc -l)" -ne "$((PICTURES + 1))" ]; then
  say "making the archive: $PICTURES photographs of 1024 x 768 and the 4K picture"
  rm -rf archive photos
  mkdir -p archive photos
  for ((i = 0; i < PICTURES; i++)); do
    src=${sources[$((i % ${#sources[@]}))]}
    shift_by=$((i / ${#sources[@]} * 41))
    name=$(printf 'photo_%04d' "$i")
    convert -quiet "$src" -resize '1024x768!' -roll "+${shift_by}+$((shift_by / 2))" -depth 8 "ppm:$name.ppm"
    "$BENCH/bench/mrvconvert/ppm_to_morvellane" "$name.ppm" "archive/$name.bmp"
    # The first of each photograph also goes to the level table.
    [ "$i" -lt "${#sources[@]}" ] && cp "archive/$name.bmp" photos/
    rm "$name.ppm"
  done
  "$BENCH/bench/write_bench_picture" 3840 2160 archive/bench_4k_3840x2160.bmp
fi
rm -rf samples && mkdir samples && "$BENCH/tools/make_samples/make_samples" samples
rm -f samples/not_morvellane_24bit.bmp samples/truncated_64x64.bmp

files=$(find archive -name '*.bmp' | wc -l)
input_mb=$(du -sm archive | cut -f1)
cpus=$(nproc)
echo "== machine: $(lscpu | sed -n 's/^Model name: *//p'), $cpus CPUs; $(uptime | sed 's/.*load/load/')"
echo "== archive: $files files ($PICTURES photographs of 1024 x 768, one 3840 x 2160), $input_mb MB;" \
  "best of $RUNS runs"

# best_time COMMAND...: the best wall time of RUNS runs, in seconds.
best_time() {
  local best="" t0 t1 t
  for ((r = 0; r < RUNS; r++)); do
    t0=$(date +%s.%N)
    "$@"
    t1=$(date +%s.%N)
    t=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" -eq 1 ]; then best=$t; fi
  done
  echo "$best"
}
kib() { du -sk --apparent-size "$1" | cut -f1; }
row() { # NAME SECONDS KIB
  printf '  %-34s %8.2f s %8.1f files/s %10d KiB\n' "$1" "$2" "$(echo "$files / $2" | bc -l)" "$3"
}

mrv_run() { rm -rf out && "$MRVCONVERT" -q "$@" archive out; }
magick_run() {
  rm -rf magick && cp -r archive magick && (cd magick && mogrify -format png ./*.bmp) &&
    rm magick/*.bmp
}

echo
echo "== converting the archive to PNG"
t_default=$(best_time mrv_run)
kib_default=$(kib out)
row "mrvconvert (defaults: -j $cpus, -c 5)" "$t_default" "$kib_default"
declare -A t_jobs
for ((j = 1; j <= cpus + 1; j++)); do
  t_jobs[$j]=$(best_time mrv_run -j "$j")
  row "mrvconvert -j $j" "${t_jobs[$j]}" "$(kib out)"
done
t_magick=$(best_time magick_run)
kib_magick=$(kib magick)
row "ImageMagick mogrify -format png" "$t_magick" "$kib_magick"
echo "  (ImageMagick's time includes copying the archive, $(best_time cp -r archive copy-timing) s of it;" \
  "$(convert -version | sed -n 's/^Version: \(ImageMagick [^ ]*\).*/\1/p'))"
rm -rf copy-timing

echo
echo "== ratios"
printf '  -j 2 / -j 1 throughput:        %5.2f x  (target at least 1.8)\n' \
  "$(echo "${t_jobs[1]} / ${t_jobs[2]:-${t_jobs[1]}}" | bc -l)"
printf '  default / ImageMagick:          %5.2f x  (target at least 4)\n' \
  "$(echo "$t_magick / $t_default" | bc -l)"
printf '  output size, default / ImageMagick: %5.3f  (target at most 1.15)\n' \
  "$(echo "$kib_default / $kib_magick" | bc -l)"
printf '  -j %d / -j %d (one worker more than processors): %5.2f x\n' "$((cpus + 1))" "$cpus" \
  "$(echo "${t_jobs[$cpus]} / ${t_jobs[$((cpus + 1))]}" | bc -l)"

echo
echo "== pictures: ImageMagick's PNGs against mrvconvert's (which tests/mrvconvert checks exact)"
rm -rf out && "$MRVCONVERT" -q archive out

for png in out/photo_000[0-7].png; do
  ae=$(compare -metric AE "$png" "magick/$(basename "$png")" null: 2>&1 || true)

  echo "  $(basename "$png"): $ae pixels differ"
done

echo
echo "== zlib levels, mrvconvert -j 1 (the default is the fastest level within 15 % of level 6's size)"
printf '  %-6s %16s %12s %16s %12s\n' level "photos ms/file" "photos size" "samples ms/file" \
  "samples size"
declare -A size_photos size_samples
for level in 0 1 2 3 4 5 6 7 8 9; do
  level_run() { rm -rf lv && "$MRVCONVERT" -q -j 1 -c "$level" "$1" lv; }
  tp=$(best_time level_run photos)
  size_photos[$level]=$(kib lv)
  ts=$(best_time level_run samples)
  size_samples[$level]=$(du -sb --apparent-size lv | cut -f1)
  printf '  %-6s %16.1f %12s %16.2f %12s\n' "$level" \
    "$(echo "$tp * 1000 / $(find photos -name '*.bmp' | wc -l)" | bc -l)" "${size_photos[$level]} KiB" \
    "$(echo "$ts * 1000 / $(find samples -name '*.bmp' | wc -l)" | bc -l)" "${size_samples[$level]} B"
done
echo "  sizes against level 6 (photos, samples):"
for level in 0 1 2 3 4 5 6 7 8 9; do
  printf '    %s: %5.3f %5.3f\n' "$level" "$(echo "${size_photos[$level]} / ${size_photos[6]}" | bc -l)" \
    "$(echo "${size_samples[$level]} / ${size_samples[6]}" | bc -l)"
done
echo "== load after: $(uptime | sed 's/.*load/load/')"
