// IsSupported through the DLL: from memory against a no-access page, and
// from handles the test opened.
#include <vector>

#include "gtest/gtest.h"
#include "tests/fixtures/case_tables.h"
#include "tests/fixtures/morvellane_builder.h"
#include "tests/support/win_test_support.h"

using fixtures::Defect;
using fixtures::first_bytes;
using fixtures::MorvellaneBuilder;
using wintest::handle_value;
using wintest::open_for_reading;
using wintest::plugin;

namespace {

// Only the first 38 bytes exist, byte 38 is on a no-access page, and the
// file name is an address that faults if touched.
int32_t supported_from_38_bytes(const std::vector<uint8_t>& file) {
  wintest::GuardedBytes header(first_bytes(file, 38));
  EXPECT_TRUE(header.guard_active());
  return plugin().IsSupported(reinterpret_cast<const char*>(8), header.address());
}

TEST(IsSupported, FromMemoryReadsOnly38BytesAndNoName) {
  for (const fixtures::AcceptanceCase& c : fixtures::kAcceptanceCases)
    EXPECT_EQ(supported_from_38_bytes(MorvellaneBuilder(2, 2).defect(c.defect).build()),
              c.accepted ? 1 : 0)
        << c.name;
  MorvellaneBuilder wrapped(1, 1);  // W * 3 * H wraps to 0 in 32 bits
  wrapped.header().biWidth = 0x10000;
  wrapped.header().biHeight = 0x10000;
  wrapped.header().biSizeImage = 0;
  EXPECT_EQ(supported_from_38_bytes(wrapped.build()), 1);
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
      {first_bytes(valid, 38), ".bmp", 1},
      {first_bytes(valid, 37), ".bmp", 0},
      {first_bytes(valid, 0), ".bmp", 0},
      {first_bytes(MorvellaneBuilder(2, 2).defect(Defect::kWrongPlanes).build(), 38), ".bmp", 0},
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

}  // namespace
