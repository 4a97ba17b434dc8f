// Sizing, output header and pixel conversion on plain buffers.
#include <vector>

#include "codec/morvellane.h"
#include "tests/fixtures/morvellane_builder.h"
#include "gtest/gtest.h"

using fixtures::MorvellaneBuilder;
using mrvln::DecodePlan;

namespace {

struct Decoded {
  mrvln::Result result;
  DecodePlan plan;
  std::vector<uint8_t> header;
  std::vector<uint8_t> pixels;
};

// Decodes from an exact-size copy of `file`, as the exports do.
Decoded decode(const std::vector<uint8_t>& file) {
  Decoded d{};
  const std::vector<uint8_t> exact(file);
  const mrvln::ByteView image{exact.data(), static_cast<uint32_t>(exact.size())};
  d.result = mrvln::plan_decode(image, &d.plan);
  if (d.result != mrvln::RESULT_SUCCESS) return d;
  d.header.assign(40, 0xEE);
  mrvln::write_output_header(d.plan, d.header.data());
  d.pixels.assign(d.plan.pixel_block_size, 0);
  d.result = mrvln::decode_pixels(image, d.plan, d.pixels.data(), d.plan.pixel_block_size);
  return d;
}

std::vector<uint8_t> with_size_fields(int32_t width, int32_t height, size_t total_size) {
  MorvellaneBuilder b(0, 0);
  b.header().biWidth = width;
  b.header().biHeight = height;
  std::vector<uint8_t> file = b.build();
  file.resize(total_size, 0);
  return file;
}

TEST(Plan, StridesAndBlockSizes) {
  struct Case {
    int32_t width, height;
    uint32_t stride, block;
  } cases[] = {
      {1, 1, 4, 4},         {2, 1, 8, 8},   {3, 1, 12, 12},
      {4, 1, 12, 12},       {5, 2, 16, 32}, {640, 480, 1920, 921600},
      {641, 3, 1924, 5772}, {0, 5, 0, 0},   {5, 0, 16, 0},
      {7, -3, 24, 72},
  };
  for (const Case& c : cases) {
    const Decoded d = decode(MorvellaneBuilder(c.width, c.height).build());
    ASSERT_EQ(d.result, mrvln::RESULT_SUCCESS) << c.width << " x " << c.height;
    EXPECT_EQ(d.plan.stride, c.stride) << c.width;
    EXPECT_EQ(d.plan.pixel_block_size, c.block) << c.width << " x " << c.height;
  }
}

TEST(Plan, HostileSizesAreRefused) {
  struct Case {
    const char* what;
    int32_t width, height;
    mrvln::Result result;
  } cases[] = {
      {"negative width", -1, 1, mrvln::RESULT_BROKEN_DATA},
      {"most negative width", INT32_MIN, 1, mrvln::RESULT_BROKEN_DATA},
      {"most negative height", 1, INT32_MIN, mrvln::RESULT_BROKEN_DATA},
      // W * 24 + 31 no longer fits in 32 bits.
      {"row bits overflow", 178956970, 1, mrvln::RESULT_OUT_OF_MEMORY},
      {"largest width", INT32_MAX, 1, mrvln::RESULT_OUT_OF_MEMORY},
      // |H| * S no longer fits in 32 bits.
      {"block overflow", 1000, 1 << 30, mrvln::RESULT_OUT_OF_MEMORY},
      {"block overflow top-down", 1000, -(1 << 30), mrvln::RESULT_OUT_OF_MEMORY},
      {"block overflow wrapping to small", 0x10000, 0x10000, mrvln::RESULT_OUT_OF_MEMORY},
      // Sizes fit, but the file holds no rows.
      {"rows missing", 100, 100, mrvln::RESULT_BROKEN_DATA},
      {"rows missing top-down", 100, -100, mrvln::RESULT_BROKEN_DATA},
      {"largest height", 1, INT32_MAX, mrvln::RESULT_OUT_OF_MEMORY},
      {"largest fitting height", 1, 0x3FFFFFFF, mrvln::RESULT_BROKEN_DATA},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decode(with_size_fields(c.width, c.height, 66)).result, c.result) << c.what;
  }
}

TEST(Plan, EveryTruncationIsBroken) {
  for (const auto& dims : {std::pair<int, int>{5, 2}, {3, -3}, {1, 1}, {0, 4}}) {
    const std::vector<uint8_t> file = MorvellaneBuilder(dims.first, dims.second).build();
    for (size_t length = 0; length < file.size(); ++length) {
      const std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<long>(length));
      EXPECT_EQ(decode(cut).result, mrvln::RESULT_BROKEN_DATA)
          << dims.first << " x " << dims.second << " cut to " << length;
    }
    EXPECT_EQ(decode(file).result, mrvln::RESULT_SUCCESS);
  }
}

