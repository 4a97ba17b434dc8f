// Each conversion path, called explicitly, against values written from the
// channel definition: every 16-bit value, every run length around the
// vector chunk size at every alignment, and whole pictures of odd widths.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "codec/convert.h"
#include "codec/morvellane.h"
#include "fixtures/morvellane_builder.h"
#include "gtest/gtest.h"

using fixtures::MorvellaneBuilder;
using mrvln::ConvertPath;

namespace {

class EachPath : public ::testing::TestWithParam<ConvertPath> {
 protected:
  void SetUp() override {
    if (!mrvln::convert_path_supported(GetParam()))
      GTEST_SKIP() << "this processor lacks " << mrvln::convert_path_name(GetParam());
  }
};

// Deterministic, well-mixed pixel values.
uint16_t mixed(uint32_t i) {
  return static_cast<uint16_t>((i * 2654435761u) >> 13);
}

void store_pixel(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

TEST_P(EachPath, EverySixteenBitValue) {
  // One run of all 65,536 values: each value meets one lane position, and
  // neighbouring values differ in every channel.
  std::vector<uint8_t> source(2 * 65536);
  for (uint32_t v = 0; v < 65536; ++v) store_pixel(&source[2 * v], static_cast<uint16_t>(v));
  std::vector<uint8_t> target(3 * 65536, 0x5A);
  mrvln::convert_run(GetParam(), source.data(), target.data(), 65536);
  for (uint32_t v = 0; v < 65536; ++v) {
    const fixtures::Bgr e = fixtures::expected_bgr(static_cast<uint16_t>(v));
    const uint8_t* got = &target[3 * v];
    ASSERT_TRUE(got[0] == e.b && got[1] == e.g && got[2] == e.r) << std::hex << v;
  }
}

TEST_P(EachPath, EveryRunLengthAndAlignment) {
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
        for (uint32_t i = 0; i < count; ++i) store_pixel(&source[from + 2 * i], mixed(i + count));
        std::vector<uint8_t> target(to + 3 * count + 32, canary);
        mrvln::convert_run(GetParam(), source.data() + from, target.data() + to, count);
        for (uint32_t i = 0; i < to; ++i) ASSERT_EQ(target[i], canary) << "before, " << i;
        for (uint32_t i = 0; i < count; ++i) {
          const fixtures::Bgr e = fixtures::expected_bgr(mixed(i + count));
          const uint8_t* got = &target[to + 3 * i];
          ASSERT_TRUE(got[0] == e.b && got[1] == e.g && got[2] == e.r) << "pixel " << i;
        }
        for (uint32_t i = to + 3 * count; i < target.size(); ++i)
          ASSERT_EQ(target[i], canary) << "after, " << i;
      }
    }
  }
}

TEST_P(EachPath, WholePicturesOfOddAndEvenWidths) {
  const struct {
    int32_t width, height;
  } cases[] = {{1, 1},  {3, 2},   {5, 3},   {15, 4},  {16, 3},   {17, -3}, {31, 2},
               {33, 5}, {47, -2}, {641, 3}, {640, 2}, {3839, 2}, {3840, 1}};
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

INSTANTIATE_TEST_SUITE_P(Paths, EachPath,
                         ::testing::Values(mrvln::CONVERT_PLAIN, mrvln::CONVERT_SSE2,
                                           mrvln::CONVERT_SSSE3),
                         path_name);

}  // namespace
