// Writes the files the Python tests (and tests/reasons/same_reasons.py) read,
// made by the fixture builder, with the pixels each must decode to, from the
// hand-written channel tables: NAME.bmp and NAME.rgb (RGB rows, top row
// first), listed in manifest.tsv as "KIND<TAB>NAME<TAB>WIDTH<TAB>ROWS" (a
// header alone: its fields); levels.bin, the 5-bit and then the 6-bit table,
// for the fuzz pass.
// Kinds: picture (exact), short (rows missing; NAME.rgb has the whole pixels
// the file holds and black for the rest), broken (a Morvellane header that
// cannot be read: impossible sizes, or cut short), large (a header alone, too
// large to decode), other (not a Morvellane bitmap; no NAME.rgb).
// chart_173x97 and chart_320x240 are the bundled samples of those sizes.
// Usage: write_fixtures DIR
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "tests/fixtures/files.h"
#include "tests/fixtures/morvellane_builder.h"

namespace {

using fixtures::Defect;
using fixtures::mixed_picture;
using fixtures::MorvellaneBuilder;

struct Writer {
  std::string dir;
  std::string manifest;
  bool ok = true;

  void put(const char* kind, const std::string& name, const std::vector<uint8_t>& file,
           int64_t width, int64_t rows, const std::vector<uint8_t>* rgb) {
    ok = fixtures::write_file(dir + "/" + name + ".bmp", file) && ok;
    if (rgb != nullptr) ok = fixtures::write_file(dir + "/" + name + ".rgb", *rgb) && ok;
    manifest += std::string(kind) + "\t" + name + "\t" + std::to_string(width) + "\t" +
                std::to_string(rows) + "\n";
  }
  void picture(const std::string& name, const MorvellaneBuilder& b, size_t extra = 0) {
    std::vector<uint8_t> file = b.build();
    file.resize(file.size() + extra, 0xA5);  // bytes after the rows are not the picture's
    const std::vector<uint8_t> rgb = fixtures::expected_rows(b, "rgb", true);
    put("picture", name, file, b.width(), b.rows(), &rgb);
  }
  // The file cut to `size` bytes: the whole pixels it holds, the rest black.
  void cut(const std::string& name, const MorvellaneBuilder& b, size_t size) {
    std::vector<uint8_t> file = b.build();
    file.resize(size);
    const std::vector<uint8_t> rgb =
        fixtures::expected_rows(b, "rgb", true, 0, 0, size <= 66 ? 0 : (size - 66) / 2);
    put("short", name, file, b.width(), b.rows(), &rgb);
  }
  // A header alone, declaring `width` x `height`.
  void header(const char* kind, const std::string& name, int32_t width, int32_t height) {
    put(kind, name, fixtures::header_only(width, height).build(), width, height, nullptr);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: write_fixtures DIR\n");
    return 2;
  }
  Writer w;
  w.dir = argv[1];

  // Odd and even widths (every fill length a 4-byte-aligned reader would
  // wrongly skip), both row orders, one pixel, and sizes that take one read,
  // many reads that end within a row, and rows longer than a read.
  w.picture("chart_173x97", fixtures::colour_chart(173, 97));
  w.picture("chart_320x240", fixtures::colour_chart(320, 240));
  w.picture("pixel_1x1", mixed_picture(1, 1));
  w.picture("pixel_top_down_1x-1", mixed_picture(1, -1));
  w.picture("mixed_2x3", mixed_picture(2, 3));
  w.picture("mixed_3x-2", mixed_picture(3, -2));
  w.picture("mixed_5x7", mixed_picture(5, 7));
  w.picture("mixed_top_down_255x-128", mixed_picture(255, -128));
  w.picture("mixed_trailing_bytes_7x5", mixed_picture(7, 5), 100);
  w.picture("large_2049x1537", mixed_picture(2049, 1537));
  w.picture("large_top_down_1921x-1081", mixed_picture(1921, -1081));
  w.picture("wide_140001x2", mixed_picture(140001, 2));
  w.picture("tall_1x3001", mixed_picture(1, 3001));

  const MorvellaneBuilder chart = fixtures::colour_chart(64, 64);
  const size_t whole = 66 + 2 * 64 * 64;
  w.cut("short_half_64x64", chart, 66 + (whole - 66) / 2);
  w.cut("short_one_byte_64x64", chart, whole - 1);
  w.cut("short_header_only_64x64", chart, 66);
  w.cut("short_mid_row_top_down_5x-7", mixed_picture(5, -7), 66 + 2 * 5 * 3 + 4);

  w.header("broken", "broken_negative_width", -1, 1);
  w.header("broken", "broken_most_negative_height", 1, INT32_MIN);
  w.header("broken", "broken_no_width", 0, 5);
  w.header("broken", "broken_no_height", 5, 0);
  w.put("broken", "broken_header_cut_50", fixtures::first_bytes(mixed_picture(4, 4).build(), 50), 4,
        4, nullptr);
  w.header("large", "large_header_20000x20000", 20000, 20000);
  w.header("large", "large_header_40000x40000", 40000, 40000);
  w.header("large", "large_header_65536x65536", 65536, 65536);

  // Standard BMPs, among them 16-bit bit-field files with their pixels at
  // 66 whose biSizeImage is not the marker: the header bytes a reader of
  // magic sees are the same.
  const struct {
    Defect defect;
    const char* name;
  } others[] = {
      {Defect::kWrongType, "other_type_BA"},
      {Defect::kWrongPixelOffset, "other_pixels_at_70"},
      {Defect::kWrongInfoSize, "other_v4_header"},
      {Defect::kWrongPlanes, "other_two_planes"},
      {Defect::kWrongBitCount, "other_24_bits"},
      {Defect::kWrongCompression, "other_bi_rgb"},
      {Defect::kStoredSizeImage, "other_bitfields_565_stored_size"},
      {Defect::kAlignedSizeImage, "other_bitfields_565_aligned_size"},
      {Defect::kZeroSizeImage, "other_bitfields_565_zero_size"},
  };
  for (const auto& o : others) {
    MorvellaneBuilder b = mixed_picture(6, 4);
    b.defect(o.defect);
    w.put("other", o.name, b.build(), 6, 4, nullptr);
  }
  const std::vector<uint8_t> small = mixed_picture(2, 2).build();
  for (size_t cut : {size_t{0}, size_t{25}, size_t{37}})
    w.put("other", "other_cut_" + std::to_string(cut),
          std::vector<uint8_t>(small.begin(), small.begin() + cut), 0, 0, nullptr);

  std::vector<uint8_t> levels(fixtures::kLevels5, fixtures::kLevels5 + 32);
  levels.insert(levels.end(), fixtures::kLevels6, fixtures::kLevels6 + 64);
  w.ok = fixtures::write_file(w.dir + "/levels.bin", levels) && w.ok;
  w.ok = fixtures::write_file(w.dir + "/manifest.tsv",
                              std::vector<uint8_t>(w.manifest.begin(), w.manifest.end())) &&
         w.ok;
  if (!w.ok) {
    fprintf(stderr, "write_fixtures: cannot write every file into %s\n", w.dir.c_str());
    return 1;
  }
  return 0;
}
