// The DLL's sizing and decoded block on plain buffers; every path over whole
// pictures is in tests/conversion, the output header in tests/dll.
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
  std::vector<uint8_t> pixels;
};

// Decodes from an exact-size copy of `file`, as the exports do.
Decoded decode(const std::vector<uint8_t>& file) {
  Decoded d{};
  const std::vector<uint8_t> exact(file);
  const mrvln::ByteView image{exact.data(), static_cast<uint32_t>(exact.size())};
  d.result = mrvln::plan_decode(image, &d.plan);
  if (d.result != mrvln::RESULT_SUCCESS) return d;
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

// Whole pictures against the definition, with bytes after the rows: rows
// without fill between them, masks and pixel offset never read, no pixels.
TEST(Convert, PicturesAsDefined) {
  MorvellaneBuilder second_row(5, 2);
  second_row.pixel(0, 1, 0xF800);
  MorvellaneBuilder moved = fixtures::colour_chart(9, 3);
  moved.header().red_mask = 0x001F;
  moved.header().green_mask = 0;
  moved.header().blue_mask = 0xFFFFFFFF;
  moved.header().bfOffBits = 200;
  for (const MorvellaneBuilder& b :
       {second_row, moved, MorvellaneBuilder(0, 0), MorvellaneBuilder(0, 9),
        MorvellaneBuilder(9, 0), MorvellaneBuilder(0, -9)}) {
    std::vector<uint8_t> file = b.build();
    file.resize(file.size() + 17, 0x5A);
    const Decoded d = decode(file);
    ASSERT_EQ(d.result, mrvln::RESULT_SUCCESS) << b.width() << " x " << b.rows();
    EXPECT_EQ(d.pixels, fixtures::expected_pixel_block(b)) << b.width() << " x " << b.rows();
  }
}

}  // namespace
