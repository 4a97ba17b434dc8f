#!/usr/bin/env bash
# Plants faults in the product code (codec/, plugin/) one at a time in a
# scratch copy of this tree, builds both trees, runs their tests and prints
# which tests caught each fault. Slow (minutes per fault), so not part of the
# test run. Needs the packages and Wine prefix of scripts/setup.sh.
#   bash scripts/plant_faults.sh [FAULT...]     (default: every fault)
# Each fault is one exact text replacement; a fault whose text is no longer
# in the tree is reported as STALE, so it can be refreshed after a refactor.
# A fault is caught by the programs named in the table (TREE/PROGRAM, with
# how many of its cases failed). Left out of the runs: the fuzzing passes
# fuzz_short_* (half a minute per fault; their replays stay in) and
# reproducible_build (second clean builds of the DLL and the tool).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WORK="${MRVLN_PLANT_DIR:-/tmp/mrvln-plant-$(id -u)}"
SRC="$WORK/src"
. "$ROOT/scripts/env.sh"

names=() files=() olds=() news=() whats=()
fault() {  # NAME FILE OLD NEW WHAT
  names+=("$1") files+=("$2") olds+=("$3") news+=("$4") whats+=("$5")
}

fault reader_bound codec/byte_reader.h \
  'length <= view.size - offset;' 'length <= view.size - offset + 1;' \
  'byte reader lets a read end one byte past the view'
fault plan_bound codec/dib.cpp \
  'static_cast<uint64_t>(plan.source_size) <= file_size;' 'static_cast<uint64_t>(plan.source_size) < file_size;' \
  'plan refuses a file whose rows end exactly at its end'
fault stride codec/dib.cpp \
  'const uint64_t stride = (row_bits >> 5) * 4;' 'const uint64_t stride = width * 3;' \
  'output rows not rounded up to 4 bytes'
fault channel_order codec/convert.cpp \
  'target[0] = blue;' 'target[0] = red;' \
  'plain conversion writes red where blue belongs'
fault green_level codec/convert_lanes.h \
  '((p >> 5) & 0x3F) * 255 / 63' '((p >> 5) & 0x3F) * 255 / 64' \
  'vector paths scale green by 64 instead of 63'
fault slot_left_set codec/codec_exports.cpp \
  $'  *info_slot = nullptr;\n  *bits_slot = nullptr;\n  if (file_image' $'  *bits_slot = nullptr;\n  if (file_image' \
  'a failed GetPicture leaves the freed header handle in its slot'
fault block_leaked codec/codec_exports.cpp \
  'if (*bits_slot != nullptr) LocalFree(*bits_slot);' '' \
  'a failed GetPicture keeps the pixel block'
fault short_read codec/file_loader.cpp \
  'if (!read_ok || got != size) {' 'if (!read_ok) {' \
  'a short read of the file is decoded'
fault handle_kept codec/file_loader.cpp \
  $'ReadFile(file, image, size, &got, nullptr);\n  CloseHandle(file);' \
  'ReadFile(file, image, size, &got, nullptr);' \
  'the picture file is not closed after reading'
fault no_sse2_path codec/convert.cpp \
  'if ((edx & bit_SSE2) == 0) return CONVERT_PLAIN;' 'if ((edx & bit_SSE2) == 0) return CONVERT_SSE2;' \
  'the sse2 path chosen on a processor without SSE2'
fault sse3_for_ssse3 codec/convert.cpp \
  'if ((ecx & bit_SSSE3) == 0)' 'if ((ecx & bit_SSE3) == 0)' \
  'the ssse3 path chosen on a processor with SSE3 but without SSSE3'
fault fill_missed codec/dib.cpp \
  'memset(pixels, 0xFF, pixels_size);' '' \
  'row fill bytes left as allocated (0) instead of 0xFF'
fault width_sign codec/dib.cpp \
  'if (h.width < 0 || h.height == INT32_MIN)' 'if (h.height == INT32_MIN)' \
  'negative width not refused as broken data'
fault block_overflow codec/dib.cpp \
  'if (block > UINT32_MAX) return RESULT_OUT_OF_MEMORY;' '' \
  'pixel block size not checked against 32 bits'
fault height_sign codec/dib.cpp \
  'static_cast<uint32_t>(plan.height));' 'plan.rows);' \
  'output header loses the top-down sign of the height'
