// GetPictureInfo through the DLL, by file name and from memory.
#include <string.h>

#include <vector>

#include "tests/fixtures/morvellane_builder.h"
#include "gtest/gtest.h"
#include "tests/support/win_test_support.h"

using fixtures::MorvellaneBuilder;
using wintest::plugin;

namespace {

PictureInfoRecord untouched() {
  PictureInfoRecord r;
  memset(&r, 0xAB, sizeof r);
  return r;
}

bool is_untouched(const PictureInfoRecord& r) {
  const PictureInfoRecord u = untouched();
  return memcmp(&r, &u, sizeof r) == 0;
}

void expect_record(const PictureInfoRecord& r, int32_t width, int32_t height) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&r);
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + sizeof r),
            fixtures::expected_picture_info(width, height))
      << width << " x " << height;
}

std::vector<uint8_t> header_of(int32_t width, int32_t height, uint16_t bit_count = 16) {
  MorvellaneBuilder b(1, 1);
  b.header().biWidth = width;
  b.header().biHeight = height;
  b.header().biBitCount = bit_count;
  return b.build();
}

TEST(GetPictureInfo, FromMemoryReadsOnly26Bytes) {
  const struct {
    int32_t width, height;
    uint16_t bit_count;
    uint32_t flags;
    int32_t data_length;
  } cases[] = {
      {640, 480, 16, 1, 0}, {640, 480, 16, 0x11, -5},  {7, -9, 16, 1, 26},
      {1, 1, 24, 1, 1000},  {0, 0, 16, 0xFFFFFFF9, 3}, {INT32_MIN, -1, 16, 1, INT32_MAX},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = header_of(c.width, c.height, c.bit_count);
    bytes.resize(26);
    wintest::GuardedBytes guarded(bytes);
    PictureInfoRecord r = untouched();
    ASSERT_EQ(plugin().GetPictureInfo(guarded.source(), c.data_length, c.flags, &r), 0);
    expect_record(r, c.width, c.height);
  }
}

TEST(GetPictureInfo, FromFile) {
  wintest::TempFile file(fixtures::colour_chart(640, 480).build());
  for (uint32_t flags : {0x0u, 0x10u, 0xFFFFFFF8u}) {
    PictureInfoRecord r = untouched();
    ASSERT_EQ(plugin().GetPictureInfo(file.path(), 12345, flags, &r), 0) << flags;
    expect_record(r, 640, 480);
    EXPECT_TRUE(file.openable_exclusively());
  }
  wintest::TempFile text(header_of(33, -44), ".txt");
  PictureInfoRecord r = untouched();
  ASSERT_EQ(plugin().GetPictureInfo(text.path(), 0, 0, &r), 0);
  expect_record(r, 33, -44);
}

TEST(GetPictureInfo, RefusalsLeaveRecordUntouched) {
  std::vector<uint8_t> short_file = header_of(4, 4);
  short_file.resize(25);
  wintest::TempFile short_one(short_file);
  std::vector<uint8_t> just_enough = header_of(4, 4);
  just_enough.resize(26);
  wintest::TempFile enough(just_enough);

  const struct {
    const char* source;
    uint32_t flags;
    int32_t expected;
  } cases[] = {
      {"C:\\no\\such\\picture.bmp", 0, 6}, {short_one.path(), 0, 3},  {short_one.path(), 2, -1},
      {short_one.path(), 3, -1},           {short_one.path(), 4, -1}, {short_one.path(), 5, -1},
      {short_one.path(), 6, -1},           {short_one.path(), 7, -1}, {nullptr, 0x17, -1},
  };
  for (const auto& c : cases) {
    PictureInfoRecord r = untouched();
    EXPECT_EQ(plugin().GetPictureInfo(c.source, 0, c.flags, &r), c.expected) << c.flags;
    EXPECT_TRUE(is_untouched(r)) << c.flags;
  }
  EXPECT_TRUE(short_one.openable_exclusively());
  PictureInfoRecord r = untouched();
  EXPECT_EQ(plugin().GetPictureInfo(enough.path(), 0, 0, &r), 0);
  expect_record(r, 4, 4);
}

}  // namespace
