// What only the DLL's exports do: the picture information record, the
// checked size plan of the 24-bit device-independent bitmap they hand over,
// its header, and its pixel block filled and converted in one pass. The
// other front ends read through codec/reader.h instead.
#ifndef MRVLN_CODEC_DIB_H
#define MRVLN_CODEC_DIB_H

#include <stdint.h>

#include "codec/convert.h"
#include "codec/morvellane.h"
#include "codec/result.h"

namespace mrvln {

constexpr uint32_t FILE_HEADER_READ_SIZE = 54;  // bytes read from a handle or file
constexpr uint32_t PICTURE_INFO_SIZE = 26;      // packed PictureInfoRecord
constexpr uint32_t OUTPUT_HEADER_SIZE = 40;     // BITMAPINFOHEADER of the result
constexpr uint16_t OUTPUT_BIT_COUNT = 24;

// Fills a 26-byte PictureInfoRecord: origin 0, the stored width and height,
// depth 24, reserved fields 0.
void write_picture_info(const SizeFields& size, uint8_t record[PICTURE_INFO_SIZE]);

// Everything the decoder needs to know, computed once with checked 32-bit
// arithmetic.
struct DecodePlan {
  int32_t width;              // as stored, never negative here
  int32_t height;             // as stored; negative means top-down rows
  uint32_t rows;              // |height|
  uint32_t stride;            // output row size, 3 * width rounded up to 4
  uint32_t pixel_block_size;  // rows * stride
  uint32_t source_size;       // 2 * width * rows, the stored pixel bytes
  uint32_t source_row_size;   // 2 * width, the stored bytes of one row
};

// Sizes the picture from its header alone (the first 26 bytes at least).
// RESULT_BROKEN_DATA when the size fields are missing, the width is negative
// or the height is the most negative value; RESULT_OUT_OF_MEMORY when a size
// does not fit in 32 bits.
Result plan_picture(ByteView header, DecodePlan* out);

// Whether a file of `file_size` bytes holds every stored row of the plan.
bool file_holds_rows(const DecodePlan& plan, uint64_t file_size);

// plan_picture, then RESULT_BROKEN_DATA unless `image` holds every row.
Result plan_decode(ByteView image, DecodePlan* out);

// Fills the 40-byte BITMAPINFOHEADER of the result.
void write_output_header(const DecodePlan& plan, uint8_t header[OUTPUT_HEADER_SIZE]);

// The pixel block: one 0xFF fill of the whole block, then every stored row
// converted to blue, green, red in stored order, with the fastest path of
// this processor or with `path`. `pixels` must be plan.pixel_block_size bytes;
// `image` must be the image the plan was made from.
Result decode_pixels(ByteView image, const DecodePlan& plan, uint8_t* pixels, uint32_t pixels_size);
Result decode_pixels(ByteView image, const DecodePlan& plan, uint8_t* pixels, uint32_t pixels_size,
                     ConvertPath path);

}  // namespace mrvln

#endif
