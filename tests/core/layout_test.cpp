// The layouts front ends other than the DLL ask for: pixel formats, top row
// first, strides, row-end fill, rows arriving in pieces, and the viewer's
// size plan.
#include <stdlib.h>

#include <algorithm>
#include <vector>

#include "codec/morvellane.h"
#include "tests/fixtures/morvellane_builder.h"
#include "gtest/gtest.h"

using fixtures::MorvellaneBuilder;
using mrvln::PixelFormat;

namespace {

constexpr uint8_t kCanary = 0x5A;

// The bytes of one pixel in `format`, from the hand-written channel tables.
std::vector<uint8_t> expected_pixel(PixelFormat format, uint16_t stored) {
  const fixtures::Bgr e = fixtures::expected_bgr(stored);
  switch (format) {
    case mrvln::PIXEL_RGB24:
      return {e.r, e.g, e.b};
    case mrvln::PIXEL_BGRX32:
      return {e.b, e.g, e.r, 0xFF};
    case mrvln::PIXEL_RGBX32:
      return {e.r, e.g, e.b, 0xFF};
    case mrvln::PIXEL_BGR24:
      break;
  }
  return {e.b, e.g, e.r};
}

// The whole output block, written from the definition: the picture's top
// row is its last stored row when the height is positive.
std::vector<uint8_t> expected_block(const MorvellaneBuilder& b, PixelFormat format, bool top_first,
                                    uint32_t stride, bool fill) {
  std::vector<uint8_t> out(static_cast<size_t>(stride) * b.rows(), kCanary);
  for (uint32_t r = 0; r < b.rows(); ++r) {
    const uint32_t y = top_first && b.header().biHeight > 0 ? b.rows() - 1 - r : r;
    size_t at = static_cast<size_t>(y) * stride;
    for (uint32_t x = 0; x < b.width(); ++x)
      for (uint8_t v : expected_pixel(format, b.pixel(x, r))) out[at++] = v;
    if (fill)
      for (; at < static_cast<size_t>(y + 1) * stride; ++at) out[at] = 0xFF;
  }
  return out;
}

// A picture whose every pixel differs from its neighbours, so that a shifted
// row or column shows.
MorvellaneBuilder mixed_picture(int32_t width, int32_t height) {
  MorvellaneBuilder b(width, height);
  for (uint32_t r = 0; r < b.rows(); ++r)
    for (uint32_t x = 0; x < b.width(); ++x)
      b.pixel(x, r, static_cast<uint16_t>((r * 7919 + x * 131) * 2654435761u >> 11));
  return b;
}

TEST(DecodeRows, FormatsOrdersStridesAndPieces) {
  struct Case {
    int32_t width, height;
    PixelFormat format;
    bool top_first, fill;
    uint32_t extra_stride;  // bytes beyond the row's own
    uint32_t rows_per_call;
  } cases[] = {
      {5, 3, mrvln::PIXEL_RGB24, true, false, 1, 1},
      {5, -3, mrvln::PIXEL_RGB24, true, false, 1, 2},
      {17, 4, mrvln::PIXEL_BGRX32, true, false, 0, 3},
      {17, -4, mrvln::PIXEL_BGRX32, false, true, 4, 4},
      {33, 5, mrvln::PIXEL_BGR24, false, true, 3, 2},
      {33, 5, mrvln::PIXEL_BGR24, true, true, 1, 5},
      {1, 7, mrvln::PIXEL_RGB24, true, true, 5, 3},
      {40, -2, mrvln::PIXEL_BGRX32, true, false, 12, 1},
      {19, 3, mrvln::PIXEL_RGBX32, true, false, 0, 2},
      {9, -5, mrvln::PIXEL_RGBX32, false, true, 8, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height << " format " << c.format
                                      << " top first " << c.top_first << " fill " << c.fill);
    const MorvellaneBuilder b = mixed_picture(c.width, c.height);
    const std::vector<uint8_t> file = b.build();
    mrvln::DecodePlan plan;
    ASSERT_EQ(
        mrvln::plan_decode(mrvln::ByteView{file.data(), static_cast<uint32_t>(file.size())}, &plan),
        mrvln::RESULT_SUCCESS);
    const uint32_t stride =
        b.width() * static_cast<uint32_t>(expected_pixel(c.format, 0).size()) + c.extra_stride;
    const mrvln::OutputLayout layout = {
        c.format, c.top_first ? mrvln::ROWS_TOP_FIRST : mrvln::ROWS_AS_STORED, stride, c.fill};
    for (int path = 0; path < mrvln::CONVERT_PATH_COUNT; ++path) {
      const mrvln::ConvertPath p = static_cast<mrvln::ConvertPath>(path);
      if (!mrvln::convert_path_supported(p)) continue;
      std::vector<uint8_t> block(static_cast<size_t>(stride) * b.rows(), kCanary);
      for (uint32_t first = 0; first < b.rows(); first += c.rows_per_call) {
        const uint32_t count = std::min(c.rows_per_call, b.rows() - first);
        // Exactly the bytes of these rows, as a reader receives them.
        const std::vector<uint8_t> piece(file.begin() + 66 + 2 * b.width() * first,
                                         file.begin() + 66 + 2 * b.width() * (first + count));
        ASSERT_EQ(
            mrvln::decode_rows(plan, layout,
                               mrvln::ByteView{piece.data(), static_cast<uint32_t>(piece.size())},
                               first, count, block.data(), block.size(), p),
            mrvln::RESULT_SUCCESS);
      }
      EXPECT_TRUE(block == expected_block(b, c.format, c.top_first, stride, c.fill))
          << mrvln::convert_path_name(p);
    }
  }
}

TEST(DecodeRows, RefusesWhatDoesNotFitAndWritesNothing) {
  const MorvellaneBuilder b = mixed_picture(4, 3);
  const std::vector<uint8_t> file = b.build();
  mrvln::DecodePlan plan;
  ASSERT_EQ(
      mrvln::plan_decode(mrvln::ByteView{file.data(), static_cast<uint32_t>(file.size())}, &plan),
      mrvln::RESULT_SUCCESS);
  const std::vector<uint8_t> two_rows(file.begin() + 66, file.begin() + 66 + 16);
  struct Case {
    const char* what;
    uint32_t first, count, row_bytes, stride, block;
  } cases[] = {
      {"past the last row", 2, 2, 16, 12, 36},
      {"first beyond the picture", 4, 0, 0, 12, 36},
      {"count wraps past the end", 1, 0xFFFFFFFF, 16, 12, 36},
      {"bytes short of the rows", 0, 2, 15, 12, 36},
      {"bytes beyond the rows", 0, 1, 16, 12, 36},
      {"stride shorter than a row", 0, 2, 16, 11, 36},
      {"block one byte short", 0, 2, 16, 12, 35},  // stored row 0 is the last output row
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> block(40, kCanary);
    const mrvln::OutputLayout layout = {mrvln::PIXEL_RGB24, mrvln::ROWS_TOP_FIRST, c.stride, true};
    EXPECT_EQ(mrvln::decode_rows(plan, layout, mrvln::ByteView{two_rows.data(), c.row_bytes},
                                 c.first, c.count, block.data(), c.block),
              mrvln::RESULT_BROKEN_DATA)
        << c.what;
    EXPECT_EQ(block, std::vector<uint8_t>(40, kCanary)) << c.what;
  }
}

TEST(PlanImage, SizesAndRefusals) {
  struct Case {
    int32_t width, height;
    PixelFormat format;
    uint64_t limit;
    mrvln::Result result;
    uint32_t stride;
    uint64_t size;
  } cases[] = {
      {5, 3, mrvln::PIXEL_RGB24, 1000, mrvln::RESULT_SUCCESS, 16, 48},
      {5, -3, mrvln::PIXEL_BGRX32, 1000, mrvln::RESULT_SUCCESS, 20, 60},
      {4, 1, mrvln::PIXEL_BGR24, 12, mrvln::RESULT_SUCCESS, 12, 12},
      {4, 1, mrvln::PIXEL_BGR24, 11, mrvln::RESULT_OUT_OF_MEMORY, 0, 0},
      // 20000 x 20000 from a header alone: 1.6 GB, far past Qt 6's limit.
      {20000, 20000, mrvln::PIXEL_RGB24, mrvln::DEFAULT_OUTPUT_LIMIT, mrvln::RESULT_OUT_OF_MEMORY,
       0, 0},
      {9000, 9000, mrvln::PIXEL_BGRX32, mrvln::DEFAULT_OUTPUT_LIMIT, mrvln::RESULT_OUT_OF_MEMORY, 0,
       0},
      {0, 5, mrvln::PIXEL_RGB24, 1000, mrvln::RESULT_BROKEN_DATA, 0, 0},
      {5, 0, mrvln::PIXEL_RGB24, 1000, mrvln::RESULT_BROKEN_DATA, 0, 0},
      {-5, 5, mrvln::PIXEL_RGB24, 1000, mrvln::RESULT_BROKEN_DATA, 0, 0},
      {1, INT32_MIN, mrvln::PIXEL_RGB24, 1000, mrvln::RESULT_BROKEN_DATA, 0, 0},
      {0x10000, 0x10000, mrvln::PIXEL_RGB24, UINT64_MAX, mrvln::RESULT_OUT_OF_MEMORY, 0, 0},
      // RGBA for the web: 8192 x 8192 is exactly the default limit.
      {3, -2, mrvln::PIXEL_RGBX32, 24, mrvln::RESULT_SUCCESS, 12, 24},
      {8192, 8192, mrvln::PIXEL_RGBX32, mrvln::DEFAULT_OUTPUT_LIMIT, mrvln::RESULT_SUCCESS, 32768,
       mrvln::DEFAULT_OUTPUT_LIMIT},
      {8192, 8193, mrvln::PIXEL_RGBX32, mrvln::DEFAULT_OUTPUT_LIMIT, mrvln::RESULT_OUT_OF_MEMORY, 0,
       0},
  };
  for (const Case& c : cases) {
    MorvellaneBuilder b(0, 0);
    b.header().biWidth = c.width;
    b.header().biHeight = c.height;
    const std::vector<uint8_t> header = b.build();  // no rows: planned from the header alone
    mrvln::ImagePlan plan;
    const mrvln::Result got =
        mrvln::plan_image(mrvln::ByteView{header.data(), static_cast<uint32_t>(header.size())},
                          c.format, 4, c.limit, &plan);
    EXPECT_EQ(got, c.result) << c.width << " x " << c.height;
    if (got != mrvln::RESULT_SUCCESS || c.result != mrvln::RESULT_SUCCESS) continue;
    EXPECT_EQ(plan.layout.stride, c.stride) << c.width;
    EXPECT_EQ(plan.output_size, c.size) << c.width;
    EXPECT_EQ(plan.layout.row_order, mrvln::ROWS_TOP_FIRST);
    EXPECT_FALSE(mrvln::file_holds_rows(plan.picture, header.size()));
    const uint64_t stored =
        2ull * static_cast<uint32_t>(c.width) * static_cast<uint32_t>(std::abs(c.height));
    EXPECT_FALSE(mrvln::file_holds_rows(plan.picture, 66 + stored - 1));
    EXPECT_TRUE(mrvln::file_holds_rows(plan.picture, 66 + stored));
  }
}

}  // namespace
