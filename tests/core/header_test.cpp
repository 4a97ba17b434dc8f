// The acceptance test on plain buffers; the picture information record is
// the DLL's (tests/dll, fuzz_info).
#include <vector>

#include "codec/morvellane.h"
#include "gtest/gtest.h"
#include "tests/fixtures/case_tables.h"
#include "tests/fixtures/morvellane_builder.h"

using fixtures::Defect;
using fixtures::MorvellaneBuilder;

namespace {

// Copies exactly `length` bytes into a buffer of that size, so that ASan
// reports any read past it.
bool accepts_first(const std::vector<uint8_t>& file, size_t length) {
  std::vector<uint8_t> exact(file.begin(), file.begin() + static_cast<long>(length));
  return mrvln::is_morvellane(mrvln::ByteView{exact.data(), static_cast<uint32_t>(length)});
}

bool accepts(const std::vector<uint8_t>& file) {
  return accepts_first(file, file.size());
}

class AcceptanceDefects : public ::testing::TestWithParam<fixtures::AcceptanceCase> {};

TEST_P(AcceptanceDefects, EachConditionDecidesAlone) {
  const fixtures::AcceptanceCase& c = GetParam();
  EXPECT_EQ(accepts(MorvellaneBuilder(2, 2).defect(c.defect).build()), c.accepted);
  EXPECT_EQ(accepts(MorvellaneBuilder(5, 3).defect(c.defect).build()), c.accepted);
}

INSTANTIATE_TEST_SUITE_P(Header, AcceptanceDefects, ::testing::ValuesIn(fixtures::kAcceptanceCases),
                         [](const ::testing::TestParamInfo<fixtures::AcceptanceCase>& p) {
                           return p.param.name;
                         });

TEST(Acceptance, SizeImageMarker) {
  struct Case {
    int32_t width, height;
    uint32_t size_image;
    bool accepted;
  } cases[] = {
      {2, 2, 12, true},
      {2, 2, 8, false},
      {2, 2, 0, false},
      {1, 1, 3, true},
      {1, 1, 4, false},
      {3, 1, 9, true},
      {0, 7, 0, true},
      {7, 0, 0, true},
      // The product wraps in 32 bits: 0x10000 * 3 * 0x10000 is 0.
      {0x10000, 0x10000, 0, true},
      {0x10000, 0x10000, 0x30000, false},
      // Signs are not examined, only the 32-bit product.
      {-2, 2, static_cast<uint32_t>(-12), true},
      {4, -3, static_cast<uint32_t>(-36), true},
  };
  for (const Case& c : cases) {
    MorvellaneBuilder b(1, 1);
    b.header().biWidth = c.width;
    b.header().biHeight = c.height;
    b.header().biSizeImage = c.size_image;
    EXPECT_EQ(accepts_first(b.build(), 38), c.accepted)
        << c.width << " x " << c.height << " size " << c.size_image;
  }
}

TEST(Acceptance, DecidesOnTheFirst38BytesOnly) {
  const std::vector<uint8_t> file = MorvellaneBuilder(2, 2).build();
  EXPECT_TRUE(accepts_first(file, 38));
  for (size_t length = 0; length < 38; ++length)
    EXPECT_FALSE(accepts_first(file, length)) << length;

  // Bytes from 38 on never matter, whatever they hold.
  std::vector<uint8_t> scribbled = file;
  for (size_t i = 38; i < scribbled.size(); ++i) scribbled[i] = static_cast<uint8_t>(~scribbled[i]);
  EXPECT_TRUE(accepts(scribbled));
}

TEST(Acceptance, FieldsNotExaminedDoNotMatter) {
  MorvellaneBuilder b(3, 2);
  b.header().bfSize = 0xDEADBEEF;
  b.header().bfReserved1 = 0x1234;
  b.header().bfReserved2 = 0xFFFF;
  b.header().biXPelsPerMeter = -1;
  b.header().biClrUsed = 99;
  b.header().red_mask = 0;
  EXPECT_TRUE(accepts(b.build()));
}

}  // namespace
