#include "faulty_kernel.h"

#include <algorithm>

namespace faults {

namespace {

FaultyKernel* active = nullptr;

const char* const kNames[] = {"CreateFileA", "GetFileSize", "ReadFile",    "CloseHandle",
                              "LocalAlloc",  "LocalLock",   "LocalUnlock", "LocalFree"};

typedef HANDLE(WINAPI* CreateFileAFn)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                      HANDLE);
typedef DWORD(WINAPI* GetFileSizeFn)(HANDLE, LPDWORD);
typedef BOOL(WINAPI* ReadFileFn)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
typedef BOOL(WINAPI* CloseHandleFn)(HANDLE);
typedef HLOCAL(WINAPI* LocalAllocFn)(UINT, SIZE_T);
typedef LPVOID(WINAPI* LocalLockFn)(HLOCAL);
typedef BOOL(WINAPI* LocalUnlockFn)(HLOCAL);
typedef HLOCAL(WINAPI* LocalFreeFn)(HLOCAL);

template <typename T>
void erase_one(std::vector<T>& v, T value) {
  const auto it = std::find(v.begin(), v.end(), value);
  if (it != v.end()) v.erase(it);
}

}  // namespace

const char* call_name(Call call) {
  return kNames[static_cast<int>(call)];
}

const char* fault_name(Fault fault) {
  switch (fault) {
    case Fault::kFail:
      return "fails";
    case Fault::kShortRead:
      return "reads short";
    case Fault::kHugeFile:
      return "reports 4 GiB or more";
  }
  return "?";
}

std::vector<Fault> faults_of(Call call) {
  switch (call) {
    case Call::kReadFile:
      return {Fault::kFail, Fault::kShortRead};
    case Call::kGetFileSize:
      return {Fault::kFail, Fault::kHugeFile};
    case Call::kCreateFileA:
    case Call::kLocalAlloc:
    case Call::kLocalLock:
      return {Fault::kFail};
    default:
      return {};
  }
}

// The stand-ins: each counts, may fail, and otherwise calls the real function.
struct Stand {
  template <typename Fn>
  static Fn real(Call call) {
    return reinterpret_cast<Fn>(active->originals_[static_cast<int>(call)]);
  }

  static HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share,
                                   LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                   HANDLE templ) {
    Fault fault;
    if (active->take_fault(Call::kCreateFileA, &fault)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    const HANDLE h = real<CreateFileAFn>(Call::kCreateFileA)(name, access, share, security,
                                                             disposition, flags, templ);
    if (h != INVALID_HANDLE_VALUE) active->files_.push_back(h);
    return h;
  }

  static DWORD WINAPI GetFileSize(HANDLE file, LPDWORD high) {
    Fault fault;
    if (active->take_fault(Call::kGetFileSize, &fault)) {
      if (fault == Fault::kHugeFile) {
        const DWORD low = real<GetFileSizeFn>(Call::kGetFileSize)(file, nullptr);
        if (high != nullptr) *high = 1;
        return low;
      }
      if (high != nullptr) *high = 0;
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_FILE_SIZE;
    }
    return real<GetFileSizeFn>(Call::kGetFileSize)(file, high);
  }

  static BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD wanted, LPDWORD got,
                              LPOVERLAPPED overlapped) {
    Fault fault;
    if (active->take_fault(Call::kReadFile, &fault)) {
      if (fault == Fault::kShortRead)
        return real<ReadFileFn>(Call::kReadFile)(file, buffer, wanted / 3, got, overlapped);
      if (got != nullptr) *got = 0;
      SetLastError(ERROR_READ_FAULT);
      return FALSE;
    }
    return real<ReadFileFn>(Call::kReadFile)(file, buffer, wanted, got, overlapped);
  }

  static BOOL WINAPI CloseHandle(HANDLE h) {
    active->note(Call::kCloseHandle);
    erase_one(active->files_, h);
    return real<CloseHandleFn>(Call::kCloseHandle)(h);
  }

  static HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
    Fault fault;
    if (active->take_fault(Call::kLocalAlloc, &fault)) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    const HLOCAL block = real<LocalAllocFn>(Call::kLocalAlloc)(flags, bytes);
    if (block != nullptr) active->blocks_.push_back(block);
    return block;
  }

  static LPVOID WINAPI LocalLock(HLOCAL block) {
    Fault fault;
    if (active->take_fault(Call::kLocalLock, &fault)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    return real<LocalLockFn>(Call::kLocalLock)(block);
  }

  static BOOL WINAPI LocalUnlock(HLOCAL block) {
    active->note(Call::kLocalUnlock);
    return real<LocalUnlockFn>(Call::kLocalUnlock)(block);
  }

  static HLOCAL WINAPI LocalFree(HLOCAL block) {
    active->note(Call::kLocalFree);
    erase_one(active->blocks_, block);
    return real<LocalFreeFn>(Call::kLocalFree)(block);
  }
};

FaultyKernel::FaultyKernel(HMODULE module) {
  void* const stand_ins[] = {
      reinterpret_cast<void*>(&Stand::CreateFileA), reinterpret_cast<void*>(&Stand::GetFileSize),
      reinterpret_cast<void*>(&Stand::ReadFile),    reinterpret_cast<void*>(&Stand::CloseHandle),
      reinterpret_cast<void*>(&Stand::LocalAlloc),  reinterpret_cast<void*>(&Stand::LocalLock),
      reinterpret_cast<void*>(&Stand::LocalUnlock), reinterpret_cast<void*>(&Stand::LocalFree)};
  static_assert(sizeof stand_ins / sizeof stand_ins[0] == static_cast<int>(Call::kCount),
                "one stand-in per call");
  if (active != nullptr) return;
  active = this;
  installed_ = true;
  for (int i = 0; i < static_cast<int>(Call::kCount); ++i) {
    if (!patches_[i].install(module, "KERNEL32.dll", kNames[i], stand_ins[i])) {
      installed_ = false;
      continue;
    }
    originals_[i] = patches_[i].original();
  }
}

FaultyKernel::~FaultyKernel() {
  if (active != this) return;
  for (ImportPatch& patch : patches_) patch.restore();
  active = nullptr;
}

void FaultyKernel::start_recording() {
  // Room for any call's records up front, so that recording allocates nothing
  // while a test counts heap blocks.
  fallible_.clear();
  fallible_.reserve(64);
  blocks_.reserve(64);
  files_.reserve(16);
  std::fill(std::begin(counts_), std::end(counts_), 0);
  fail_index_ = static_cast<size_t>(-1);
  injected_ = false;
}

void FaultyKernel::fail_at(size_t index, Fault fault) {
  fail_index_ = index;
  fail_with_ = fault;
}

void FaultyKernel::caller_freed(HLOCAL block) {
  erase_one(blocks_, block);
}

bool FaultyKernel::take_fault(Call call, Fault* fault) {
  note(call);
  const size_t index = fallible_.size();
  fallible_.push_back(call);
  if (index != fail_index_) return false;
  injected_ = true;
  *fault = fail_with_;
  return true;
}

}  // namespace faults
