#include "plugin_client.h"

#include <stdio.h>
#include <string.h>

#include <vector>

#include "bitmap_files.h"
#include "codec/result.h"

namespace mrvhost {

bool load_plugin(spi::Plugin* p, std::string* why) {
  unsigned long error = 0;
  switch (spi::load_plugin(spi::plugin_path(), p, &error)) {
    case spi::LoadResult::kLoaded:
      return true;
    case spi::LoadResult::kCannotLoad:
      *why = "cannot load " + spi::plugin_path() + ": " + system_message(error);
      return false;
    case spi::LoadResult::kExportMissing:
      break;
  }
  *why = spi::plugin_path() + " is not a complete plug-in: an export is missing";
  return false;
}

int verdict(const spi::Plugin& p, const std::string& path, unsigned long* error) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return -1;
  }
  const uintptr_t handle = reinterpret_cast<uintptr_t>(f);
  int32_t v;
  if (handle < 0x10000) {
    v = p.IsSupported(path.c_str(), static_cast<uint32_t>(handle));
  } else {
    // The plug-in takes larger values for addresses: hand it the first bytes.
    uint8_t head[64] = {};
    DWORD got = 0;
    ReadFile(f, head, sizeof head, &got, nullptr);
    v = p.IsSupported(path.c_str(), static_cast<uint32_t>(reinterpret_cast<uintptr_t>(head)));
  }
  CloseHandle(f);
  return v == 0 ? 0 : 1;
}

Decoded::~Decoded() {
  if (info_ != nullptr) LocalFree(info_);
  if (bits_ != nullptr) LocalFree(bits_);
}

int32_t Decoded::load(const spi::Plugin& p, const std::string& path) {
  const int32_t result =
      p.GetPicture(path.c_str(), 0, SOURCE_FILE, &info_, &bits_, nullptr, nullptr);
  if (result != mrvln::RESULT_SUCCESS || info_ == nullptr || bits_ == nullptr) return result;
  const int32_t* fields = static_cast<const int32_t*>(LocalLock(info_));
  if (fields != nullptr && LocalSize(info_) >= 12) {
    width_ = fields[1];
    height_ = fields[2];
  }
  LocalUnlock(info_);
  return result;
}

unsigned long Decoded::write_bmp(const std::string& path) const {
  const uint32_t header_size = static_cast<uint32_t>(LocalSize(info_));
  const uint32_t pixel_size = static_cast<uint32_t>(LocalSize(bits_));
  uint8_t file_header[14] = {'B', 'M'};
  const uint32_t offset = 14 + header_size;
  const uint32_t total = offset + pixel_size;
  memcpy(file_header + 2, &total, 4);
  memcpy(file_header + 10, &offset, 4);
  const void* h = LocalLock(info_);
  // An empty block may lock to null; it has nothing to write.
  const void* b = pixel_size != 0 ? LocalLock(bits_) : nullptr;
  unsigned long error = ERROR_NOT_ENOUGH_MEMORY;
  if (h != nullptr && (b != nullptr || pixel_size == 0)) {
    const Piece pieces[] = {{file_header, 14}, {h, header_size}, {b, pixel_size}};
    error = write_whole_file(path, pieces, 3);
  }
  if (b != nullptr) LocalUnlock(bits_);
  if (h != nullptr) LocalUnlock(info_);
  return error;
}

std::string system_message(unsigned long error) {
  char text[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           error, 0, text, sizeof text, nullptr);
  while (n > 0 &&
         (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ' || text[n - 1] == '.'))
    --n;
  if (n == 0) {
    snprintf(text, sizeof text, "system error %lu", error);
    return text;
  }
  return std::string(text, n);
}

}  // namespace mrvhost
