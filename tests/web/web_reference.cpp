// Writes what the web package must answer, for its tests in Node and in the
// browser:
//   OUT/fixtures/   pictures made by the fixture builder, with the expected
//                   RGBA from the hand-written channel tables or the reason
//                   each one was built to get (manifest.json)
//   OUT/core/       the native core's answer for every other file named
//                   (the fuzz seeds, the samples): the differential reference
// Every refusal also carries the native core's words, which the package must
// give unchanged.
// Usage: web_reference OUT FILE...
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "codec/reader.h"
#include "tests/fixtures/case_tables.h"
#include "tests/fixtures/files.h"
#include "tests/fixtures/morvellane_builder.h"
#include "tests/fixtures/reference_decode.h"

using fixtures::header_only;
using fixtures::MorvellaneBuilder;

namespace {

// One manifest entry: an RGBA file, or a refusal with its reason, number and words.
struct Answer {
  std::string reason;  // empty: decoded
  int code = 0;
  std::string message;
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgba;
};

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

class Manifest {
 public:
  explicit Manifest(std::string dir) : dir_(std::move(dir)) {}

  // `input` is the file's path; the RGBA goes next to the manifest.
  bool add(const std::string& name, const std::string& input, bool morvellane, const Answer& a) {
    std::string entry = "{\"name\": " + json_string(name) + ", \"input\": " + json_string(input) +
                        ", \"morvellane\": " + (morvellane ? "true" : "false");
    bool ok = true;
    if (a.reason.empty()) {
      ok = fixtures::write_file(dir_ + "/" + name + ".rgba", a.rgba);
      entry += ", \"width\": " + std::to_string(a.width) +
               ", \"height\": " + std::to_string(a.height) +
               ", \"rgba\": " + json_string(dir_ + "/" + name + ".rgba");
    } else {
      entry += ", \"reason\": " + json_string(a.reason) + ", \"code\": " + std::to_string(a.code) +
               ", \"message\": " + json_string(a.message);
    }
    entries_.push_back(entry + "}");
    return ok;
  }

  bool write() const {
    std::string text = "[\n";
    for (size_t i = 0; i < entries_.size(); ++i)
      text += "  " + entries_[i] + (i + 1 < entries_.size() ? ",\n" : "\n");
    text += "]\n";
    return fixtures::write_file(dir_ + "/manifest.json",
                                std::vector<uint8_t>(text.begin(), text.end()));
  }

