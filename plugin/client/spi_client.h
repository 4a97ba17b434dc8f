// A host's side of ifMrvln.spi, shared by every Windows program here: the
// export types taken from the DLL's own declarations, the loader a viewer
// uses (LoadLibraryA, then GetProcAddress by plain name), one text for each
// result code and the reason for a refusal, the question a viewer asks of a
// file and the decoded picture.
#ifndef MRVLN_PLUGIN_CLIENT_SPI_CLIENT_H
#define MRVLN_PLUGIN_CLIENT_SPI_CLIENT_H

#include <windows.h>

#include <string>

#include "plugin/spi_exports.h"

namespace spi {

typedef decltype(&::GetPluginInfo) GetPluginInfoFn;
typedef decltype(&::IsSupported) IsSupportedFn;
typedef decltype(&::GetPictureInfo) GetPictureInfoFn;
typedef decltype(&::GetPicture) GetPictureFn;
typedef decltype(&::GetPreview) GetPreviewFn;

struct Plugin {
  std::string path;
  HMODULE module = nullptr;
  GetPluginInfoFn GetPluginInfo = nullptr;
  IsSupportedFn IsSupported = nullptr;
  GetPictureInfoFn GetPictureInfo = nullptr;
  GetPictureFn GetPicture = nullptr;
  GetPreviewFn GetPreview = nullptr;
};

enum class LoadResult { kLoaded, kCannotLoad, kExportMissing };

// ifMrvln.spi in the folder of this program.
std::string plugin_path();

// Loads `path` and resolves all five exports. On kCannotLoad, *error holds
// the system's error code; on any failure nothing stays loaded.
LoadResult load_plugin(const std::string& path, Plugin* out, unsigned long* error);
void unload_plugin(Plugin* plugin);

// The name of a result code of the exports, for messages; why a picture was
// refused is refusal_reason's.
const char* result_meaning(int32_t result);

// Why GetPicture refused the file `path` with `result`, or why a picture it
// decoded (result 0) has no pixels to show, in the words every reader of
// this project gives for the same file: the core reader's, from the file's
// header and size against the plug-in's 32-bit bounds; the meaning of the
// code where the file tells nothing more.
std::string refusal_reason(const std::string& path, int32_t result);

// Loads ifMrvln.spi from the folder of this program. False, with a message
// in *why, when it cannot be loaded or lacks an export.
bool load_beside_program(Plugin* p, std::string* why);

// IsSupported given an open handle, as a viewer browsing a folder asks:
// 1 accepted, 0 refused, -1 the file cannot be opened (*error set).
int verdict(const Plugin& p, const std::string& path, unsigned long* error);

// The decoded picture: the two blocks GetPicture hands over, freed here.
class Decoded {
 public:
  Decoded() = default;
  ~Decoded();
  Decoded(const Decoded&) = delete;
  Decoded& operator=(const Decoded&) = delete;
  // Calls GetPicture in file mode; returns its result code.
  int32_t load(const Plugin& p, const std::string& path);
  // The BITMAPINFOHEADER block and the pixel block, as they came.
  HLOCAL info_block() const { return info_; }
  HLOCAL pixel_block() const { return bits_; }
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }

 private:
  HLOCAL info_ = nullptr;
  HLOCAL bits_ = nullptr;
  int32_t width_ = 0;
  int32_t height_ = 0;
};

// A system error code as text, without the trailing line break.
std::string system_message(unsigned long error);

}  // namespace spi

#endif
