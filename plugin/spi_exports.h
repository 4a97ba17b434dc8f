// The five exports of ifMrvln.spi as a host sees them. Every export takes
// 32-bit arguments and removes them itself on return (stdcall).
#ifndef MRVLN_PLUGIN_SPI_EXPORTS_H
#define MRVLN_PLUGIN_SPI_EXPORTS_H

#include <stdint.h>
#include <windows.h>

#pragma pack(push, 1)
// Filled by GetPictureInfo: 26 bytes, no alignment gaps.
struct PictureInfoRecord {
  int32_t left;
  int32_t top;
  int32_t width;
  int32_t height;
  uint16_t reserved_1;
  uint16_t reserved_2;
  uint16_t bit_depth;
  HLOCAL reserved_handle;
};
#pragma pack(pop)
static_assert(sizeof(PictureInfoRecord) == 26, "PictureInfoRecord is byte-packed");

// Source mode, in the low three bits of `flags`.
constexpr uint32_t SOURCE_MODE_MASK = 7;
constexpr uint32_t SOURCE_FILE = 0;
constexpr uint32_t SOURCE_MEMORY = 1;

extern "C" {
int32_t __stdcall GetPluginInfo(int32_t info_index, char* buffer, int32_t buffer_length);
int32_t __stdcall IsSupported(const char* file_name, uint32_t data_or_handle);
int32_t __stdcall GetPictureInfo(const char* source, int32_t data_length, uint32_t flags,
                                 PictureInfoRecord* info);
int32_t __stdcall GetPicture(const char* source, int32_t data_length, uint32_t flags,
                             HLOCAL* info_slot, HLOCAL* bits_slot, void* callback,
                             void* callback_data);
int32_t __stdcall GetPreview(const char* source, int32_t data_length, uint32_t flags,
                             HLOCAL* info_slot, HLOCAL* bits_slot, void* callback,
                             void* callback_data);
}

#endif
