// Pure logic of the Morvellane bitmap: its layout, the acceptance test, the
// picture information and the 5-6-5 to 24-bit conversion. Works on byte
// buffers only; the exports add the file and memory-block handling.
#ifndef MRVLN_CODEC_MORVELLANE_H
#define MRVLN_CODEC_MORVELLANE_H

#include <stdint.h>

#include "byte_reader.h"
#include "convert.h"
#include "result.h"

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

constexpr uint32_t FILE_HEADER_READ_SIZE = 54;  // bytes read from a handle or file
constexpr uint32_t SIZE_FIELDS_END = 26;        // width and height end here
constexpr uint32_t ACCEPTANCE_FIELDS_END = 38;  // the acceptance test reads no further

constexpr uint16_t BITMAP_TYPE = 0x4D42;  // "BM"
constexpr uint32_t INFO_HEADER_SIZE = 40;
constexpr uint16_t SOURCE_BIT_COUNT = 16;
constexpr uint32_t COMPRESSION_BITFIELDS = 3;  // BI_BITFIELDS

constexpr uint32_t PICTURE_INFO_SIZE = 26;   // packed PictureInfoRecord
constexpr uint32_t OUTPUT_HEADER_SIZE = 40;  // BITMAPINFOHEADER of the result
constexpr uint16_t OUTPUT_BIT_COUNT = 24;

// Header fields as stored. The size fields need the first 26 bytes; the
// format fields are filled only when the first 38 bytes are present.
struct Header {
  int32_t width;
  int32_t height;
  bool has_format_fields;
  uint16_t type;
  uint32_t pixel_offset;
  uint32_t info_size;
  uint16_t planes;
  uint16_t bit_count;
  uint32_t compression;
  uint32_t size_image;
};

// Parses what `bytes` holds of the header. RESULT_BROKEN_DATA when it is
// shorter than the size fields.
Result parse_header(ByteView bytes, Header* out);

// The seven-condition acceptance test on the first 38 bytes; false when
// `bytes` is shorter.
bool is_morvellane(ByteView bytes);

// Fills a 26-byte PictureInfoRecord: origin 0, the stored width and height,
// depth 24, reserved fields 0.
void write_picture_info(const Header& header, uint8_t record[PICTURE_INFO_SIZE]);

// Everything the decoder needs to know about the output, computed once with
// checked arithmetic.
struct DecodePlan {
  int32_t width;              // as stored, never negative here
  int32_t height;             // as stored; negative means top-down rows
  uint32_t rows;              // |height|
  uint32_t stride;            // output row size, 3 * width rounded up to 4
  uint32_t pixel_block_size;  // rows * stride
  uint32_t source_size;       // 2 * width * rows, the stored pixel bytes
};

// Checks the header against the file image and sizes the output. Refuses
// with RESULT_BROKEN_DATA when the image is too short for the header or the
// rows, the width is negative or the height is the most negative value, and
// with RESULT_OUT_OF_MEMORY when a size does not fit in 32 bits.
Result plan_decode(ByteView image, DecodePlan* out);

// Fills the 40-byte BITMAPINFOHEADER of the result.
void write_output_header(const DecodePlan& plan, uint8_t header[OUTPUT_HEADER_SIZE]);

// Fills the whole pixel block with 0xFF, then converts every stored pixel into
// it with the fastest path of this processor, or with `path`. `pixels` must be
// plan.pixel_block_size bytes; `image` must be the image the plan was made
// from.
Result decode_pixels(ByteView image, const DecodePlan& plan, uint8_t* pixels, uint32_t pixels_size);
Result decode_pixels(ByteView image, const DecodePlan& plan, uint8_t* pixels, uint32_t pixels_size,
                     ConvertPath path);

// Converts one run of `count` stored pixels to blue, green, red triples.
void convert_run_plain(const uint8_t* source, uint8_t* target, uint32_t count);

}  // namespace mrvln

#endif
