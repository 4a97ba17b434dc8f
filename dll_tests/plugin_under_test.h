// Loads the built ifMrvln.spi the way a viewer does (LoadLibraryA and
// GetProcAddress by plain name) and gives tests what they need around it:
// guarded memory, temporary files and a probe of the calling convention.
#ifndef MRVLN_DLL_TESTS_PLUGIN_UNDER_TEST_H
#define MRVLN_DLL_TESTS_PLUGIN_UNDER_TEST_H

#include <windows.h>

#include <string>
#include <vector>

#include "plugin/spi_exports.h"

namespace dlltest {

typedef int32_t(__stdcall* GetPluginInfoFn)(int32_t, char*, int32_t);
typedef int32_t(__stdcall* IsSupportedFn)(const char*, uint32_t);
typedef int32_t(__stdcall* GetPictureInfoFn)(const char*, int32_t, uint32_t, PictureInfoRecord*);
typedef int32_t(__stdcall* GetPictureFn)(const char*, int32_t, uint32_t, HLOCAL*, HLOCAL*, void*,
                                         void*);

// Full path of ifMrvln.spi, next to the test executable.
std::string plugin_path();

struct Plugin {
  HMODULE module = nullptr;
  GetPluginInfoFn GetPluginInfo = nullptr;
  IsSupportedFn IsSupported = nullptr;
  GetPictureInfoFn GetPictureInfo = nullptr;
  GetPictureFn GetPicture = nullptr;
  GetPictureFn GetPreview = nullptr;
};

// Loads the module and resolves all five exports; false if any step fails.
bool load_plugin(Plugin* out);
void unload_plugin(Plugin* plugin);

// The plugin shared by a test binary, loaded once.
const Plugin& plugin();

// Calls `fn` with `count` 32-bit arguments pushed right to left and returns
// how many argument bytes the callee removed from the stack (its result goes
// to *result). A stdcall function removes 4 * count; a cdecl one removes 0.
extern "C" uint32_t bytes_removed_by_callee(const void* fn, const uint32_t* args, uint32_t count,
                                            int32_t* result);

// Bytes placed so that the last one is directly followed by a no-access page:
// any read past them faults.
class GuardedBytes {
 public:
  explicit GuardedBytes(const std::vector<uint8_t>& bytes);
  ~GuardedBytes();
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;
  const uint8_t* data() const { return data_; }
  const char* source() const { return reinterpret_cast<const char*>(data_); }
  uint32_t address() const { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data_)); }
  // True when the page behind the bytes is really inaccessible.
  bool guard_active() const;

 private:
  uint8_t* base_ = nullptr;
  size_t span_ = 0;
  uint8_t* data_ = nullptr;
  uint8_t* guard_ = nullptr;
};

// A file in the temporary folder, removed when the object goes.
class TempFile {
 public:
  TempFile(const std::vector<uint8_t>& bytes, const char* suffix = ".bmp");
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const char* path() const { return path_.c_str(); }
  // True when the file can be opened with no sharing at all: nobody else,
  // the plug-in included, holds a handle to it.
  bool openable_exclusively() const;

 private:
  std::string path_;
};

// Counts the busy blocks of the process heap, where local blocks live.
size_t busy_heap_blocks();

// Decodes through GetPicture and copies the blocks out, freeing them.
struct Picture {
  int32_t result = -99;
  HLOCAL info = nullptr;
  HLOCAL bits = nullptr;
  std::vector<uint8_t> header;
  std::vector<uint8_t> pixels;
};
Picture take_picture(const char* source, int32_t length, uint32_t flags);

}  // namespace dlltest

#endif