fault info_overrun plugin/plugin_entry.cpp \
  'PluginInfoTable[info_index], buffer_length);' 'PluginInfoTable[info_index], buffer_length + 1);' \
  'GetPluginInfo writes one byte past the buffer'
fault planes_dropped codec/morvellane.cpp \
  'planes == 1 && ' '' \
  'IsSupported no longer checks the plane count'
fault ssse3_tail codec/convert_ssse3.cpp \
  'for (; count - done >= 16; done += 16) {' 'for (; count - done >= 15; done += 16) {' \
  'ssse3 path converts a 15-pixel tail as a chunk of 16'
fault sse2_tail codec/convert_sse2.cpp \
  'for (; count - done >= 16; done += 16) {' 'for (; count - done >= 15; done += 16) {' \
  'sse2 path converts a 15-pixel tail as a chunk of 16'
fault negative_length codec/codec_exports.cpp \
  'data_length < 0 ? 0u : static_cast<uint32_t>(data_length)' 'static_cast<uint32_t>(data_length)' \
  'a negative memory length read as a huge one'
fault header_unlocked codec/codec_exports.cpp \
  $'write_output_header(plan, header);\n  LocalUnlock(*info_slot);' 'write_output_header(plan, header);' \
  'the header block handed over still locked'
fault rows_upside_down codec/reader.cpp \
  'ROWS_TOP_FIRST && size.height > 0;' 'ROWS_TOP_FIRST && size.height < 0;' \
  'top row first turns the wrong pictures over'
fault rows_bound codec/reader.cpp \
  'size < reader->output_size) return false;' 'size + 1 < reader->output_size) return false;' \
  'the reader takes an output block one byte short'
fault viewer_limit codec/reader.cpp \
  'if (output_size > layout.limit)' 'if (output_size / 2 > layout.limit)' \
  'the front ends get twice their output limit'
fault half_pixel_swapped codec/reader.cpp \
  '{r.half_pixel, from[0]};' '{from[0], r.half_pixel};' \
  'a pixel split between two chunks has its bytes swapped'
fault half_pixel_lost codec/reader.cpp \
  'r.has_half_pixel = true;' 'r.has_half_pixel = false;' \
  'the first byte of a pixel split between two chunks is dropped'
fault row_overrun codec/reader.cpp \
  'left / 2 < due ? left / 2 : due;' 'left / 2 < due + 1 ? left / 2 : due + 1;' \
  'a chunk longer than the rest of its row runs a pixel past the row'
fault rows_past_end codec/reader.cpp \
  'while (left > 0 && r.rows_done < r.rows_end) {' 'while (left > 0 && r.rows_done <= r.rows_end) {' \
  'bytes past the last row are converted'
fault last_row_missing codec/reader.cpp \
  'reader.rows_done == reader.height) return ACCEPTED;' 'reader.rows_done + 1 >= reader.height) return ACCEPTED;' \
  'a file that ends before its last row is accepted'
fault known_size codec/reader.cpp \
  'if (file_size >= reader.file_size) return ACCEPTED;' 'if (file_size + 2 >= reader.file_size) return ACCEPTED;' \
  'a file two bytes short passes the size check'
fault header_short codec/reader.cpp \
  'if (header.size < PIXEL_DATA_OFFSET)' 'if (header.size < ACCEPTANCE_FIELDS_END)' \
  'a header cut short is read as a picture'
fault received_count codec/reader.cpp \
  'r.received += taken;' 'r.received += 0;' \
  'the reader loses count of the bytes it took'
fault file_past_4gib codec/reader.cpp \
  'if (file_size > UINT32_MAX)' 'if (file_size > 2ull * UINT32_MAX)' \
  'rows past 4 GiB are planned'
fault chunk_tail codec/convert_lanes.h \
  'target + size * done, count - done);' 'target + size * done, 0);' \
  'vector paths leave the pixels after the last chunk unconverted'
fault chunk_order codec/convert_lanes.h \
  'done = kRedFirst(source, target, count);' 'done = kBlueFirst(source, target, count);' \
  'vector paths write blue first where red first is asked for'

say() { printf '[plant] %s\n' "$*" >&2; }

# Copies the tree into $SRC, touching only files whose bytes differ, so the
# scratch builds stay incremental between runs.
sync_tree() {
  mkdir -p "$SRC"
  (cd "$ROOT" && git ls-files -co --exclude-standard) | while IFS= read -r f; do
    [ -f "$ROOT/$f" ] || continue
    if ! cmp -s "$ROOT/$f" "$SRC/$f"; then
      mkdir -p "$(dirname "$SRC/$f")"
      cp "$ROOT/$f" "$SRC/$f"
    fi
  done
}

