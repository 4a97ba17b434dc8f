// GetPicture through the DLL: exact output, block ownership, and refusals
// that leave nothing behind.
#include <string.h>

#include <vector>

#include "codec/result.h"
#include "tests/fixtures/morvellane_builder.h"
#include "gtest/gtest.h"
#include "tests/support/win_test_support.h"

using fixtures::MorvellaneBuilder;
using wintest::plugin;
using wintest::take_picture;

namespace {

// Decodes `b` from guarded, read-only memory (a write to the caller's bytes
// faults) and from a file; both must match the reference exactly.
void expect_decodes(const MorvellaneBuilder& b) {
  const std::vector<uint8_t> file = b.build();
  const std::vector<uint8_t> pixels = fixtures::expected_pixel_block(b);
  const std::vector<uint8_t> header =
      fixtures::expected_output_header(b.header().biWidth, b.header().biHeight);
  wintest::GuardedBytes memory(file);
  const wintest::Picture m =
      take_picture(memory.source(), static_cast<int32_t>(file.size()), SOURCE_MEMORY);
  ASSERT_EQ(m.result, 0);
  EXPECT_EQ(m.header, header);
  EXPECT_TRUE(m.pixels == pixels) << "memory mode pixels differ";
  wintest::TempFile on_disk(file);
  const wintest::Picture f = take_picture(on_disk.path(), 0, SOURCE_FILE);
  ASSERT_EQ(f.result, 0);
  EXPECT_EQ(f.header, header);
  EXPECT_TRUE(f.pixels == pixels) << "file mode pixels differ";
  EXPECT_TRUE(on_disk.openable_exclusively());
}

TEST(GetPicture, ListedPixelValues) {
  const struct {
    uint16_t pixel;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF}}, {0xF800, {0x00, 0x00, 0xFF, 0xFF}},
      {0x07E0, {0x00, 0xFF, 0x00, 0xFF}}, {0x001F, {0xFF, 0x00, 0x00, 0xFF}},
      {0x8410, {0x83, 0x81, 0x83, 0xFF}}, {0x0821, {0x08, 0x04, 0x08, 0xFF}},
      {0x0000, {0x00, 0x00, 0x00, 0xFF}},
  };
  for (const auto& c : cases) {
    MorvellaneBuilder b(1, 1);
    b.pixel(0, 0, c.pixel);
    const std::vector<uint8_t> file = b.build();
    wintest::GuardedBytes memory(file);
    const wintest::Picture p = take_picture(memory.source(), 68, SOURCE_MEMORY);
    ASSERT_EQ(p.result, 0);
    EXPECT_EQ(p.pixels, c.bytes) << std::hex << c.pixel;
  }
}

TEST(GetPicture, AllValuesAgainstReference) {
  MorvellaneBuilder b(256, 256);
  for (uint32_t v = 0; v < 65536; ++v) b.pixel(v & 255, v >> 8, static_cast<uint16_t>(v));
  expect_decodes(b);
}

TEST(GetPicture, SizesAndStrides) {
  const struct {
    int32_t width, height;
  } cases[] = {{1, 1},     {3, 1},   {5, 2}, {2, 3},  {7, 5},  {13, -3},
               {640, 480}, {641, 2}, {0, 0}, {0, 12}, {12, 0}, {0, -3}};  // empty: no pixel bytes
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
    MorvellaneBuilder b = fixtures::colour_chart(c.width, c.height);
    for (uint32_t row = 0; row < b.rows(); ++row)
      for (uint32_t x = 0; x < b.width(); ++x)
        b.pixel(x, row, static_cast<uint16_t>(b.pixel(x, row) + row * 31 + x * 7));
    expect_decodes(b);
  }
}

TEST(GetPicture, MasksAndPixelOffsetNeverRead) {
  MorvellaneBuilder b = fixtures::colour_chart(9, 4);
  b.header().red_mask = 0x1F;
  b.header().blue_mask = 0xF800;
  b.header().bfOffBits = 0;
  expect_decodes(b);
}

