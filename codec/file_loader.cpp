#include "codec/file_loader.h"

#include <windows.h>

namespace mrvln {

Result load_file_image(const char* path, uint8_t** image_out, uint32_t* size_out) {
  *image_out = nullptr;
  *size_out = 0;
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return RESULT_FILE_ERROR;

  DWORD size_high = 0;
  const DWORD size = GetFileSize(file, &size_high);
  // 4 GiB or more cannot be held by any block of a 32-bit process.
  if (size_high != 0) {
    CloseHandle(file);
    return RESULT_OUT_OF_MEMORY;
  }
  // A failed size query gives 0xFFFFFFFF, which no allocation satisfies.
  uint8_t* image = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, size));
  if (image == nullptr) {
    CloseHandle(file);
    return RESULT_OUT_OF_MEMORY;
  }
  DWORD got = 0;
  const BOOL read_ok = ReadFile(file, image, size, &got, nullptr);
  CloseHandle(file);
  // A short read leaves part of the block undefined: refuse rather than
  // decode bytes that were never read.
  if (!read_ok || got != size) {
    LocalFree(image);
    return RESULT_FILE_ERROR;
  }
  *image_out = image;
  *size_out = size;
  return RESULT_SUCCESS;
}

}  // namespace mrvln
