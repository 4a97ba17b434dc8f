// Pure logic of the Morvellane bitmap: its layout, the acceptance test, the
// picture information, the checked size plan and the decoding of rows into
// the layout a front end asks for. Works on byte buffers only; each front end
// (the DLL's exports, the Qt plug-in, the gdk-pixbuf loader) adds its own
// file and memory handling.
#ifndef MRVLN_CODEC_MORVELLANE_H
#define MRVLN_CODEC_MORVELLANE_H

#include <stdint.h>

#include "codec/byte_reader.h"
#include "codec/convert.h"
#include "codec/result.h"

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

// Everything the decoder needs to know, computed once with checked
// arithmetic. The stride and block size are those of the DLL's 24-bit rows.
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

// Fills the 40-byte BITMAPINFOHEADER of the DLL's result.
void write_output_header(const DecodePlan& plan, uint8_t header[OUTPUT_HEADER_SIZE]);

// The DLL's pixel block: one 0xFF fill of the whole block, then every stored
// row converted to blue, green, red in stored order, with the fastest path of
// this processor or with `path`. `pixels` must be plan.pixel_block_size bytes;
// `image` must be the image the plan was made from.
Result decode_pixels(ByteView image, const DecodePlan& plan, uint8_t* pixels, uint32_t pixels_size);
Result decode_pixels(ByteView image, const DecodePlan& plan, uint8_t* pixels, uint32_t pixels_size,
                     ConvertPath path);

// Where converted rows go, for front ends other than the DLL.
enum RowOrder {
  ROWS_AS_STORED,  // output row r is stored row r (bottom row first when the height is positive)
  ROWS_TOP_FIRST,  // the picture's top row first, whatever the stored order
};

struct OutputLayout {
  PixelFormat format;
  RowOrder row_order;
  uint32_t stride;     // bytes from one output row to the next
  bool fill_row_ends;  // set the bytes behind each row's last pixel to 0xFF
};

// The output row that stored row `stored_row` becomes.
uint32_t output_row(const DecodePlan& plan, RowOrder order, uint32_t stored_row);

// A picture as a viewer shows it: sized from its header, rows aligned to
// `row_alignment` bytes (a power of two), top row first.
struct ImagePlan {
  DecodePlan picture;
  OutputLayout layout;
  uint64_t output_size;  // layout.stride * picture.rows
};

// What viewers refuse besides what plan_picture refuses: a picture with no
// pixels (RESULT_BROKEN_DATA), and one whose output would exceed
// `output_limit` bytes (RESULT_OUT_OF_MEMORY). The acceptance test is the
// caller's, before this.
Result plan_image(ByteView header, PixelFormat format, uint32_t row_alignment,
                  uint64_t output_limit, ImagePlan* out);

// Qt 6's default allocation limit, which the other front ends adopt.
constexpr uint64_t DEFAULT_OUTPUT_LIMIT = 256ull << 20;

// Converts stored rows first .. first + count - 1, whose bytes are exactly
// `rows` (2 * width * count), into `output` (a block of output_size bytes)
// by `layout`. Rows may come in any number of calls, as their bytes arrive.
// RESULT_BROKEN_DATA, with nothing written, when the rows lie outside the
// picture, `rows` is not their size, or a row would not fit in the block.
Result decode_rows(const DecodePlan& plan, const OutputLayout& layout, ByteView rows,
                   uint32_t first, uint32_t count, uint8_t* output, uint64_t output_size);
Result decode_rows(const DecodePlan& plan, const OutputLayout& layout, ByteView rows,
                   uint32_t first, uint32_t count, uint8_t* output, uint64_t output_size,
                   ConvertPath path);

}  // namespace mrvln

#endif
