// Writes what the web package must answer, for its tests in Node and in the
// browser:
//   OUT/fixtures/   pictures made by the fixture builder, with the expected
//                   RGBA from the hand-written channel tables or the refusal
//                   each one was built to get (manifest.json)
//   OUT/core/       the native core's answer for every other file named
//                   (the fuzz seeds, the samples): the differential reference
// Usage: web_reference OUT FILE...
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "codec/morvellane.h"
#include "readers/web/morvellane_web.h"
#include "tests/fixtures/case_tables.h"
#include "tests/fixtures/files.h"
#include "tests/fixtures/morvellane_builder.h"
#include "tests/fixtures/reference_decode.h"

using fixtures::MorvellaneBuilder;

namespace {

// One manifest entry: an RGBA file, or a refusal with its reason and code.
struct Answer {
  std::string reason;  // empty: decoded
  int code = 0;
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
      entry += ", \"reason\": " + json_string(a.reason) + ", \"code\": " + std::to_string(a.code);
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

// ---- from the definition ----

// RGBA top row first: the top row is the last stored one when the height is
// positive.
Answer expected_rgba(const MorvellaneBuilder& b) {
  Answer a;
  a.width = b.width();
  a.height = b.rows();
  a.rgba.resize(static_cast<size_t>(a.width) * a.height * 4);
  for (uint32_t r = 0; r < b.rows(); ++r) {
    const uint32_t y = b.header().biHeight > 0 ? b.rows() - 1 - r : r;
    for (uint32_t x = 0; x < b.width(); ++x) {
      const fixtures::Bgr e = fixtures::expected_bgr(b.pixel(x, r));
      uint8_t* p = &a.rgba[(static_cast<size_t>(y) * a.width + x) * 4];
      p[0] = e.r;
      p[1] = e.g;
      p[2] = e.b;
      p[3] = 0xFF;
    }
  }
  return a;
}

Answer refused(const char* reason, int code) {
  Answer a;
  a.reason = reason;
  a.code = code;
  return a;
}

MorvellaneBuilder declaring(int32_t width, int32_t height) {
  MorvellaneBuilder b(0, 0);  // the header alone
  b.header().biWidth = width;
  b.header().biHeight = height;
  b.header().biSizeImage = fixtures::marker_size_image(width, height);
  return b;
}

bool write_fixtures(const std::string& dir) {
  Manifest manifest(dir);
  bool ok = true;
  auto put = [&](const std::string& name, const std::vector<uint8_t>& file, const Answer& a) {
    const std::string path = dir + "/" + name + ".bmp";
    ok = fixtures::write_file(path, file) && ok;
    ok = manifest.add(name, path, fixtures::reference_is_morvellane(file), a) && ok;
  };

  // Every width from 1 to 33 meets every tail of the 8- and 16-pixel chunks.
  for (int32_t width = 1; width <= 33; ++width) {
    const int32_t height = width % 2 ? -(width % 5 + 1) : width % 5 + 1;
    const MorvellaneBuilder b = fixtures::colour_chart(width, height);
    put("chart_" + std::to_string(width) + "x" + std::to_string(height), b.build(),
        expected_rgba(b));
  }
  for (const auto& size : {std::pair<int32_t, int32_t>{173, 97}, {320, 240}, {255, -128}}) {
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

  int index = 0;
  for (const fixtures::AcceptanceCase& c : fixtures::kAcceptanceCases) {
    if (c.accepted) continue;
    MorvellaneBuilder b = fixtures::colour_chart(5, 3);
    put("defect_" + std::to_string(index++), b.defect(c.defect).build(),
        refused("not-morvellane", MRVLN_WEB_NOT_MORVELLANE));
  }

  const std::vector<uint8_t> chart = fixtures::colour_chart(7, 3).build();
  for (size_t cut : {size_t{0}, size_t{1}, size_t{37}})
    put("cut_" + std::to_string(cut), std::vector<uint8_t>(chart.begin(), chart.begin() + cut),
        refused("not-morvellane", MRVLN_WEB_NOT_MORVELLANE));
  // Cut inside the header but past the acceptance fields, at the pixels, and
  // one byte before the end.
  for (size_t cut : {size_t{38}, size_t{54}, size_t{66}, chart.size() - 1})
    put("cut_" + std::to_string(cut), std::vector<uint8_t>(chart.begin(), chart.begin() + cut),
        refused("truncated", 3));
  // A longer file is fine: what follows the last row is not read.
  std::vector<uint8_t> longer = chart;
  longer.resize(chart.size() + 5, 0xEE);
  put("trailing_bytes", longer, expected_rgba(fixtures::colour_chart(7, 3)));

  put("no_width", declaring(0, 5).build(), refused("broken", 3));
  put("no_height", declaring(5, 0).build(), refused("broken", 3));
  put("negative_width", declaring(-4, 2).build(), refused("broken", 3));
  put("most_negative_height", declaring(1, INT32_MIN).build(), refused("broken", 3));
  // RGBA of 8192 x 8192 is exactly 256 MiB: within the limit, the header
  // alone is truncated; one more row is too large.
  put("limit_exactly", declaring(8192, 8192).build(), refused("truncated", 3));
  put("limit_passed", declaring(8192, 8193).build(), refused("too-large", 4));
  put("limit_passed_top_down", declaring(8193, -8192).build(), refused("too-large", 4));
  put("beyond_32_bits", declaring(0x7FFFFFFF, 1).build(), refused("too-large", 4));
  put("huge", declaring(65536, 65536).build(), refused("too-large", 4));
  return manifest.write() && ok;
}

// ---- the native core's answer ----

Answer core_answer(const std::vector<uint8_t>& file) {
  const mrvln::ByteView bytes{file.data(), static_cast<uint32_t>(file.size())};
  if (!mrvln::is_morvellane(bytes)) return refused("not-morvellane", MRVLN_WEB_NOT_MORVELLANE);
  mrvln::ImagePlan plan;
  const mrvln::Result planned =
      mrvln::plan_image(bytes, mrvln::PIXEL_RGBX32, 1, mrvln::DEFAULT_OUTPUT_LIMIT, &plan);
  if (planned == mrvln::RESULT_OUT_OF_MEMORY) return refused("too-large", planned);
  if (planned != mrvln::RESULT_SUCCESS) return refused("broken", planned);
  mrvln::ByteView rows;
  if (!mrvln::sub_view(bytes, mrvln::PIXEL_DATA_OFFSET, plan.picture.source_size, &rows))
    return refused("truncated", mrvln::RESULT_BROKEN_DATA);
  Answer a;
  a.width = static_cast<uint32_t>(plan.picture.width);
  a.height = plan.picture.rows;
  a.rgba.assign(plan.output_size, 0);
  const mrvln::Result decoded = mrvln::decode_rows(plan.picture, plan.layout, rows, 0,
                                                   plan.picture.rows, a.rgba.data(), a.rgba.size());
  if (decoded != mrvln::RESULT_SUCCESS) return refused("truncated", decoded);
  return a;
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
