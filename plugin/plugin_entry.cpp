// Module entry, the information table, GetPluginInfo and GetPreview.
#include "codec/result.h"
#include "plugin/spi_exports.h"

namespace {

// Read-only: the module keeps no mutable state.
const char* const PluginInfoTable[] = {
    "00IN",                                                     // interface tag
    "Morvellane 16-bit 5-6-5 bitmap reader for image viewers",  // description
    "*.bmp",                                                    // file-name pattern
    "Morvellane Bmp file",                                      // file type name
};
constexpr int32_t PLUGIN_INFO_COUNT = sizeof(PluginInfoTable) / sizeof(PluginInfoTable[0]);

}  // namespace

// Linked as the module's entry point: there is nothing to set up or tear
// down for any reason, so loading never fails.
extern "C" BOOL __stdcall PluginEntry(HINSTANCE, DWORD, LPVOID) {
  return TRUE;
}

extern "C" int32_t __stdcall GetPluginInfo(int32_t info_index, char* buffer,
                                           int32_t buffer_length) {
  if (info_index < 0 || info_index >= PLUGIN_INFO_COUNT) return 0;
  // A buffer without room for the terminating NUL gets nothing at all.
  if (buffer_length < 1 || buffer == nullptr) return 0;
  lstrcpynA(buffer, PluginInfoTable[info_index], buffer_length);
  return lstrlenA(buffer);
}

extern "C" int32_t __stdcall GetPreview(const char*, int32_t, uint32_t, HLOCAL*, HLOCAL*, void*,
                                        void*) {
  return mrvln::RESULT_NOT_IMPLEMENTED;
}
