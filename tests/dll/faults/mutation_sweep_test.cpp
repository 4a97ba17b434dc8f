// Damages small valid files in every byte and at every length and offers each
// result to the DLL, from memory that ends at a no-access page and from a
// file. Every answer must be exactly the one the reference model gives: a
// refusal with both slots empty, or the blocks the bytes really describe.
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "faulty_kernel.h"
#include "gtest/gtest.h"
#include "tests/fixtures/morvellane_builder.h"
#include "tests/fixtures/reference_decode.h"
#include "tests/support/win_test_support.h"

using wintest::plugin;

namespace {

struct Variant {
  std::string what;
  std::vector<uint8_t> bytes;
};

// Each byte inverted, zeroed, set to 0xFF and with each single bit flipped
// (duplicates and no-ops dropped), then every proper prefix.
std::vector<Variant> variants_of(const std::vector<uint8_t>& file) {
  std::vector<Variant> out;
  for (size_t i = 0; i < file.size(); ++i) {
    std::vector<uint8_t> values = {static_cast<uint8_t>(~file[i]), 0x00, 0xFF};
    for (int bit = 0; bit < 8; ++bit) values.push_back(static_cast<uint8_t>(file[i] ^ (1u << bit)));
    for (size_t v = 0; v < values.size(); ++v) {
      bool seen = values[v] == file[i];
      for (size_t u = 0; u < v && !seen; ++u) seen = values[u] == values[v];
      if (seen) continue;
      Variant m{"byte " + std::to_string(i) + " = " + std::to_string(values[v]), file};
      m.bytes[i] = values[v];
      out.push_back(m);
    }
  }
  for (size_t length = 0; length < file.size(); ++length)
    out.push_back(Variant{"cut to " + std::to_string(length),
                          std::vector<uint8_t>(file.begin(), file.begin() + length)});
  return out;
}

// take_picture has freed the blocks it was given: they are no longer the
// DLL's to account for.
void caller_freed(faults::FaultyKernel* kernel, const wintest::Picture& got) {
  if (kernel == nullptr) return;
  if (got.info != nullptr) kernel->caller_freed(got.info);
  if (got.bits != nullptr) kernel->caller_freed(got.bits);
}

// A refusal leaves both slots empty; a success gives the reference blocks.
void expect_reference(const wintest::Picture& got, const fixtures::ReferencePicture& want) {
  ASSERT_EQ(got.result, want.result);
  if (want.result != 0) {
    EXPECT_EQ(got.info, nullptr);
    EXPECT_EQ(got.bits, nullptr);
  } else {
    EXPECT_EQ(got.header, want.header);
    EXPECT_TRUE(got.pixels == want.pixels) << "pixel block differs";
  }
}

// Offers `bytes` through every export that accepts them in memory, from
// guarded memory; the information query and the acceptance test get only
// bytes that meet their caller limits (26 and 38 bytes present).
void check_memory(const std::vector<uint8_t>& bytes, faults::FaultyKernel* kernel) {
  const fixtures::ReferencePicture want = fixtures::reference_decode(bytes);
  wintest::GuardedBytes memory(bytes);
  ASSERT_TRUE(memory.guard_active());
  const wintest::Picture got =
      wintest::take_picture(memory.source(), static_cast<int32_t>(bytes.size()), SOURCE_MEMORY);
  caller_freed(kernel, got);
  expect_reference(got, want);
  if (::testing::Test::HasFatalFailure()) return;
  if (bytes.size() >= 26) {
    PictureInfoRecord record = {};
    ASSERT_EQ(plugin().GetPictureInfo(memory.source(), static_cast<int32_t>(bytes.size()),
                                      SOURCE_MEMORY, &record),
              0);
    EXPECT_EQ(static_cast<uint32_t>(record.width), fixtures::le32(bytes, 18));
    EXPECT_EQ(static_cast<uint32_t>(record.height), fixtures::le32(bytes, 22));
  }
  if (bytes.size() >= 38) {
    EXPECT_EQ(plugin().IsSupported(nullptr, memory.address()),
              fixtures::reference_is_morvellane(bytes) ? 1 : 0);
  }
}

// The same bytes as a named file: GetPicture, GetPictureInfo, and IsSupported
// with a handle; afterwards nothing may hold the file open.
void check_file(const std::vector<uint8_t>& bytes, faults::FaultyKernel* kernel) {
  const fixtures::ReferencePicture want = fixtures::reference_decode(bytes);
  wintest::TempFile file(bytes);
  const wintest::Picture got = wintest::take_picture(file.path(), 0, SOURCE_FILE);
  caller_freed(kernel, got);
  expect_reference(got, want);
  if (::testing::Test::HasFatalFailure()) return;
  PictureInfoRecord record = {};
  const int32_t info = plugin().GetPictureInfo(file.path(), 0, SOURCE_FILE, &record);
  if (bytes.size() < 26) {
    EXPECT_EQ(info, 3);
  } else {
    ASSERT_EQ(info, 0);
    EXPECT_EQ(static_cast<uint32_t>(record.width), fixtures::le32(bytes, 18));
    EXPECT_EQ(static_cast<uint32_t>(record.height), fixtures::le32(bytes, 22));
  }
  const HANDLE h = wintest::open_for_reading(file.path());
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(plugin().IsSupported(file.path(), wintest::handle_value(h)),
            fixtures::reference_is_morvellane(bytes) ? 1 : 0);
  CloseHandle(h);
  EXPECT_TRUE(file.openable_exclusively());
}

// File mode costs a file per variant under emulation; MRVLN_SWEEP_FILE_EVERY
// (default 1: all of them) takes every n-th variant only.
size_t file_stride() {
  const char* v = getenv("MRVLN_SWEEP_FILE_EVERY");
  const long n = v != nullptr ? strtol(v, nullptr, 10) : 1;
  return n > 0 ? static_cast<size_t>(n) : 1;
}

struct Subject {
  const char* name;
  int32_t width, height;
};
// Row fills of 3, 0, 2 and 1 bytes; bottom-up and top-down; and a row of 17
// pixels, so that a vector conversion of 16 runs up to the no-access page.
const Subject kSubjects[] = {
    {"1x2", 1, 2}, {"4x-2", 4, -2}, {"2x1", 2, 1}, {"3x-1", 3, -1}, {"17x1", 17, 1}};

class MutationSweep : public testing::TestWithParam<Subject> {};

TEST_P(MutationSweep, EveryAnswerIsARefusalOrTheTruth) {
  const std::vector<uint8_t> file =
      fixtures::colour_chart(GetParam().width, GetParam().height).build();
  const std::vector<Variant> variants = variants_of(file);
  const size_t stride = file_stride();
  // The intact file first: it must decode.
  ASSERT_EQ(fixtures::reference_decode(file).result, 0);
  check_memory(file, nullptr);
  check_file(file, nullptr);

  // Every block the DLL allocates and every file it opens is accounted for
  // through its import table, so each variant is checked for leaks exactly.
  faults::FaultyKernel kernel(plugin().module);
  ASSERT_TRUE(kernel.installed());
  size_t heap_before = 0;
  size_t refused = 0, files = 0;
  for (size_t i = 0; i < variants.size(); ++i) {
    const Variant& v = variants[i];
    SCOPED_TRACE(std::string(GetParam().name) + ", " + v.what);
    kernel.start_recording();
    if (fixtures::reference_decode(v.bytes).result != 0) ++refused;
    check_memory(v.bytes, &kernel);
    if (i % stride == 0) {
      check_file(v.bytes, &kernel);
      ++files;
    }
    if (HasFatalFailure()) return;
    EXPECT_TRUE(kernel.live_blocks().empty());
    EXPECT_EQ(kernel.open_files(), 0u);
    // The process heap as a whole, from the end of the first variant on
    // (the test framework keeps some bookkeeping of its own from then).
    if (i == 0) heap_before = wintest::busy_heap_blocks();
  }
  // Each variant is checked exactly through the import table; the heap as a
  // whole gets the noise allowance. A block lost per variant would be hundreds.
  EXPECT_LE(wintest::busy_heap_blocks(), heap_before + wintest::kHeapNoise);
  printf("%s: %zu bytes, %zu variants in memory (%zu refused), %zu as files\n", GetParam().name,
         file.size(), variants.size(), refused, files);
}

INSTANTIATE_TEST_SUITE_P(SmallPictures, MutationSweep, testing::ValuesIn(kSubjects),
                         [](const testing::TestParamInfo<Subject>& param) {
                           std::string n = param.param.name;
                           for (char& c : n)
                             if (c == '-') c = 'm';
                           return n;
                         });

}  // namespace
