// ENCODE: standard 24-bit BMP files to Morvellane bitmaps, checked through
// the plug-in by CONVERT, and the files it must refuse.
#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/fixtures/morvellane_builder.h"
#include "tool_runner.h"

using tooltest::contains;
using tooltest::run_tool;

namespace {

// Every value of every channel, greys, and pseudo-random colours.
std::vector<uint8_t> test_pixels(int32_t width, uint32_t rows) {
  std::vector<uint8_t> bgr(3 * static_cast<size_t>(width) * rows);
  uint32_t seed = 12345;
  for (uint32_t r = 0; r < rows; ++r)
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = &bgr[3 * (static_cast<size_t>(r) * width + x)];
      const uint8_t v = static_cast<uint8_t>(x);
      switch (r % 5) {
        case 0:
        case 1:
        case 2:
          p[0] = p[1] = p[2] = static_cast<uint8_t>(255 - v);
          p[r % 5] = v;
          break;
        case 3:
          p[0] = p[1] = p[2] = v;
          break;
        default:
          for (int c = 0; c < 3; ++c) {
            seed = seed * 1103515245u + 12345u;
            p[c] = static_cast<uint8_t>(seed >> 16);
          }
      }
    }
  return bgr;
}

// Distance, scaled by 255, between level `level` of `max` and 8-bit `value`.
uint32_t scaled_distance(uint32_t level, uint32_t max, uint32_t value) {
  const int64_t d = static_cast<int64_t>(level) * 255 - static_cast<int64_t>(value) * max;
  return static_cast<uint32_t>(d < 0 ? -d : d);
}

TEST(Encode, NearestLevelsThatConvertBack) {
  const struct {
    int32_t width, height;
    uint32_t info_size;
  } cases[] = {{259, 10, 40}, {256, -7, 40}, {1, 1, 40}, {6, 3, 124}, {257, 5, 108}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height << ", " << c.info_size);
    const uint32_t rows = c.height < 0 ? -c.height : c.height;
    const std::vector<uint8_t> bgr = test_pixels(c.width, rows);
    tooltest::TempDir dir;
    ASSERT_TRUE(tooltest::write_file(dir.file("in.bmp"),
                                     tooltest::make_bmp24(c.width, c.height, bgr, c.info_size)));

    const tooltest::Run e = run_tool({"encode", dir.file("in.bmp"), dir.file("m.bmp")});
    ASSERT_EQ(e.exit_code, 0u) << e.err;
    std::vector<uint8_t> m;
    ASSERT_TRUE(tooltest::read_file(dir.file("m.bmp"), &m));
    const size_t pixels = static_cast<size_t>(c.width) * rows;
    ASSERT_EQ(m.size(), 66 + 2 * pixels);
    // The layout the plug-in reads, with the input's resolution.
    fixtures::MorvellaneBuilder header = fixtures::header_only(c.width, c.height);
    header.header().bfSize = static_cast<uint32_t>(m.size());
    header.header().biXPelsPerMeter = header.header().biYPelsPerMeter = 3780;
    EXPECT_EQ(fixtures::first_bytes(m, 66), header.build());

    // Each stored level is the nearest one to the original channel.
    size_t not_nearest = 0;
    for (size_t i = 0; i < pixels; ++i) {
      const uint32_t v = fixtures::le16(m, 66 + 2 * i);
      const uint32_t level[3] = {v & 31, (v >> 5) & 63, v >> 11};
      const uint32_t max[3] = {31, 63, 31};
      for (int ch = 0; ch < 3; ++ch) {
        const uint32_t d = scaled_distance(level[ch], max[ch], bgr[3 * i + ch]);
        if ((level[ch] > 0 && scaled_distance(level[ch] - 1, max[ch], bgr[3 * i + ch]) < d) ||
            (level[ch] < max[ch] && scaled_distance(level[ch] + 1, max[ch], bgr[3 * i + ch]) < d))
          ++not_nearest;
      }
    }
    EXPECT_EQ(not_nearest, 0u);

    // Decoded through the plug-in as the model decodes it: so within half a
    // step of the original, plus the decoder's truncation.
    const tooltest::Run d = run_tool({"convert", dir.file("m.bmp"), dir.file("out.bmp")});
    ASSERT_EQ(d.exit_code, 0u) << d.err;
    std::vector<uint8_t> out;
    ASSERT_TRUE(tooltest::read_file(dir.file("out.bmp"), &out));
    EXPECT_TRUE(out == tooltest::expected_bmp24(m));
  }
}

