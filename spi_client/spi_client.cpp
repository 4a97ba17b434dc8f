#include "spi_client.h"

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
      return "broken data: the file is shorter than its header declares, or its size is impossible";
    case mrvln::RESULT_OUT_OF_MEMORY:
      return "out of memory: the picture is too large";
    case mrvln::RESULT_MEMORY_ERROR:
      return "a memory block could not be locked";
    case mrvln::RESULT_FILE_ERROR:
      return "the file cannot be opened or read";
    default:
      return "unknown result";
  }
}

}  // namespace spi
