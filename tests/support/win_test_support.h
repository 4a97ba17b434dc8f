// What the Windows-side tests need around the built ifMrvln.spi: the plug-in
// loaded once per test program, guarded memory, temporary files, gauges of
// the process's heap, memory and handles, and a probe of the calling
// convention.
#ifndef MRVLN_TESTS_SUPPORT_WIN_TEST_SUPPORT_H
#define MRVLN_TESTS_SUPPORT_WIN_TEST_SUPPORT_H

#include <windows.h>

#include <string>
#include <vector>

#include "plugin/client/spi_client.h"

namespace wintest {

// The plug-in next to the test program, loaded on first use; the process
// ends with exit code 3 when it cannot be loaded with all five exports.
const spi::Plugin& plugin();

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

// A host's open handle to `path` for reading, and its value as IsSupported
// takes it.
HANDLE open_for_reading(const char* path);
inline uint32_t handle_value(HANDLE h) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h));
}

// Counts the busy blocks of the process heap, where local blocks live.
size_t busy_heap_blocks();

// What the process holds: busy heap blocks, committed private memory (from
// a walk of the address space: Wine's process counters report 0) and open
// handles.
struct Gauge {
  size_t heap_blocks;
  SIZE_T private_bytes;
  DWORD handles;
};
Gauge measure();

// Wine builds caches of its own in the process heap now and then (up to 3
// blocks seen in a run) and keeps a freed page or two mapped, so "flat"
// allows this much room; one block, handle or even 16 bytes lost per call
// over a test's calls would exceed it many times over.
constexpr size_t kHeapNoise = 8;
constexpr DWORD kHandleNoise = 2;
constexpr SIZE_T kPrivateNoise = 256 * 1024;

// Adds a test failure naming each gauge that grew beyond its room.
void expect_flat(const Gauge& before, const Gauge& after);

// Decodes through `get_picture` (by default that of plugin()) and copies the
// blocks out, freeing them.
struct Picture {
  int32_t result = -99;
  HLOCAL info = nullptr;
  HLOCAL bits = nullptr;
  std::vector<uint8_t> header;
  std::vector<uint8_t> pixels;
};
Picture take_picture(const char* source, int32_t length, uint32_t flags,
                     spi::GetPictureFn get_picture = nullptr);

}  // namespace wintest

#endif