# Replaces the one occurrence of OLD by NEW in FILE; fails when OLD occurs
# other than exactly once.
replace_once() {
  OLD="$2" NEW="$3" perl -e '
    local $/; open my $in, "<", $ARGV[0] or die "$ARGV[0]: $!\n"; my $t = <$in>; close $in;
    my $n = () = $t =~ /\Q$ENV{OLD}\E/g;
    exit 3 if $n != 1;
    $t =~ s/\Q$ENV{OLD}\E/$ENV{NEW}/;
    open my $out, ">", $ARGV[0] or die; print $out $t; close $out;' "$SRC/$1"
}

configure() {
  [ -f "$WORK/build/win32/build.ninja" ] ||
    cmake -S "$SRC" -B "$WORK/build/win32" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/toolchain-i686-mingw.cmake" > /dev/null
  [ -f "$WORK/build/native/build.ninja" ] ||
    cmake -S "$SRC" -B "$WORK/build/native" -G Ninja -DCMAKE_C_COMPILER=clang \
      -DCMAKE_CXX_COMPILER=clang++ -DMRVLN_SANITIZE=ON > /dev/null
}

build() {
  cmake --build "$WORK/build/win32" > "$WORK/build.log" 2>&1 &&
    cmake --build "$WORK/build/native" >> "$WORK/build.log" 2>&1
}

# Runs both test trees; prints the programs whose tests failed as
# TREE/PROGRAM×CASES, one a line (a test that is no GoogleTest case counts
# as a program of one case).
failed_tests() {
  local tree
  bash "$SRC/scripts/wine_session.sh"
  for tree in native win32; do
    ctest --test-dir "$WORK/build/$tree" -j2 --timeout 300 -E '^(fuzz_short_|reproducible_build)' \
      > "$WORK/ctest-$tree.log" 2>&1 || true
    sed -n '/The following tests FAILED/,$p' "$WORK/ctest-$tree.log" |
      sed -n 's/^[[:space:]]*[0-9]* - \([^ .]*\)[. ].*/\1/p' | sort | uniq -c |
      awk -v tree="$tree" '{print tree "/" $2 "×" $1}'
  done
}

selected=("$@")
wanted() {
  [ ${#selected[@]} -eq 0 ] && return 0
  local s
  for s in "${selected[@]}"; do [ "$s" = "$1" ] && return 0; done
  return 1
}

say "copying the tree to $SRC"
sync_tree
configure
say "building and testing the tree as it is"
build || { say "the unchanged tree does not build: see $WORK/build.log"; exit 1; }
baseline=$(failed_tests | tr '\n' ' ')
[ -z "$baseline" ] || { say "tests fail without any fault: $baseline"; exit 1; }

results=()
uncaught=0
for i in "${!names[@]}"; do
  name=${names[$i]} file=${files[$i]}
  wanted "$name" || continue
  say "$name: ${whats[$i]}"
  status=0
  replace_once "$file" "${olds[$i]}" "${news[$i]}" || status=$?
  if [ "$status" -ne 0 ]; then
    results+=("$(printf '%-16s %-58s %s' "$name" "${whats[$i]}" "STALE: text not found once in $file")")
    uncaught=$((uncaught + 1))
    continue
  fi
  if ! build; then
    caught="BUILD FAILED (see a copy in $WORK/build-$name.log)"
    cp "$WORK/build.log" "$WORK/build-$name.log"
    uncaught=$((uncaught + 1))
  else
    caught=$(failed_tests | tr '\n' ' ')
    if [ -z "$caught" ]; then
      caught="NOT CAUGHT"
      uncaught=$((uncaught + 1))
    fi
  fi
  results+=("$(printf '%-16s %-58s %s' "$name" "${whats[$i]}" "$caught")")
  cp "$ROOT/$file" "$SRC/$file"  # a fresh time stamp, so the next build recompiles it
done
build || say "the restored tree does not build: see $WORK/build.log"

printf '%-16s %-58s %s\n' fault 'what it breaks' 'caught by'
printf '%s\n' "${results[@]}"
echo "$((${#results[@]} - uncaught)) of ${#results[@]} faults caught"
[ "$uncaught" -eq 0 ]
