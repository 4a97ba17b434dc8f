// Makes every platform call of ifMrvln.spi that can fail fail in turn, through
// the DLL's own import table, and checks that each failure is reported with
// its code and leaves nothing behind: no block, no open file, empty slots.
#include <stdio.h>

#include <string>
#include <vector>

#include "codec/result.h"
#include "faulty_kernel.h"
#include "gtest/gtest.h"
#include "import_patch.h"
#include "tests/fixtures/morvellane_builder.h"
#include "tests/fixtures/reference_decode.h"
#include "tests/support/win_test_support.h"

using faults::Call;
using faults::Fault;
using faults::FaultyKernel;
using wintest::plugin;

namespace {

// The ways a host reaches the platform calls.
enum class Entry {
  kPictureFile,
  kPictureMemory,
  kInfoFile,
  kInfoMemory,
  kSupportedHandle,
  kSupportedMemory,
};

// The answer a call must give when `call` fails with `fault`.
int32_t expected_refusal(Entry e, Call call, Fault fault) {
  switch (e) {
    case Entry::kPictureFile:
    case Entry::kPictureMemory:
      switch (call) {
        case Call::kCreateFileA:
        case Call::kReadFile:  // failed or short: the image would be incomplete
          return mrvln::RESULT_FILE_ERROR;
        case Call::kGetFileSize:  // unknown or 4 GiB or more: no block can hold it
        case Call::kLocalAlloc:
          return mrvln::RESULT_OUT_OF_MEMORY;
        case Call::kLocalLock:
          return mrvln::RESULT_MEMORY_ERROR;
        default:
          return -100;
      }
    case Entry::kInfoFile:
      if (call == Call::kCreateFileA) return mrvln::RESULT_FILE_ERROR;
      // A third of 54 bytes does not reach the end of the size fields.
      if (call == Call::kReadFile)
        return fault == Fault::kShortRead ? mrvln::RESULT_BROKEN_DATA : mrvln::RESULT_FILE_ERROR;
      return -100;
    case Entry::kSupportedHandle:
      return 0;  // a refusal, for a failed read as for a short one
    default:
      return -100;
  }
}

struct Outcome {
  int32_t result = -99;
  HLOCAL info = nullptr;
  HLOCAL bits = nullptr;
  PictureInfoRecord record = {};
};

// One picture, offered in every way at once.
struct Subject {
  std::vector<uint8_t> bytes;
  wintest::TempFile file;
  wintest::GuardedBytes memory;
  explicit Subject(const std::vector<uint8_t>& b) : bytes(b), file(b), memory(b) {}

