// GetPicture through the DLL: exact output, block ownership, and refusals
// that leave nothing behind.
#include <windows.h>
// psapi.h needs the types of windows.h.
#include <psapi.h>
#include <string.h>

#include <vector>

#include "fixtures/morvellane_builder.h"
#include "gtest/gtest.h"
#include "plugin_under_test.h"

using dlltest::plugin;
using dlltest::take_picture;
using fixtures::MorvellaneBuilder;

namespace {

std::vector<uint8_t> reference_header(int32_t width, int32_t height) {
  std::vector<uint8_t> h(40, 0);
  const uint32_t w = static_cast<uint32_t>(width), v = static_cast<uint32_t>(height);
  const uint8_t fields[16] = {40,
                              0,
                              0,
                              0,
                              static_cast<uint8_t>(w),
                              static_cast<uint8_t>(w >> 8),
                              static_cast<uint8_t>(w >> 16),
                              static_cast<uint8_t>(w >> 24),
                              static_cast<uint8_t>(v),
                              static_cast<uint8_t>(v >> 8),
                              static_cast<uint8_t>(v >> 16),
                              static_cast<uint8_t>(v >> 24),
                              1,
                              0,
                              24,
                              0};
  memcpy(h.data(), fields, sizeof fields);
  return h;
}

// Decodes `b` from guarded memory and from a file; both must match the
// reference exactly.
void expect_decodes(const MorvellaneBuilder& b) {
  const std::vector<uint8_t> file = b.build();
  const std::vector<uint8_t> pixels = fixtures::expected_pixel_block(b);
  const std::vector<uint8_t> header = reference_header(b.header().biWidth, b.header().biHeight);
  dlltest::GuardedBytes memory(file);
  const dlltest::Picture m =
      take_picture(memory.source(), static_cast<int32_t>(file.size()), SOURCE_MEMORY);
  ASSERT_EQ(m.result, 0);
  EXPECT_EQ(m.header, header);
  EXPECT_TRUE(m.pixels == pixels) << "memory mode pixels differ";
  dlltest::TempFile on_disk(file);
  const dlltest::Picture f = take_picture(on_disk.path(), 0, SOURCE_FILE);
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
    dlltest::GuardedBytes memory(file);
    const dlltest::Picture p = take_picture(memory.source(), 68, SOURCE_MEMORY);
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
  } cases[] = {{1, 1}, {3, 1}, {5, 2}, {2, 3}, {7, 5}, {13, -3}, {640, 480}, {641, 2}};
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

TEST(GetPicture, EmptyPictures) {
  for (const auto& dims : {std::pair<int, int>{0, 0}, {0, 12}, {12, 0}, {0, -3}}) {
    const std::vector<uint8_t> file = MorvellaneBuilder(dims.first, dims.second).build();
    dlltest::GuardedBytes memory(file);
    const dlltest::Picture p = take_picture(memory.source(), 66, SOURCE_MEMORY);
    ASSERT_EQ(p.result, 0) << dims.first << " x " << dims.second;
    EXPECT_EQ(p.header, reference_header(dims.first, dims.second));
    EXPECT_TRUE(p.pixels.empty());
  }
}

TEST(GetPicture, BlocksAreMoveableUnlockedAndExactlySized) {
  const std::vector<uint8_t> file = fixtures::colour_chart(641, 3).build();
  dlltest::GuardedBytes memory(file);
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
  dlltest::GuardedBytes memory(file);
  for (uint32_t flags = 2; flags < 8; ++flags) {
    const dlltest::Picture p = take_picture(memory.source(), 74, flags);
    EXPECT_EQ(p.result, -1) << flags;
    EXPECT_EQ(p.info, nullptr);
    EXPECT_EQ(p.bits, nullptr);
  }
  const dlltest::Picture missing = take_picture("C:\\no\\such\\picture.bmp", 0, 0x10);
  EXPECT_EQ(missing.result, 6);
  EXPECT_EQ(missing.info, nullptr);
  EXPECT_EQ(missing.bits, nullptr);
}

TEST(GetPicture, EveryTruncationRefusedInBothModes) {
  const std::vector<uint8_t> full = fixtures::colour_chart(5, 3).build();
  for (size_t length = 0; length < full.size(); ++length) {
    const std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<long>(length));
    dlltest::GuardedBytes memory(cut);
    const dlltest::Picture m =
        take_picture(memory.source(), static_cast<int32_t>(length), SOURCE_MEMORY);
    EXPECT_EQ(m.result, 3) << "memory, " << length << " bytes";
    EXPECT_TRUE(m.info == nullptr && m.bits == nullptr) << length;
    dlltest::TempFile on_disk(cut);
    const dlltest::Picture f = take_picture(on_disk.path(), 0, SOURCE_FILE);
    EXPECT_EQ(f.result, 3) << "file, " << length << " bytes";
    EXPECT_TRUE(f.info == nullptr && f.bits == nullptr) << length;
    EXPECT_TRUE(on_disk.openable_exclusively()) << length;
  }
  // The length given is the bound, even when more bytes are readable.
  dlltest::GuardedBytes memory(full);
  EXPECT_EQ(take_picture(memory.source(), static_cast<int32_t>(full.size()) - 1, 1).result, 3);
  EXPECT_EQ(take_picture(memory.source(), -1, 1).result, 3);
  EXPECT_EQ(take_picture(memory.source(), INT32_MIN, 1).result, 3);
}