TEST(GetPicture, BlocksAreMoveableUnlockedAndExactlySized) {
  const std::vector<uint8_t> file = fixtures::colour_chart(641, 3).build();
  wintest::GuardedBytes memory(file);
  HLOCAL info = nullptr, bits = nullptr;
  ASSERT_EQ(plugin().GetPicture(memory.source(), static_cast<int32_t>(file.size()), 1, &info, &bits,
                                reinterpret_cast<void*>(0x1), reinterpret_cast<void*>(0x2)),
            0);
  ASSERT_NE(info, nullptr);
  ASSERT_NE(bits, nullptr);
  EXPECT_EQ(LocalSize(info), 40u);
  EXPECT_EQ(LocalSize(bits), 3u * 1924u);
  EXPECT_EQ(LocalFlags(info) & LMEM_LOCKCOUNT, 0u);
  EXPECT_EQ(LocalFlags(bits) & LMEM_LOCKCOUNT, 0u);
  // A moveable block's handle is not its address.
  void* info_address = LocalLock(info);
  void* bits_address = LocalLock(bits);
  EXPECT_NE(info_address, static_cast<void*>(info));
  EXPECT_NE(bits_address, static_cast<void*>(bits));
  LocalUnlock(info);
  LocalUnlock(bits);
  EXPECT_EQ(LocalFree(info), nullptr);
  EXPECT_EQ(LocalFree(bits), nullptr);
}

TEST(GetPicture, UnsupportedModesAndMissingFile) {
  const std::vector<uint8_t> file = MorvellaneBuilder(2, 2).build();
  wintest::GuardedBytes memory(file);
  for (uint32_t flags = 2; flags < 8; ++flags) {
    const wintest::Picture p = take_picture(memory.source(), 74, flags);
    EXPECT_EQ(p.result, -1) << flags;
    EXPECT_EQ(p.info, nullptr);
    EXPECT_EQ(p.bits, nullptr);
  }
  const wintest::Picture missing = take_picture("C:\\no\\such\\picture.bmp", 0, 0x10);
  EXPECT_EQ(missing.result, 6);
  EXPECT_EQ(missing.info, nullptr);
  EXPECT_EQ(missing.bits, nullptr);
}

// `file` offered from guarded memory and as a file: refused with `expected`
// both times, both slots emptied, the file closed again.
void expect_refused(const std::vector<uint8_t>& file, int32_t expected) {
  wintest::GuardedBytes memory(file);
  const wintest::Picture m =
      take_picture(memory.source(), static_cast<int32_t>(file.size()), SOURCE_MEMORY);
  EXPECT_EQ(m.result, expected) << "memory";
  EXPECT_TRUE(m.info == nullptr && m.bits == nullptr) << "memory";
  wintest::TempFile on_disk(file);
  const wintest::Picture f = take_picture(on_disk.path(), 0, SOURCE_FILE);
  EXPECT_EQ(f.result, expected) << "file";
  EXPECT_TRUE(f.info == nullptr && f.bits == nullptr) << "file";
  EXPECT_TRUE(on_disk.openable_exclusively());
}

TEST(GetPicture, EveryTruncationRefused) {
  const std::vector<uint8_t> full = fixtures::colour_chart(5, 3).build();
  for (size_t length = 0; length < full.size(); ++length) {
    SCOPED_TRACE(::testing::Message() << length << " bytes");
    expect_refused(std::vector<uint8_t>(full.begin(), full.begin() + static_cast<long>(length)),
                   mrvln::RESULT_BROKEN_DATA);
  }
  // The length given is the bound, even when more bytes are readable.
  wintest::GuardedBytes memory(full);
  for (int32_t length : {static_cast<int32_t>(full.size()) - 1, -1, INT32_MIN})
    EXPECT_EQ(take_picture(memory.source(), length, SOURCE_MEMORY).result,
              mrvln::RESULT_BROKEN_DATA)
        << length;
}

TEST(GetPicture, HostileSizesRefused) {
  const int32_t kBad = mrvln::RESULT_BROKEN_DATA, kBig = mrvln::RESULT_OUT_OF_MEMORY;
  const struct {
    int32_t width, height;
    int32_t expected;
  } cases[] = {
      {-1, 1, kBad},        {INT32_MIN, 1, kBad},  {1, INT32_MIN, kBad},     {178956970, 1, kBig},
      {INT32_MAX, 1, kBig}, {1000, 1 << 30, kBig}, {0x10000, 0x10000, kBig}, {1, INT32_MAX, kBig},
      {100, 100, kBad},     {100, -100, kBad},     {20000, 20000, kBad}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
    MorvellaneBuilder b(0, 0);
    b.header().biWidth = c.width;
    b.header().biHeight = c.height;
    std::vector<uint8_t> file = b.build();
    file.resize(200, 0x77);
    expect_refused(file, c.expected);
  }
}

}  // namespace