  Outcome run(Entry e) const {
    Outcome o;
    const int32_t length = static_cast<int32_t>(bytes.size());
    // Slots the DLL must overwrite whatever happens.
    o.info = reinterpret_cast<HLOCAL>(1);
    o.bits = reinterpret_cast<HLOCAL>(1);
    switch (e) {
      case Entry::kPictureFile:
        o.result =
            plugin().GetPicture(file.path(), 0, SOURCE_FILE, &o.info, &o.bits, nullptr, nullptr);
        break;
      case Entry::kPictureMemory:
        o.result = plugin().GetPicture(memory.source(), length, SOURCE_MEMORY, &o.info, &o.bits,
                                       nullptr, nullptr);
        break;
      case Entry::kInfoFile:
        o.result = plugin().GetPictureInfo(file.path(), 0, SOURCE_FILE, &o.record);
        break;
      case Entry::kInfoMemory:
        o.result = plugin().GetPictureInfo(memory.source(), length, SOURCE_MEMORY, &o.record);
        break;
      case Entry::kSupportedHandle: {
        // The host opens the file; the DLL only reads from it.
        const HANDLE h = wintest::open_for_reading(file.path());
        o.result = plugin().IsSupported(file.path(), wintest::handle_value(h));
        CloseHandle(h);
        break;
      }
      case Entry::kSupportedMemory:
        o.result = plugin().IsSupported(nullptr, memory.address());
        break;
    }
    if (e != Entry::kPictureFile && e != Entry::kPictureMemory) o.info = o.bits = nullptr;
    return o;
  }
};

std::vector<uint8_t> block_bytes(HLOCAL block) {
  std::vector<uint8_t> out;
  const uint8_t* p = static_cast<const uint8_t*>(LocalLock(block));
  if (p != nullptr) out.assign(p, p + LocalSize(block));
  LocalUnlock(block);
  return out;
}

// The undisturbed answer: exactly what the picture holds, and for GetPicture
// exactly two unlocked blocks left with the caller.
void expect_success(Entry e, const Subject& s, const Outcome& o, FaultyKernel& kernel) {
  const fixtures::ReferencePicture want = fixtures::reference_decode(s.bytes);
  switch (e) {
    case Entry::kPictureFile:
    case Entry::kPictureMemory:
      ASSERT_EQ(o.result, 0);
      ASSERT_EQ(kernel.live_blocks().size(), 2u);
      EXPECT_EQ(LocalFlags(o.info) & LMEM_LOCKCOUNT, 0u);
      EXPECT_EQ(LocalFlags(o.bits) & LMEM_LOCKCOUNT, 0u);
      EXPECT_EQ(block_bytes(o.info), want.header);
      EXPECT_TRUE(block_bytes(o.bits) == want.pixels);
      LocalFree(o.info);
      LocalFree(o.bits);
      kernel.caller_freed(o.info);
      kernel.caller_freed(o.bits);
      break;
    case Entry::kInfoFile:
    case Entry::kInfoMemory:
      ASSERT_EQ(o.result, 0);
      EXPECT_EQ(static_cast<uint32_t>(o.record.width), fixtures::le32(s.bytes, 18));
      EXPECT_EQ(static_cast<uint32_t>(o.record.height), fixtures::le32(s.bytes, 22));
      EXPECT_EQ(o.record.bit_depth, 24);
      break;
    case Entry::kSupportedHandle:
    case Entry::kSupportedMemory:
      EXPECT_EQ(o.result, 1);
      break;
  }
  EXPECT_TRUE(kernel.live_blocks().empty());
  EXPECT_EQ(kernel.open_files(), 0u);
}

struct Case {
  const char* picture;
  int32_t width, height;
};
// Odd and even widths (row fill of 1 and 0 bytes), bottom-up and top-down.
const Case kCases[] = {{"5x-3", 5, -3}, {"4x2", 4, 2}, {"1x1", 1, 1}};
// Each way of asking, whether it opens the file, and the kinds of fallible
// call it makes, each of which must be failed at least once: proof that the
// stand-ins sit between the DLL and the kernel and that every kind of call
// site was reached. Memory-mode information and tests read the caller's
// bytes only.
const struct EntryCase {
  Entry entry;
  const char* name;
  bool uses_file;
  std::vector<Call> kinds;
} kEntries[] = {
    {Entry::kPictureFile,
     "GetPicture(file)",
     true,
     {Call::kCreateFileA, Call::kGetFileSize, Call::kReadFile, Call::kLocalAlloc,
      Call::kLocalLock}},
    {Entry::kPictureMemory, "GetPicture(memory)", false, {Call::kLocalAlloc, Call::kLocalLock}},
    {Entry::kInfoFile, "GetPictureInfo(file)", true, {Call::kCreateFileA, Call::kReadFile}},
    {Entry::kInfoMemory, "GetPictureInfo(memory)", false, {}},
    {Entry::kSupportedHandle, "IsSupported(handle)", true, {Call::kReadFile}},
    {Entry::kSupportedMemory, "IsSupported(memory)", false, {}},
};

// Every fallible call of a clean run fails in turn, in every way it can:
// each failure gives its result code, empties both slots, frees every block
// and closes the file. Each failure is accounted exactly through the import
// table; the heap as a whole gets the noise allowance.
TEST(FaultInjection, EveryFallibleCallFailsInTurn) {
  const size_t heap_before = wintest::busy_heap_blocks();
  size_t failed[sizeof kEntries / sizeof kEntries[0]][static_cast<int>(Call::kCount)] = {};
  for (const Case& c : kCases) {
    const Subject subject(fixtures::colour_chart(c.width, c.height).build());
    ASSERT_TRUE(subject.memory.guard_active());
    FaultyKernel kernel(plugin().module);
    ASSERT_TRUE(kernel.installed());
    for (const EntryCase& ec : kEntries) {
      const Entry e = ec.entry;
      SCOPED_TRACE(std::string(c.picture) + " " + ec.name);
      kernel.start_recording();
      const Outcome clean = subject.run(e);
      const std::vector<Call> calls = kernel.fallible_calls();
      expect_success(e, subject, clean, kernel);

      for (size_t i = 0; i < calls.size(); ++i) {
        for (Fault fault : faults::faults_of(calls[i])) {
          SCOPED_TRACE(std::string("call ") + std::to_string(i) + " " +
                       faults::call_name(calls[i]) + " " + faults::fault_name(fault));
          kernel.start_recording();
          kernel.fail_at(i, fault);
          const Outcome o = subject.run(e);
          ASSERT_TRUE(kernel.fault_injected());
          ++failed[static_cast<int>(e)][static_cast<int>(calls[i])];
          EXPECT_EQ(o.result, expected_refusal(e, calls[i], fault));
          EXPECT_EQ(o.info, nullptr);
          EXPECT_EQ(o.bits, nullptr);
          EXPECT_TRUE(kernel.live_blocks().empty()) << kernel.live_blocks().size() << " left";
          EXPECT_EQ(kernel.open_files(), 0u);
          EXPECT_TRUE(!ec.uses_file || subject.file.openable_exclusively());
        }
      }
    }
  }
  EXPECT_LE(wintest::busy_heap_blocks(), heap_before + wintest::kHeapNoise);
  printf("faults injected per call:");
  for (int k = 0; k < static_cast<int>(Call::kCount); ++k) {
    size_t n = 0;
    for (const auto& per_entry : failed) n += per_entry[k];
    if (n != 0) printf(" %s %zu", faults::call_name(static_cast<Call>(k)), n);
  }
  printf("\n");
  for (const EntryCase& ec : kEntries)
    for (Call kind : ec.kinds)
      EXPECT_GT(failed[static_cast<int>(ec.entry)][static_cast<int>(kind)], 0u)
          << ec.name << " never made " << faults::call_name(kind) << " fail";
}

// A picture without rows has an empty pixel block, which locks to null on
// some heaps: a failed lock of it is no error, as nothing is written through
// it. Each lock failed in turn either refuses cleanly (the header's) or
// succeeds with an empty pixel block (the pixel block's), once.
TEST(FaultInjection, FailedLockOfAnEmptyPixelBlock) {
  const Subject subject(fixtures::MorvellaneBuilder(3, 0).build());
  FaultyKernel kernel(plugin().module);
  ASSERT_TRUE(kernel.installed());
  kernel.start_recording();
  expect_success(Entry::kPictureMemory, subject, subject.run(Entry::kPictureMemory), kernel);
  const std::vector<Call> calls = kernel.fallible_calls();
  size_t succeeded = 0;
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i] != Call::kLocalLock) continue;
    SCOPED_TRACE("call " + std::to_string(i));
    kernel.start_recording();
    kernel.fail_at(i, Fault::kFail);
    const Outcome o = subject.run(Entry::kPictureMemory);
    ASSERT_TRUE(kernel.fault_injected());
    if (o.result == mrvln::RESULT_SUCCESS) {
      ++succeeded;
      expect_success(Entry::kPictureMemory, subject, o, kernel);
    } else {
      EXPECT_EQ(o.result, mrvln::RESULT_MEMORY_ERROR);
      EXPECT_TRUE(o.info == nullptr && o.bits == nullptr);
      EXPECT_TRUE(kernel.live_blocks().empty());
    }
  }
  EXPECT_EQ(succeeded, 1u);
}

}  // namespace
