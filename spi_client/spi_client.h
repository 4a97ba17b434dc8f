// A host's side of ifMrvln.spi, shared by every Windows program here: the
// export types taken from the DLL's own declarations, the loader a viewer
// uses (LoadLibraryA, then GetProcAddress by plain name) and one text for
// each result code.
#ifndef MRVLN_SPI_CLIENT_SPI_CLIENT_H
#define MRVLN_SPI_CLIENT_SPI_CLIENT_H

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

// What a result code of the exports means, for messages.
const char* result_meaning(int32_t result);

}  // namespace spi

#endif