 private:
  std::string dir_;
  std::vector<std::string> entries_;
};

// ---- the native core's answer ----

mrvln::ByteView view_of(const std::vector<uint8_t>& file) {
  return mrvln::ByteView{file.data(), static_cast<uint32_t>(file.size())};
}

Answer refusal_of(const mrvln::Refusal& r) {
  Answer a;
  a.reason = mrvln::reason_name(r.reason);
  a.code = r.reason;
  char text[mrvln::REFUSAL_TEXT_SIZE];
  mrvln::refusal_text(r, text, sizeof text);
  a.message = text;
  return a;
}

// The whole file as RGBA top row first under the default limit, as the
// package reads it: size plan, file size, rows.
Answer core_answer(const std::vector<uint8_t>& file) {
  const mrvln::OutputLayout rgba = {mrvln::PIXEL_RGBX32, mrvln::ROWS_TOP_FIRST, 1,
                                    mrvln::DEFAULT_OUTPUT_LIMIT};
  mrvln::Reader reader;
  mrvln::Refusal r = mrvln::reader_start(&reader, view_of(file), rgba);
  if (r.reason == mrvln::REASON_NONE) r = mrvln::reader_check_file_size(reader, file.size());
  if (r.reason != mrvln::REASON_NONE) return refusal_of(r);
  Answer a;
  a.width = reader.width;
  a.height = reader.height;
  a.rgba.assign(reader.output_size, 0);
  mrvln::reader_set_output(&reader, a.rgba.data(), a.rgba.size());
  r = mrvln::reader_decode(&reader, view_of(file));
  return r.reason == mrvln::REASON_NONE ? a : refusal_of(r);
}

// ---- from the definition ----

// RGBA top row first, from the channel tables.
Answer expected_rgba(const MorvellaneBuilder& b) {
  Answer a;
  a.width = b.width();
  a.height = b.rows();
  a.rgba = fixtures::expected_rows(b, "rgbx", true);
  return a;
}

bool write_fixtures(const std::string& dir) {
  Manifest manifest(dir);
  bool ok = true;
  auto put = [&](const std::string& name, const std::vector<uint8_t>& file, const Answer& a) {
    const std::string path = dir + "/" + name + ".bmp";
    ok = fixtures::write_file(path, file) && ok;
    ok = manifest.add(name, path, fixtures::reference_is_morvellane(file), a) && ok;
  };
  // The refusal a file was built to get, in the core's words for it.
  auto refused = [&](const std::string& name, const std::vector<uint8_t>& file, const char* reason,
                     mrvln::Reason code) {
    Answer a = core_answer(file);
    if (a.reason != reason || a.code != code) {
      fprintf(stderr, "web_reference: the core does not refuse %s as %s\n", name.c_str(), reason);
      ok = false;
    }
    a.reason = reason;
    a.code = code;
    put(name, file, a);
  };

  // Odd and even widths, both row orders; 1031 x 517 takes several of the
  // package's chunks, which end inside rows.
  const std::pair<int32_t, int32_t> sizes[] = {{1, -2},   {7, -3},    {10, 1},     {17, -1},
                                               {173, 97}, {320, 240}, {255, -128}, {1031, 517}};
  for (const auto& size : sizes) {
    const MorvellaneBuilder b = fixtures::colour_chart(size.first, size.second);
    put("chart_" + std::to_string(size.first) + "x" + std::to_string(size.second), b.build(),
        expected_rgba(b));
  }
  // Every 16-bit value once, both row orders.
  for (int32_t height : {256, -256}) {
    MorvellaneBuilder b(256, height);
    for (uint32_t v = 0; v < 65536; ++v) b.pixel(v % 256, v / 256, static_cast<uint16_t>(v));
    put(height > 0 ? "every_value" : "every_value_top_down", b.build(), expected_rgba(b));
  }

  refused("ordinary_24bit",
          fixtures::colour_chart(5, 3).defect(fixtures::Defect::kWrongBitCount).build(),
          "not-morvellane", mrvln::REASON_NOT_MORVELLANE);
  const std::vector<uint8_t> chart = fixtures::colour_chart(7, 3).build();
  auto cut = [&](size_t size, const char* reason, mrvln::Reason code) {
    refused("cut_" + std::to_string(size),
            std::vector<uint8_t>(chart.begin(), chart.begin() + static_cast<ptrdiff_t>(size)),
            reason, code);
  };
  // Before the acceptance fields end, inside the header, at the pixels, and
  // one byte before the end.
  cut(0, "not-morvellane", mrvln::REASON_NOT_MORVELLANE);
  cut(37, "not-morvellane", mrvln::REASON_NOT_MORVELLANE);
  cut(38, "header-cut-short", mrvln::REASON_HEADER_CUT_SHORT);
  cut(66, "truncated", mrvln::REASON_TRUNCATED);
  cut(chart.size() - 1, "truncated", mrvln::REASON_TRUNCATED);
  // A longer file is fine: what follows the last row is not read.
  std::vector<uint8_t> longer = chart;
  longer.resize(chart.size() + 5, 0xEE);
  put("trailing_bytes", longer, expected_rgba(fixtures::colour_chart(7, 3)));

  refused("no_width", header_only(0, 5).build(), "impossible-size", mrvln::REASON_IMPOSSIBLE_SIZE);
  refused("negative_width", header_only(-4, 2).build(), "negative-width",
          mrvln::REASON_NEGATIVE_WIDTH);
  refused("most_negative_height", header_only(1, INT32_MIN).build(), "impossible-size",
          mrvln::REASON_IMPOSSIBLE_SIZE);
  // RGBA of 8192 x 8192 is exactly 256 MiB: within the limit, the header
  // alone is truncated; one more row is too large.
  refused("limit_exactly", header_only(8192, 8192).build(), "truncated", mrvln::REASON_TRUNCATED);
  refused("limit_passed", header_only(8192, 8193).build(), "too-large", mrvln::REASON_TOO_LARGE);
  refused("beyond_32_bits", header_only(0x7FFFFFFF, 1).build(), "too-large",
          mrvln::REASON_TOO_LARGE);
  return manifest.write() && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s OUT [FILE...]\n", argv[0]);
    return 2;
  }
  const std::string out = argv[1];
  for (const std::string& dir : {out, out + "/fixtures", out + "/core"}) mkdir(dir.c_str(), 0777);
  bool ok = write_fixtures(out + "/fixtures");
  Manifest core(out + "/core");
  for (int i = 2; i < argc; ++i) {
    std::vector<uint8_t> file;
    if (!fixtures::read_file(argv[i], &file)) {
      fprintf(stderr, "web_reference: cannot read %s\n", argv[i]);
      return 1;
    }
    const std::string path = argv[i];
    const std::string name = "file_" + std::to_string(i - 1);
    ok = core.add(name, path, fixtures::reference_is_morvellane(file), core_answer(file)) && ok;
  }
  ok = core.write() && ok;
  if (!ok) {
    fprintf(stderr, "web_reference: cannot write everything into %s\n", out.c_str());
    return 1;
  }
  return 0;
}
