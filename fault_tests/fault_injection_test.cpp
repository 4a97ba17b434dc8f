// Makes every platform call of ifMrvln.spi that can fail fail in turn, through
// the DLL's own import table, and checks that each failure is reported with
// its code and leaves nothing behind: no block, no open file, empty slots.
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dll_tests/plugin_under_test.h"
#include "faulty_kernel.h"
#include "fixtures/morvellane_builder.h"
#include "fixtures/reference_decode.h"
#include "gtest/gtest.h"
#include "import_patch.h"

using dlltest::plugin;
using faults::Call;
using faults::Fault;
using faults::FaultyKernel;

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

const char* entry_name(Entry e) {
  switch (e) {
    case Entry::kPictureFile:
      return "GetPicture(file)";
    case Entry::kPictureMemory:
      return "GetPicture(memory)";
    case Entry::kInfoFile:
      return "GetPictureInfo(file)";
    case Entry::kInfoMemory:
      return "GetPictureInfo(memory)";
    case Entry::kSupportedHandle:
      return "IsSupported(handle)";
    case Entry::kSupportedMemory:
      return "IsSupported(memory)";
  }
  return "?";
}

bool uses_file(Entry e) {
  return e == Entry::kPictureFile || e == Entry::kInfoFile || e == Entry::kSupportedHandle;
}

// The answer a call must give when `call` fails with `fault`.
int32_t expected_refusal(Entry e, Call call, Fault fault) {
  switch (e) {
    case Entry::kPictureFile:
    case Entry::kPictureMemory:
      switch (call) {
        case Call::kCreateFileA:
        case Call::kReadFile:  // failed or short: the image would be incomplete
          return 6;
        case Call::kGetFileSize:  // unknown or 4 GiB or more: no block can hold it
        case Call::kLocalAlloc:
          return 4;
        case Call::kLocalLock:
          return 5;
        default:
          return -100;
      }
    case Entry::kInfoFile:
      if (call == Call::kCreateFileA) return 6;
      // A third of 54 bytes does not reach the end of the size fields.
      if (call == Call::kReadFile) return fault == Fault::kShortRead ? 3 : 6;
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
  dlltest::TempFile file;
  dlltest::GuardedBytes memory;
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
        const HANDLE h = CreateFileA(file.path(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        o.result = plugin().IsSupported(file.path(),
                                        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h)));
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
      EXPECT_EQ(static_cast<uint32_t>(o.record.width), fixtures::reference_le32(s.bytes, 18));
      EXPECT_EQ(static_cast<uint32_t>(o.record.height), fixtures::reference_le32(s.bytes, 22));
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

// The calls each way of asking must make, at the least: proof that the
// stand-ins really sit between the DLL and the kernel.
std::vector<Call> required_calls(Entry e) {
  switch (e) {
    case Entry::kPictureFile:
      return {Call::kCreateFileA, Call::kGetFileSize, Call::kReadFile,  Call::kLocalAlloc,
              Call::kLocalAlloc,  Call::kLocalAlloc,  Call::kLocalLock, Call::kLocalLock};
    case Entry::kPictureMemory:
      return {Call::kLocalAlloc, Call::kLocalAlloc, Call::kLocalLock, Call::kLocalLock};
    case Entry::kInfoFile:
      return {Call::kCreateFileA, Call::kReadFile};
    case Entry::kSupportedHandle:
      return {Call::kReadFile};
    default:
      return {};  // memory-mode information and test read the caller's bytes only
  }
}

struct Case {
  const char* picture;
  int32_t width, height;
};
// Odd and even widths (row fill of 1 and 0 bytes), bottom-up and top-down.
const Case kCases[] = {{"5x-3", 5, -3}, {"4x2", 4, 2}, {"1x1", 1, 1}};
const Entry kEntries[] = {Entry::kPictureFile, Entry::kPictureMemory,   Entry::kInfoFile,
                          Entry::kInfoMemory,  Entry::kSupportedHandle, Entry::kSupportedMemory};

TEST(FaultInjection, ImportTableIsReplaced) {
  FaultyKernel kernel(plugin().module);
  ASSERT_TRUE(kernel.installed());
  // The table now leads to this test's stand-ins, not to KERNEL32.
  EXPECT_NE(
      *faults::find_import_slot(plugin().module, "KERNEL32.dll", "LocalAlloc"),
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "LocalAlloc")));
}