TEST(OutputHeader, FieldsAndSignKept) {
  for (int32_t height : {480, -480, 0}) {
    const Decoded d = decode(MorvellaneBuilder(640, height).build());
    ASSERT_EQ(d.result, mrvln::RESULT_SUCCESS);
    EXPECT_EQ(d.header, fixtures::expected_output_header(640, height)) << height;
  }
}

// Checks every pixel and every fill byte of a decoded picture.
void expect_picture(const MorvellaneBuilder& b, const Decoded& d) {
  const uint32_t w = b.width();
  ASSERT_EQ(d.pixels.size(), static_cast<size_t>(d.plan.stride) * b.rows());
  for (uint32_t row = 0; row < b.rows(); ++row) {
    const uint8_t* line = &d.pixels[static_cast<size_t>(row) * d.plan.stride];
    for (uint32_t x = 0; x < w; ++x) {
      const fixtures::Bgr e = fixtures::expected_bgr(b.pixel(x, row));
      ASSERT_TRUE(line[3 * x] == e.b && line[3 * x + 1] == e.g && line[3 * x + 2] == e.r)
          << "pixel " << x << " row " << row;
    }
    for (uint32_t i = 3 * w; i < d.plan.stride; ++i)
      ASSERT_EQ(line[i], 0xFF) << "fill, row " << row;
  }
}

TEST(Convert, RowsAndFillAcrossWidths) {
  for (int32_t width : {1, 2, 3, 4, 5, 7, 13, 31, 33, 641}) {
    for (int32_t height : {1, 2, 5, -4}) {
      MorvellaneBuilder b = fixtures::colour_chart(width, height);
      // Make every pixel distinct per row so a row or column shift shows.
      for (uint32_t row = 0; row < b.rows(); ++row)
        for (uint32_t x = 0; x < b.width(); ++x)
          b.pixel(x, row, static_cast<uint16_t>(b.pixel(x, row) ^ (row * 977 + x * 131)));
      const Decoded d = decode(b.build());
      ASSERT_EQ(d.result, mrvln::RESULT_SUCCESS) << width << " x " << height;
      SCOPED_TRACE(::testing::Message() << width << " x " << height);
      expect_picture(b, d);
    }
  }
}

TEST(Convert, SecondRowFollowsFirstWithoutFill) {
  MorvellaneBuilder b(5, 2);
  b.pixel(0, 1, 0xF800);  // stored at file offset 66 + 10
  std::vector<uint8_t> file = b.build();
  ASSERT_EQ(file[76], 0x00);
  ASSERT_EQ(file[77], 0xF8);
  const Decoded d = decode(file);
  ASSERT_EQ(d.result, mrvln::RESULT_SUCCESS);
  EXPECT_EQ(d.pixels[16], 0x00);
  EXPECT_EQ(d.pixels[17], 0x00);
  EXPECT_EQ(d.pixels[18], 0xFF);
  EXPECT_EQ(d.pixels[15], 0xFF);  // last fill byte of row 0
}

TEST(Convert, MasksNeverRead) {
  MorvellaneBuilder plain = fixtures::colour_chart(9, 3);
  MorvellaneBuilder odd = plain;
  odd.header().red_mask = 0x001F;
  odd.header().green_mask = 0;
  odd.header().blue_mask = 0xFFFFFFFF;
  const Decoded a = decode(plain.build());
  const Decoded b = decode(odd.build());
  ASSERT_EQ(a.result, mrvln::RESULT_SUCCESS);
  EXPECT_EQ(a.pixels, b.pixels);
  // The pixel offset field is not read either: pixels start at 66 regardless.
  MorvellaneBuilder moved = plain;
  moved.header().bfOffBits = 200;
  EXPECT_EQ(decode(moved.build()).pixels, a.pixels);
}

TEST(Convert, EmptyPictures) {
  for (const auto& dims : {std::pair<int, int>{0, 0}, {0, 9}, {9, 0}, {0, -9}}) {
    const Decoded d = decode(MorvellaneBuilder(dims.first, dims.second).build());
    EXPECT_EQ(d.result, mrvln::RESULT_SUCCESS);
    EXPECT_TRUE(d.pixels.empty());
  }
}

TEST(Convert, TrailingBytesIgnored) {
  MorvellaneBuilder b = fixtures::colour_chart(3, 3);
  std::vector<uint8_t> file = b.build();
  file.resize(file.size() + 17, 0x5A);
  const Decoded longer = decode(file);
  ASSERT_EQ(longer.result, mrvln::RESULT_SUCCESS);
  EXPECT_EQ(longer.pixels, fixtures::expected_pixel_block(b));
}

}  // namespace
