// GetPicture through the DLL: exact output, block ownership, and refusals
// that leave nothing behind.
#include <string.h>

#include <vector>

#include "codec/result.h"
#include "gtest/gtest.h"
#include "tests/fixtures/case_tables.h"
#include "tests/fixtures/morvellane_builder.h"
#include "tests/support/win_test_support.h"

using fixtures::mixed_picture;
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

TEST(GetPicture, WholePicturesExactInBothModes) {
  MorvellaneBuilder every_value(256, 256);
  for (uint32_t v = 0; v < 65536; ++v) every_value.pixel(v & 255, v >> 8, static_cast<uint16_t>(v));
  MorvellaneBuilder masks_moved = mixed_picture(9, 4);  // masks and pixel offset never read
  masks_moved.header().red_mask = 0x1F;
  masks_moved.header().blue_mask = 0xF800;
  masks_moved.header().bfOffBits = 0;
  std::vector<MorvellaneBuilder> cases = {every_value, masks_moved};
  // Row fills of 0 to 3 bytes, both row orders, and no pixel bytes at all.
  const int32_t sizes[][2] = {{1, 1},     {3, 1},   {5, 2}, {2, 3},  {7, 5},  {13, -3},
                              {640, 480}, {641, 2}, {0, 0}, {0, 12}, {12, 0}, {0, -3}};
  for (const auto& size : sizes) cases.push_back(mixed_picture(size[0], size[1]));
  for (const MorvellaneBuilder& b : cases) {
    SCOPED_TRACE(::testing::Message() << b.header().biWidth << " x " << b.header().biHeight);
    expect_decodes(b);
  }
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

// A missing file is a failed CreateFileA, among the faults of
// tests/dll/faults.
TEST(GetPicture, UnsupportedModes) {
  const std::vector<uint8_t> file = MorvellaneBuilder(2, 2).build();
  wintest::GuardedBytes memory(file);
  for (uint32_t flags = 2; flags < 8; ++flags) {
    const wintest::Picture p = take_picture(memory.source(), 74, flags);
    EXPECT_EQ(p.result, -1) << flags;
    EXPECT_EQ(p.info, nullptr);
    EXPECT_EQ(p.bits, nullptr);
  }
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

// A cut at every byte is in the mutation sweep (faults/); here the length
// given is the bound, even when more bytes are readable.
TEST(GetPicture, LengthGivenIsTheBound) {
  const std::vector<uint8_t> full = fixtures::colour_chart(5, 3).build();
  expect_refused(std::vector<uint8_t>(full.begin(), full.end() - 1), mrvln::RESULT_BROKEN_DATA);
  wintest::GuardedBytes memory(full);
  for (int32_t length : {static_cast<int32_t>(full.size()) - 1, -1, INT32_MIN})
    EXPECT_EQ(take_picture(memory.source(), length, SOURCE_MEMORY).result,
              mrvln::RESULT_BROKEN_DATA)
        << length;
}

TEST(GetPicture, HostileSizesRefused) {
  for (const fixtures::HostileSize& c : fixtures::kHostileSizes) {
    SCOPED_TRACE(c.what);
    expect_refused(fixtures::header_declaring(c.width, c.height), c.result);
  }
}

}  // namespace