TEST(Encode, ConvertThenEncodeGivesBackTheSample) {
  for (const char* name : {"colour_chart_odd_173x97.bmp", "blend_top_down_255x-128.bmp"}) {
    SCOPED_TRACE(name);
    const std::string sample = tooltest::samples_dir() + "\\" + name;
    tooltest::TempDir dir;
    ASSERT_EQ(run_tool({"convert", sample, dir.file("d.bmp")}).exit_code, 0u);
    ASSERT_EQ(run_tool({"encode", dir.file("d.bmp"), dir.file("m.bmp")}).exit_code, 0u);
    std::vector<uint8_t> original, again;
    ASSERT_TRUE(tooltest::read_file(sample, &original));
    ASSERT_TRUE(tooltest::read_file(dir.file("m.bmp"), &again));
    ASSERT_EQ(again.size(), original.size());
    EXPECT_TRUE(std::equal(original.begin() + 18, original.begin() + 38, again.begin() + 18))
        << "size and format fields";
    EXPECT_TRUE(std::equal(original.begin() + 54, original.end(), again.begin() + 54))
        << "masks and every pixel";
  }
}

TEST(Encode, Refusals) {
  tooltest::TempDir dir;
  std::vector<uint8_t> eight_bit = tooltest::make_bmp24(4, 4, std::vector<uint8_t>(48, 9));
  eight_bit[28] = 8;
  std::vector<uint8_t> rle = tooltest::make_bmp24(4, 4, std::vector<uint8_t>(48, 9));
  rle[30] = 1;
  std::vector<uint8_t> short_rows = tooltest::make_bmp24(4, 4, std::vector<uint8_t>(48, 9));
  short_rows.resize(short_rows.size() - 13);
  std::vector<uint8_t> core_header = tooltest::make_bmp24(4, 4, std::vector<uint8_t>(48, 9));
  core_header[14] = 12;
  std::vector<uint8_t> no_width = tooltest::make_bmp24(0, 4, {});
  std::vector<uint8_t> morvellane;
  ASSERT_TRUE(
      tooltest::read_file(tooltest::samples_dir() + "\\colour_chart_320x240.bmp", &morvellane));
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* message;
  } files[] = {
      {"eight_bit.bmp", eight_bit, "only uncompressed 24-bit"},
      {"rle.bmp", rle, "only uncompressed 24-bit"},
      {"morvellane.bmp", morvellane, "only uncompressed 24-bit"},
      {"short_rows.bmp", short_rows, "shorter than its pixel rows"},
      {"core_header.bmp", core_header, "not supported"},
      {"no_width.bmp", no_width, "no pixels"},
      {"text.bmp", {'B', 'M', '!'}, "not a BMP file"},
  };
  for (const auto& f : files) {
    ASSERT_TRUE(tooltest::write_file(dir.file(f.name), f.bytes));
    const tooltest::Run r = run_tool({"encode", dir.file(f.name), dir.file("out.bmp")});
    EXPECT_EQ(r.exit_code, 1u) << f.name;
    EXPECT_TRUE(contains(r.err, f.message)) << f.name << ": " << r.err;
    EXPECT_FALSE(tooltest::exists(dir.file("out.bmp"))) << f.name;
  }
}

}  // namespace
