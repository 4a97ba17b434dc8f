// Counting, failing stand-ins for the KERNEL32 functions that ifMrvln.spi
// imports, installed into the DLL's own import table. Every call the DLL makes
// is recorded; any one fallible call can be made to fail, and the blocks and
// files the DLL holds are tracked so a test can see what a call left behind.
#ifndef MRVLN_TESTS_DLL_FAULTS_FAULTY_KERNEL_H
#define MRVLN_TESTS_DLL_FAULTS_FAULTY_KERNEL_H

#include <windows.h>

#include <vector>

#include "import_patch.h"

namespace faults {

enum class Call {
  kCreateFileA,
  kGetFileSize,
  kReadFile,
  kCloseHandle,
  kLocalAlloc,
  kLocalLock,
  kLocalUnlock,
  kLocalFree,
  kCount
};
const char* call_name(Call call);

// How a fallible call is made to fail.
enum class Fault {
  kFail,       // the documented failure: INVALID_HANDLE_VALUE, FALSE, null, INVALID_FILE_SIZE
  kShortRead,  // ReadFile succeeds with a third of the bytes asked for
  kHugeFile,   // GetFileSize reports a file of 4 GiB or more
};
const char* fault_name(Fault fault);

// The ways `call` can fail; empty for calls that cannot.
std::vector<Fault> faults_of(Call call);

// Installs the stand-ins into `module` on construction and removes them on
// destruction. Only one may exist at a time: the stand-ins are plain
// functions and find it through a single pointer.
class FaultyKernel {
 public:
  explicit FaultyKernel(HMODULE module);
  ~FaultyKernel();
  FaultyKernel(const FaultyKernel&) = delete;
  FaultyKernel& operator=(const FaultyKernel&) = delete;

  // True when every import was found and replaced.
  bool installed() const { return installed_; }

  // Forgets the calls seen so far and any planned fault; blocks and files
  // still held stay tracked.
  void start_recording();
  // Makes the fallible call number `index` (counted from 0 since
  // start_recording) fail with `fault`.
  void fail_at(size_t index, Fault fault);

  // The fallible calls in the order made since start_recording.
  const std::vector<Call>& fallible_calls() const { return fallible_; }
  size_t count(Call call) const { return counts_[static_cast<int>(call)]; }
  bool fault_injected() const { return injected_; }

  // Blocks the DLL allocated and has not freed, and files it opened and has
  // not closed.
  const std::vector<HLOCAL>& live_blocks() const { return blocks_; }
  size_t open_files() const { return files_.size(); }
  // Blocks handed to the caller leave the DLL's account once the caller
  // frees them.
  void caller_freed(HLOCAL block);

 private:
  friend struct Stand;
  bool take_fault(Call call, Fault* fault);
  void note(Call call) { ++counts_[static_cast<int>(call)]; }

  bool installed_ = false;
  std::vector<Call> fallible_;
  size_t counts_[static_cast<int>(Call::kCount)] = {};
  size_t fail_index_ = static_cast<size_t>(-1);
  Fault fail_with_ = Fault::kFail;
  bool injected_ = false;
  std::vector<HLOCAL> blocks_;
  std::vector<HANDLE> files_;
  void* originals_[static_cast<int>(Call::kCount)] = {};
  ImportPatch patches_[static_cast<int>(Call::kCount)];
};

}  // namespace faults

#endif
