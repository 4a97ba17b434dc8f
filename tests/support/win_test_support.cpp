#include "win_test_support.h"

#include <stdio.h>
#include <string.h>

#include "gtest/gtest.h"

namespace wintest {

const spi::Plugin& plugin() {
  static spi::Plugin loaded;
  static unsigned long error = 0;
  static const bool ok =
      spi::load_plugin(spi::plugin_path(), &loaded, &error) == spi::LoadResult::kLoaded;
  if (!ok) {
    fprintf(stderr, "cannot load %s with all five exports (error %lu)\n",
            spi::plugin_path().c_str(), error);
    ExitProcess(3);
  }
  return loaded;
}

GuardedBytes::GuardedBytes(const std::vector<uint8_t>& bytes) {
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  const size_t page = si.dwPageSize;
  const size_t data_pages = (bytes.size() + page - 1) / page;
  span_ = (data_pages + 1) * page;
  base_ =
      static_cast<uint8_t*>(VirtualAlloc(nullptr, span_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  guard_ = base_ + data_pages * page;
  data_ = guard_ - bytes.size();
  if (!bytes.empty()) memcpy(data_, bytes.data(), bytes.size());
  DWORD old = 0;
  // Read-only data, so a write to the caller's bytes faults too.
  if (data_pages != 0) VirtualProtect(base_, data_pages * page, PAGE_READONLY, &old);
  VirtualProtect(guard_, page, PAGE_NOACCESS, &old);
}

GuardedBytes::~GuardedBytes() {
  VirtualFree(base_, 0, MEM_RELEASE);
}

bool GuardedBytes::guard_active() const {
  MEMORY_BASIC_INFORMATION mbi;
  return VirtualQuery(guard_, &mbi, sizeof mbi) == sizeof mbi && mbi.Protect == PAGE_NOACCESS;
}

TempFile::TempFile(const std::vector<uint8_t>& bytes, const char* suffix) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  static LONG counter = 0;
  char name[MAX_PATH];
  snprintf(name, sizeof name, "%smrvln_%lu_%ld%s", dir, GetCurrentProcessId(),
           InterlockedIncrement(&counter), suffix);
  path_ = name;
  HANDLE f =
      CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  if (!bytes.empty())
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(f);
}

TempFile::~TempFile() {
  DeleteFileA(path_.c_str());
}

bool TempFile::openable_exclusively() const {
  HANDLE f = CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  CloseHandle(f);
  return true;
}

HANDLE open_for_reading(const char* path) {
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

size_t busy_heap_blocks() {
  HANDLE heap = GetProcessHeap();
  size_t busy = 0;
  PROCESS_HEAP_ENTRY entry;
  entry.lpData = nullptr;
  HeapLock(heap);
  while (HeapWalk(heap, &entry))
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++busy;
  HeapUnlock(heap);
  return busy;
}

namespace {

SIZE_T private_bytes() {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION mbi;
  const uint8_t* at = nullptr;
  while (VirtualQuery(at, &mbi, sizeof mbi) == sizeof mbi) {
    if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) total += mbi.RegionSize;
    const uint8_t* next = static_cast<const uint8_t*>(mbi.BaseAddress) + mbi.RegionSize;
    if (next <= at) break;
    at = next;
  }
  return total;
}

// Asks about every handle value in the table's range: Wine's
// GetProcessHandleCount reports 0.
DWORD open_handles() {
  DWORD count = 0;
  for (uintptr_t value = 4; value < 0x4000; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  DWORD reported = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &reported) && reported > count) count = reported;
  return count;
}

}  // namespace

Gauge measure() {
  return Gauge{busy_heap_blocks(), private_bytes(), open_handles()};
}

void expect_flat(const Gauge& before, const Gauge& after) {
  EXPECT_LE(after.heap_blocks, before.heap_blocks + kHeapNoise) << "heap blocks";
  EXPECT_LE(after.handles, before.handles + kHandleNoise) << "handles";
  EXPECT_LE(after.private_bytes, before.private_bytes + kPrivateNoise) << "private bytes";
}

Picture take_picture(const char* source, int32_t length, uint32_t flags,
                     spi::GetPictureFn get_picture) {
  if (get_picture == nullptr) get_picture = plugin().GetPicture;
  Picture p;
  p.info = reinterpret_cast<HLOCAL>(1);  // must be overwritten
  p.bits = reinterpret_cast<HLOCAL>(1);
  p.result = get_picture(source, length, flags, &p.info, &p.bits, nullptr, nullptr);
  if (p.info != nullptr) {
    const uint8_t* h = static_cast<const uint8_t*>(LocalLock(p.info));
    if (h != nullptr) p.header.assign(h, h + LocalSize(p.info));
    LocalUnlock(p.info);
  }
  if (p.bits != nullptr) {
    const size_t n = LocalSize(p.bits);
    const uint8_t* b = static_cast<const uint8_t*>(LocalLock(p.bits));
    if (b != nullptr) p.pixels.assign(b, b + n);
    LocalUnlock(p.bits);
  }
  if (p.info != nullptr) LocalFree(p.info);
  if (p.bits != nullptr) LocalFree(p.bits);
  return p;
}

}  // namespace wintest
