// Sizing, the output header and the decoded block on plain buffers; every
// path over whole pictures is in tests/conversion.
#include <vector>

#include "codec/dib.h"
#include "gtest/gtest.h"
#include "tests/fixtures/case_tables.h"
#include "tests/fixtures/morvellane_builder.h"

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
  for (const fixtures::HostileSize& c : fixtures::kHostileSizes)
    EXPECT_EQ(decode(fixtures::header_declaring(c.width, c.height)).result, c.result) << c.what;
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