// Wine builds caches of its own in the process heap now and then (up to 3
// blocks seen in a run), so the heap as a whole is compared over all faults
// with a little room; each fault on its own is checked exactly through the
// import table. One block lost per fault would exceed the room many times.
constexpr size_t kHeapNoise = 8;

TEST(FaultInjection, EveryFallibleCallFailsInTurn) {
  const size_t heap_before = dlltest::busy_heap_blocks();
  size_t injected = 0;
  size_t per_call[static_cast<int>(Call::kCount)] = {};
  for (const Case& c : kCases) {
    const Subject subject(fixtures::colour_chart(c.width, c.height).build());
    ASSERT_TRUE(subject.memory.guard_active());
    FaultyKernel kernel(plugin().module);
    ASSERT_TRUE(kernel.installed());
    for (Entry e : kEntries) {
      SCOPED_TRACE(std::string(c.picture) + " " + entry_name(e));
      kernel.start_recording();
      const Outcome clean = subject.run(e);
      const std::vector<Call> calls = kernel.fallible_calls();
      const std::vector<Call> required = required_calls(e);
      for (Call need : required) {
        const size_t expected =
            static_cast<size_t>(std::count(required.begin(), required.end(), need));
        EXPECT_GE(kernel.count(need), expected) << faults::call_name(need);
      }
      expect_success(e, subject, clean, kernel);

      for (size_t i = 0; i < calls.size(); ++i) {
        for (Fault fault : faults::faults_of(calls[i])) {
          SCOPED_TRACE(std::string("call ") + std::to_string(i) + " " +
                       faults::call_name(calls[i]) + " " + faults::fault_name(fault));
          kernel.start_recording();
          kernel.fail_at(i, fault);
          const Outcome o = subject.run(e);
          ASSERT_TRUE(kernel.fault_injected());
          ++injected;
          ++per_call[static_cast<int>(calls[i])];
          EXPECT_EQ(o.result, expected_refusal(e, calls[i], fault));
          EXPECT_EQ(o.info, nullptr);
          EXPECT_EQ(o.bits, nullptr);
          EXPECT_TRUE(kernel.live_blocks().empty()) << kernel.live_blocks().size() << " left";
          EXPECT_EQ(kernel.open_files(), 0u);
          if (uses_file(e)) {
            EXPECT_TRUE(subject.file.openable_exclusively());
          }
        }
      }
    }
  }
  EXPECT_LE(dlltest::busy_heap_blocks(), heap_before + kHeapNoise);
  printf("faults injected: %zu (", injected);
  for (int i = 0; i < static_cast<int>(Call::kCount); ++i)
    if (per_call[i] != 0) printf(" %s %zu", faults::call_name(static_cast<Call>(i)), per_call[i]);
  printf(" )\n");
  // Per picture: CreateFileA 2 (picture, information), GetFileSize 2 ways,
  // ReadFile 3 calls x 2 ways, LocalAlloc 3 + 2, LocalLock 2 + 2.
  EXPECT_EQ(injected, 3u * (2 + 2 + 6 + 5 + 4));
}

// A picture whose blocks are empty (no rows) locks its pixel block to null
// on some heaps; with every lock failing, the pixel lock failure is only
// reported when there are pixels to write.
TEST(FaultInjection, FailedLockOfAnEmptyPixelBlock) {
  const Subject subject(fixtures::MorvellaneBuilder(3, 0).build());
  FaultyKernel kernel(plugin().module);
  ASSERT_TRUE(kernel.installed());
  kernel.start_recording();
  const Outcome clean = subject.run(Entry::kPictureMemory);
  ASSERT_EQ(clean.result, 0);
  const std::vector<Call> calls = kernel.fallible_calls();
  LocalFree(clean.info);
  LocalFree(clean.bits);
  kernel.caller_freed(clean.info);
  kernel.caller_freed(clean.bits);
  ASSERT_EQ(calls.back(), Call::kLocalLock);
  kernel.start_recording();
  kernel.fail_at(calls.size() - 1, Fault::kFail);
  const Outcome o = subject.run(Entry::kPictureMemory);
  ASSERT_TRUE(kernel.fault_injected());
  ASSERT_EQ(o.result, 0);
  EXPECT_NE(o.info, nullptr);
  EXPECT_NE(o.bits, nullptr);
  EXPECT_EQ(LocalSize(o.bits), 0u);
  LocalFree(o.info);
  LocalFree(o.bits);
}

}  // namespace
