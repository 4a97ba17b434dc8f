// The Morvellane bitmap's layout and its acceptance test, shared by the DLL's
// exports (codec/dib.h) and the reader of every other front end
// (codec/reader.h). Works on byte buffers only.
#ifndef MRVLN_CODEC_MORVELLANE_H
#define MRVLN_CODEC_MORVELLANE_H

#include <stdint.h>

#include "codec/byte_reader.h"

namespace mrvln {

// File layout: BITMAPFILEHEADER (14 bytes), BITMAPINFOHEADER (40 bytes),
// three colour masks (12 bytes, never read), then unaligned 16-bit rows.
constexpr uint32_t OFFSET_BF_TYPE = 0;
constexpr uint32_t OFFSET_BF_OFF_BITS = 10;
constexpr uint32_t OFFSET_BI_SIZE = 14;
constexpr uint32_t OFFSET_BI_WIDTH = 18;
constexpr uint32_t OFFSET_BI_HEIGHT = 22;
constexpr uint32_t OFFSET_BI_PLANES = 26;
constexpr uint32_t OFFSET_BI_BIT_COUNT = 28;
constexpr uint32_t OFFSET_BI_COMPRESSION = 30;
constexpr uint32_t OFFSET_BI_SIZE_IMAGE = 34;
constexpr uint32_t PIXEL_DATA_OFFSET = 66;

constexpr uint32_t SIZE_FIELDS_END = 26;        // width and height end here
constexpr uint32_t ACCEPTANCE_FIELDS_END = 38;  // the acceptance test reads no further

constexpr uint16_t BITMAP_TYPE = 0x4D42;  // "BM"
constexpr uint32_t INFO_HEADER_SIZE = 40;
constexpr uint16_t SOURCE_BIT_COUNT = 16;
constexpr uint32_t COMPRESSION_BITFIELDS = 3;  // BI_BITFIELDS

// biWidth and biHeight as stored; a negative height means top-down rows.
struct SizeFields {
  int32_t width;
  int32_t height;
};

// False when `bytes` is shorter than the size fields.
bool read_size_fields(ByteView bytes, SizeFields* out);

// The seven-condition acceptance test on the first 38 bytes; false when
// `bytes` is shorter.
bool is_morvellane(ByteView bytes);

}  // namespace mrvln

#endif
