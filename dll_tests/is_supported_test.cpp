// IsSupported through the DLL: from memory against a no-access page, and
// from handles the test opened.
#include <vector>

#include "fixtures/morvellane_builder.h"
#include "gtest/gtest.h"
#include "win_test_support/win_test_support.h"

using fixtures::Defect;
using fixtures::MorvellaneBuilder;
using wintest::handle_value;
using wintest::open_for_reading;
using wintest::plugin;

namespace {

std::vector<uint8_t> first(std::vector<uint8_t> bytes, size_t n) {
  bytes.resize(n);
  return bytes;
}

TEST(IsSupported, FromMemoryReadsOnly38Bytes) {
  const struct {
    Defect defect;
    int32_t expected;
  } cases[] = {
      {Defect::kNone, 1},
      {Defect::kWrongType, 0},
      {Defect::kWrongPixelOffset, 0},
      {Defect::kWrongInfoSize, 0},
      {Defect::kWrongPlanes, 0},
      {Defect::kWrongBitCount, 0},
      {Defect::kWrongCompression, 0},
      {Defect::kStoredSizeImage, 0},
      {Defect::kZeroSizeImage, 0},
  };
  for (const auto& c : cases) {
    // Only the first 38 bytes exist; byte 38 is on a no-access page.
    wintest::GuardedBytes header(first(MorvellaneBuilder(2, 2).defect(c.defect).build(), 38));
    ASSERT_TRUE(header.guard_active());
    EXPECT_EQ(plugin().IsSupported(nullptr, header.address()), c.expected)
        << static_cast<int>(c.defect);
  }
}

TEST(IsSupported, WrappedProductAccepted) {
  MorvellaneBuilder b(1, 1);
  b.header().biWidth = 0x10000;
  b.header().biHeight = 0x10000;
  b.header().biSizeImage = 0;
  wintest::GuardedBytes header(first(b.build(), 38));
  EXPECT_EQ(plugin().IsSupported(nullptr, header.address()), 1);
}

TEST(IsSupported, FileNameIsNeverRead) {
  wintest::GuardedBytes header(first(MorvellaneBuilder(3, 3).build(), 38));
  // An address that faults if touched.
  EXPECT_EQ(plugin().IsSupported(reinterpret_cast<const char*>(8), header.address()), 1);
}

TEST(IsSupported, ValueAtOrAbove0x10000IsAnAddress) {
  void* low = VirtualAlloc(reinterpret_cast<void*>(0x10000), 4096, MEM_RESERVE | MEM_COMMIT,
                           PAGE_READWRITE);
  ASSERT_EQ(low, reinterpret_cast<void*>(0x10000)) << "cannot place bytes at 0x10000";
  const std::vector<uint8_t> bytes = MorvellaneBuilder(4, 4).build();
  memcpy(low, bytes.data(), 38);
  EXPECT_EQ(plugin().IsSupported(nullptr, 0x10000), 1);
  VirtualFree(low, 0, MEM_RELEASE);
}

TEST(IsSupported, ValueBelow0x10000IsAHandle) {
  // Nothing is mapped at 0xFFFF: reading there as an address would fault.
  // As a handle it is not a valid one, so the read fails and the answer is 0.
  EXPECT_EQ(plugin().IsSupported(nullptr, 0xFFFF), 0);
  EXPECT_EQ(plugin().IsSupported(nullptr, 0), 0);
}

TEST(IsSupported, HandleReadFromCurrentPositionAndLeftThere) {
  std::vector<uint8_t> bytes(100, 0x42);
  const std::vector<uint8_t> picture = MorvellaneBuilder(5, 2).build();
  bytes.insert(bytes.end(), picture.begin(), picture.end());
  wintest::TempFile file(bytes);
  HANDLE h = open_for_reading(file.path());
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_LT(handle_value(h), 0x10000u);

  EXPECT_EQ(plugin().IsSupported(nullptr, handle_value(h)), 0);  // position 0: not a header
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 54u);

  SetFilePointer(h, 100, nullptr, FILE_BEGIN);
  EXPECT_EQ(plugin().IsSupported(nullptr, handle_value(h)), 1);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 154u);
  // The handle is still the caller's and still open.
  EXPECT_TRUE(CloseHandle(h));
}

TEST(IsSupported, ShortFilesDecideByWhatWasRead) {
  const std::vector<uint8_t> valid = MorvellaneBuilder(2, 2).build();
  const struct {
    std::vector<uint8_t> bytes;
    const char* suffix;
    int32_t expected;
  } cases[] = {
      {first(valid, 38), ".bmp", 1},
      {first(valid, 37), ".bmp", 0},
      {first(valid, 0), ".bmp", 0},
      {first(MorvellaneBuilder(2, 2).defect(Defect::kWrongPlanes).build(), 38), ".bmp", 0},
      {valid, ".txt", 1},
  };
  for (const auto& c : cases) {
    wintest::TempFile file(c.bytes, c.suffix);
    HANDLE h = open_for_reading(file.path());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(plugin().IsSupported(file.path(), handle_value(h)), c.expected)
        << c.bytes.size() << " bytes, " << c.suffix;
    CloseHandle(h);
  }
}

TEST(IsSupported, FailedReadRefuses) {
  wintest::TempFile file(MorvellaneBuilder(2, 2).build());
  HANDLE h = CreateFileA(file.path(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(plugin().IsSupported(nullptr, handle_value(h)), 0);
  CloseHandle(h);
}

}  // namespace
