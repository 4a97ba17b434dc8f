// Each conversion path in each pixel format, called explicitly, against the
// hand-written channel tables: every 16-bit value, every run length around
// the vector chunk size at every alignment, and whole pictures of odd widths.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <tuple>
#include <vector>

#include "codec/convert.h"
#include "codec/dib.h"
#include "gtest/gtest.h"
#include "tests/fixtures/morvellane_builder.h"

using fixtures::MorvellaneBuilder;
using mrvln::ConvertPath;
using mrvln::PixelFormat;

namespace {

class EachPath : public ::testing::TestWithParam<ConvertPath> {
 protected:
  void SetUp() override {
    if (!mrvln::convert_path_supported(GetParam()))
      GTEST_SKIP() << "this processor lacks " << mrvln::convert_path_name(GetParam());
  }
};

class EachPathAndFormat : public ::testing::TestWithParam<std::tuple<ConvertPath, PixelFormat>> {
 protected:
  void SetUp() override {
    if (!mrvln::convert_path_supported(path()))
      GTEST_SKIP() << "this processor lacks " << mrvln::convert_path_name(path());
  }
  ConvertPath path() const { return std::get<0>(GetParam()); }
  PixelFormat format() const { return std::get<1>(GetParam()); }
  uint32_t size() const {
    return format() == mrvln::PIXEL_BGRX32 || format() == mrvln::PIXEL_RGBX32 ? 4 : 3;
  }
  // Whether `got` holds the pixel `v` in this format.
  bool holds(const uint8_t* got, uint16_t v) const {
    const fixtures::Bgr e = fixtures::expected_bgr(v);
    switch (format()) {
      case mrvln::PIXEL_RGB24:
        return got[0] == e.r && got[1] == e.g && got[2] == e.b;
      case mrvln::PIXEL_BGRX32:
        return got[0] == e.b && got[1] == e.g && got[2] == e.r && got[3] == 0xFF;
      case mrvln::PIXEL_RGBX32:
        return got[0] == e.r && got[1] == e.g && got[2] == e.b && got[3] == 0xFF;
      case mrvln::PIXEL_BGR24:
        break;
    }
    return got[0] == e.b && got[1] == e.g && got[2] == e.r;
  }
};

// Deterministic, well-mixed pixel values.
uint16_t mixed(uint32_t i) {
  return static_cast<uint16_t>((i * 2654435761u) >> 13);
}

TEST_P(EachPathAndFormat, EverySixteenBitValue) {
  // One run of all 65,536 values: each value meets one lane position, and
  // neighbouring values differ in every channel.
  std::vector<uint8_t> source(2 * 65536);
  for (uint32_t v = 0; v < 65536; ++v) fixtures::set16(source, 2 * v, v);
  std::vector<uint8_t> target(size() * 65536, 0x5A);
  mrvln::convert_run(path(), format(), source.data(), target.data(), 65536);
  for (uint32_t v = 0; v < 65536; ++v)
    ASSERT_TRUE(holds(&target[size() * v], static_cast<uint16_t>(v))) << std::hex << v;
}

TEST_P(EachPathAndFormat, EveryRunLengthAndAlignment) {
  // Lengths around one, two and three chunks and the tail, from and to
  // addresses at every offset: exactly 3 * count bytes change.
  const uint32_t counts[] = {0,  1,  2,  3,  7,  8,  9,  15, 16, 17,  23,  24,  31,
                             32, 33, 40, 47, 48, 49, 63, 64, 65, 255, 256, 257, 1001};
  const uint8_t canary = 0xA7;
  for (uint32_t count : counts) {
    for (uint32_t from = 0; from < 16; ++from) {
      for (uint32_t to = 0; to < 16; to += 3) {
        SCOPED_TRACE(::testing::Message() << count << " pixels, offsets " << from << ", " << to);
        // Exactly sized source, so a read past it is caught by the sanitizer.
        std::vector<uint8_t> source(from + 2 * count);
        for (uint32_t i = 0; i < count; ++i)
          fixtures::set16(source, from + 2 * i, mixed(i + count));
        std::vector<uint8_t> target(to + size() * count + 32, canary);
        mrvln::convert_run(path(), format(), source.data() + from, target.data() + to, count);
        for (uint32_t i = 0; i < to; ++i) ASSERT_EQ(target[i], canary) << "before, " << i;
        for (uint32_t i = 0; i < count; ++i)
          ASSERT_TRUE(holds(&target[to + size() * i], mixed(i + count))) << "pixel " << i;
        for (uint32_t i = to + size() * count; i < target.size(); ++i)
          ASSERT_EQ(target[i], canary) << "after, " << i;
      }
    }
  }
}

TEST_P(EachPath, WholePicturesOfOddAndEvenWidths) {
  const struct {
    int32_t width, height;
  } cases[] = {// Row fills of 0 to 3 bytes, around one vector chunk and beyond.
               {1, 1},   {2, 5},   {3, 2},   {4, -4},  {5, 3},    {7, -4},  {13, 5},
               {14, 2},  {15, 4},  {16, 3},  {17, -3}, {31, 2},   {33, 5},  {34, -3},
               {47, -2}, {641, 3}, {640, 2}, {642, 2}, {3839, 2}, {3840, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
    MorvellaneBuilder b(c.width, c.height);
    for (uint32_t row = 0; row < b.rows(); ++row)
      for (uint32_t x = 0; x < b.width(); ++x) b.pixel(x, row, mixed(row * 7919 + x));
    const std::vector<uint8_t> file = b.build();
    const mrvln::ByteView image{file.data(), static_cast<uint32_t>(file.size())};
    mrvln::DecodePlan plan;
    ASSERT_EQ(mrvln::plan_decode(image, &plan), mrvln::RESULT_SUCCESS);
    std::vector<uint8_t> block(plan.pixel_block_size, 0x00);
    ASSERT_EQ(mrvln::decode_pixels(image, plan, block.data(), plan.pixel_block_size, GetParam()),
              mrvln::RESULT_SUCCESS);
    EXPECT_TRUE(block == fixtures::expected_pixel_block(b));
  }
}

TEST(Dispatch, PicksThePathExpectedOfThisProcessor) {
  // Set by the runs on emulated processor models, which know the answer.
  const char* expected = getenv("MRVLN_EXPECTED_PATH");
  if (expected == nullptr) GTEST_SKIP() << "no expected path given";
  EXPECT_STREQ(mrvln::convert_path_name(mrvln::best_convert_path()), expected);
}

std::string path_name(const ::testing::TestParamInfo<ConvertPath>& info) {
  return mrvln::convert_path_name(info.param);
}

std::string path_and_format_name(
    const ::testing::TestParamInfo<std::tuple<ConvertPath, PixelFormat>>& info) {
  static const char* const kFormats[] = {"bgr24", "rgb24", "bgrx32", "rgbx32"};
  return std::string(mrvln::convert_path_name(std::get<0>(info.param))) + "_" +
         kFormats[std::get<1>(info.param)];
}

// Every path of every build; each build skips the ones it lacks.
const ConvertPath kPaths[] = {mrvln::CONVERT_PLAIN, mrvln::CONVERT_SSE2, mrvln::CONVERT_SSSE3,
                              mrvln::CONVERT_SIMD128};

INSTANTIATE_TEST_SUITE_P(
    Paths, EachPathAndFormat,
    ::testing::Combine(::testing::ValuesIn(kPaths),
                       ::testing::Values(mrvln::PIXEL_BGR24, mrvln::PIXEL_RGB24,
                                         mrvln::PIXEL_BGRX32, mrvln::PIXEL_RGBX32)),
    path_and_format_name);

INSTANTIATE_TEST_SUITE_P(Paths, EachPath, ::testing::ValuesIn(kPaths), path_name);

}  // namespace