TEST(GetPicture, HostileSizesRefused) {
  const struct {
    int32_t width, height;
    int32_t expected;
  } cases[] = {
      {-1, 1, 3},        {INT32_MIN, 1, 3},  {1, INT32_MIN, 3},     {178956970, 1, 4},
      {INT32_MAX, 1, 4}, {1000, 1 << 30, 4}, {0x10000, 0x10000, 4}, {1, INT32_MAX, 4},
      {100, 100, 3},     {100, -100, 3},     {20000, 20000, 3},
  };
  for (const auto& c : cases) {
    MorvellaneBuilder b(0, 0);
    b.header().biWidth = c.width;
    b.header().biHeight = c.height;
    std::vector<uint8_t> file = b.build();
    file.resize(200, 0x77);
    dlltest::GuardedBytes memory(file);
    const dlltest::Picture m = take_picture(memory.source(), 200, SOURCE_MEMORY);
    EXPECT_EQ(m.result, c.expected) << c.width << " x " << c.height;
    EXPECT_TRUE(m.info == nullptr && m.bits == nullptr);
    dlltest::TempFile on_disk(file);
    EXPECT_EQ(take_picture(on_disk.path(), 0, SOURCE_FILE).result, c.expected);
    EXPECT_TRUE(on_disk.openable_exclusively());
  }
}

TEST(GetPicture, CallerBytesUntouched) {
  // GuardedBytes are read-only: a write would fault. Check the content too.
  const std::vector<uint8_t> file = fixtures::colour_chart(17, 5).build();
  dlltest::GuardedBytes memory(file);
  ASSERT_EQ(take_picture(memory.source(), static_cast<int32_t>(file.size()), 1).result, 0);
  EXPECT_EQ(memcmp(memory.data(), file.data(), file.size()), 0);
}

SIZE_T private_bytes() {
  PROCESS_MEMORY_COUNTERS_EX c;
  c.cb = sizeof c;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&c),
                       sizeof c);
  return c.PrivateUsage;
}

TEST(GetPicture, ManyCallsLeaveMemoryFlat) {
  const std::vector<uint8_t> good = fixtures::colour_chart(64, 48).build();
  std::vector<uint8_t> truncated = good;
  truncated.resize(good.size() - 1);
  dlltest::GuardedBytes good_memory(good);
  dlltest::GuardedBytes cut_memory(truncated);
  dlltest::TempFile good_file(good);
  dlltest::TempFile cut_file(truncated);
  const auto round = [&] {
    HLOCAL info, bits;
    const int32_t n = static_cast<int32_t>(good.size());
    bool ok = plugin().GetPicture(good_memory.source(), n, 1, &info, &bits, nullptr, nullptr) == 0;
    LocalFree(info);
    LocalFree(bits);
    ok &= plugin().GetPicture(good_file.path(), 0, 0, &info, &bits, nullptr, nullptr) == 0;
    LocalFree(info);
    LocalFree(bits);
    ok &= plugin().GetPicture(cut_memory.source(), n - 1, 1, &info, &bits, nullptr, nullptr) == 3;
    ok &= plugin().GetPicture(cut_file.path(), 0, 0, &info, &bits, nullptr, nullptr) == 3;
    ok &= plugin().GetPicture("C:\\no\\such.bmp", 0, 0, &info, &bits, nullptr, nullptr) == 6;
    return ok;
  };
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(round());  // warm up the heap
  const size_t blocks_before = dlltest::busy_heap_blocks();
  const SIZE_T private_before = private_bytes();
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(round()) << i;
  EXPECT_EQ(dlltest::busy_heap_blocks(), blocks_before);
  // 5000 calls that each leaked even one 40-byte block would add 200 KB.
  EXPECT_LT(private_bytes(), private_before + 64 * 1024);
}

}  // namespace
