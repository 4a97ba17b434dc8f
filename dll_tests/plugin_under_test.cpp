#include "plugin_under_test.h"

#include <stdio.h>
#include <string.h>

namespace dlltest {

std::string plugin_path() {
  char exe[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string path(exe, n);
  path.resize(path.find_last_of("\\/") + 1);
  return path + "ifMrvln.spi";
}

namespace {
template <typename Fn>
Fn find_export(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
}  // namespace

bool load_plugin(Plugin* out) {
  Plugin p;
  p.module = LoadLibraryA(plugin_path().c_str());
  if (p.module == nullptr) return false;
  p.GetPluginInfo = find_export<GetPluginInfoFn>(p.module, "GetPluginInfo");
  p.IsSupported = find_export<IsSupportedFn>(p.module, "IsSupported");
  p.GetPictureInfo = find_export<GetPictureInfoFn>(p.module, "GetPictureInfo");
  p.GetPicture = find_export<GetPictureFn>(p.module, "GetPicture");
  p.GetPreview = find_export<GetPictureFn>(p.module, "GetPreview");
  *out = p;
  return p.GetPluginInfo && p.IsSupported && p.GetPictureInfo && p.GetPicture && p.GetPreview;
}

void unload_plugin(Plugin* plugin) {
  if (plugin->module != nullptr) FreeLibrary(plugin->module);
  *plugin = Plugin();
}

const Plugin& plugin() {
  static Plugin loaded;
  static bool ok = load_plugin(&loaded);
  if (!ok) {
    fprintf(stderr, "cannot load %s with all five exports\n", plugin_path().c_str());
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

Picture take_picture(const char* source, int32_t length, uint32_t flags) {
  Picture p;
  p.info = reinterpret_cast<HLOCAL>(1);  // must be overwritten
  p.bits = reinterpret_cast<HLOCAL>(1);
  p.result = plugin().GetPicture(source, length, flags, &p.info, &p.bits, nullptr, nullptr);
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

}  // namespace dlltest
