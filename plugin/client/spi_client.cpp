#include "spi_client.h"

#include <stdio.h>

#include "codec/morvellane.h"
#include "codec/reader.h"
#include "codec/result.h"

namespace spi {

namespace {

template <typename Fn>
Fn find_export(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

std::string plugin_path() {
  char exe[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string path(exe, n);
  path.resize(path.find_last_of("\\/") + 1);
  return path + "ifMrvln.spi";
}

LoadResult load_plugin(const std::string& path, Plugin* out, unsigned long* error) {
  Plugin p;
  p.path = path;
  p.module = LoadLibraryA(path.c_str());
  if (p.module == nullptr) {
    *error = GetLastError();
    return LoadResult::kCannotLoad;
  }
  p.GetPluginInfo = find_export<GetPluginInfoFn>(p.module, "GetPluginInfo");
  p.IsSupported = find_export<IsSupportedFn>(p.module, "IsSupported");
  p.GetPictureInfo = find_export<GetPictureInfoFn>(p.module, "GetPictureInfo");
  p.GetPicture = find_export<GetPictureFn>(p.module, "GetPicture");
  p.GetPreview = find_export<GetPreviewFn>(p.module, "GetPreview");
  if (!p.GetPluginInfo || !p.IsSupported || !p.GetPictureInfo || !p.GetPicture || !p.GetPreview) {
    FreeLibrary(p.module);
    return LoadResult::kExportMissing;
  }
  *out = p;
  return LoadResult::kLoaded;
}

void unload_plugin(Plugin* plugin) {
  if (plugin->module != nullptr) FreeLibrary(plugin->module);
  *plugin = Plugin();
}

const char* result_meaning(int32_t result) {
  switch (result) {
    case mrvln::RESULT_SUCCESS:
      return "done";
    case mrvln::RESULT_NOT_IMPLEMENTED:
      return "not implemented";
    case mrvln::RESULT_BROKEN_DATA:
      return "broken data";
    case mrvln::RESULT_OUT_OF_MEMORY:
      return "out of memory";
    case mrvln::RESULT_MEMORY_ERROR:
      return "a memory block could not be locked";
    case mrvln::RESULT_FILE_ERROR:
      return "the file cannot be opened or read";
    default:
      return "unknown result";
  }
}

namespace {

std::string code_meaning(int32_t result) {
  return std::string("picture refused: ") + result_meaning(result) + " (code " +
         std::to_string(result) + ")";
}

}  // namespace

std::string refusal_reason(const std::string& path, int32_t result) {
  uint8_t header[mrvln::PIXEL_DATA_OFFSET];
  DWORD got = 0;
  LARGE_INTEGER size = {};
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  const bool read = f != INVALID_HANDLE_VALUE &&
                    ReadFile(f, header, sizeof header, &got, nullptr) && GetFileSizeEx(f, &size);
  if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  if (!read || (result != mrvln::RESULT_SUCCESS && result != mrvln::RESULT_BROKEN_DATA &&
                result != mrvln::RESULT_OUT_OF_MEMORY))
    return code_meaning(result);
  // The plug-in's block: 24-bit rows aligned to 4 bytes, within 32 bits.
  const mrvln::OutputLayout dib = {mrvln::PIXEL_BGR24, mrvln::ROWS_AS_STORED, 4, UINT32_MAX};
  mrvln::Reader reader;
  mrvln::Refusal refusal = mrvln::reader_start(&reader, mrvln::ByteView{header, got}, dib);
  if (refusal.reason == mrvln::REASON_NONE)
    refusal = result == mrvln::RESULT_OUT_OF_MEMORY
                  ? mrvln::reader_out_of_memory(reader)
                  : mrvln::reader_check_file_size(reader, static_cast<uint64_t>(size.QuadPart));
  if (refusal.reason == mrvln::REASON_NONE) return code_meaning(result);
  char text[mrvln::REFUSAL_TEXT_SIZE];
  mrvln::refusal_text(refusal, text, sizeof text);
  return text;
}

bool load_beside_program(Plugin* p, std::string* why) {
  unsigned long error = 0;
  switch (load_plugin(plugin_path(), p, &error)) {
    case LoadResult::kLoaded:
      return true;
    case LoadResult::kCannotLoad:
      *why = "cannot load " + plugin_path() + ": " + system_message(error);
      return false;
    case LoadResult::kExportMissing:
      break;
  }
  *why = plugin_path() + " is not a complete plug-in: an export is missing";
  return false;
}

int verdict(const Plugin& p, const std::string& path, unsigned long* error) {
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

int32_t Decoded::load(const Plugin& p, const std::string& path) {
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

}  // namespace spi
