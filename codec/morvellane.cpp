#include "codec/morvellane.h"

#include <string.h>

namespace mrvln {

Result parse_header(ByteView bytes, Header* out) {
  uint32_t width = 0;
  uint32_t height = 0;
  if (!read_u32le(bytes, OFFSET_BI_WIDTH, &width) || !read_u32le(bytes, OFFSET_BI_HEIGHT, &height))
    return RESULT_BROKEN_DATA;
  Header h = {};
  h.width = static_cast<int32_t>(width);
  h.height = static_cast<int32_t>(height);
  h.has_format_fields = view_holds(bytes, 0, ACCEPTANCE_FIELDS_END) &&
                        read_u16le(bytes, OFFSET_BF_TYPE, &h.type) &&
                        read_u32le(bytes, OFFSET_BF_OFF_BITS, &h.pixel_offset) &&
                        read_u32le(bytes, OFFSET_BI_SIZE, &h.info_size) &&
                        read_u16le(bytes, OFFSET_BI_PLANES, &h.planes) &&
                        read_u16le(bytes, OFFSET_BI_BIT_COUNT, &h.bit_count) &&
                        read_u32le(bytes, OFFSET_BI_COMPRESSION, &h.compression) &&
                        read_u32le(bytes, OFFSET_BI_SIZE_IMAGE, &h.size_image);
  *out = h;
  return RESULT_SUCCESS;
}

bool is_morvellane(ByteView bytes) {
  Header h;
  if (parse_header(bytes, &h) != RESULT_SUCCESS || !h.has_format_fields) return false;
  // The marker of the format: the size of a 24-bit picture without row
  // alignment, as a wrapping 32-bit product.
  const uint32_t declared = static_cast<uint32_t>(h.width) * 3u * static_cast<uint32_t>(h.height);
  return h.type == BITMAP_TYPE && h.pixel_offset == PIXEL_DATA_OFFSET &&
         h.info_size == INFO_HEADER_SIZE && h.planes == 1 && h.bit_count == SOURCE_BIT_COUNT &&
         h.compression == COMPRESSION_BITFIELDS && h.size_image == declared;
}

void write_picture_info(const Header& header, uint8_t record[PICTURE_INFO_SIZE]) {
  store_u32le(record + 0, 0);  // left
  store_u32le(record + 4, 0);  // top
  store_u32le(record + 8, static_cast<uint32_t>(header.width));
  store_u32le(record + 12, static_cast<uint32_t>(header.height));
  store_u16le(record + 16, 0);  // reserved_1
  store_u16le(record + 18, 0);  // reserved_2
  store_u16le(record + 20, OUTPUT_BIT_COUNT);
  store_u32le(record + 22, 0);  // reserved_handle
}

Result plan_picture(ByteView header, DecodePlan* out) {
  Header h;
  if (parse_header(header, &h) != RESULT_SUCCESS) return RESULT_BROKEN_DATA;
  if (h.width < 0 || h.height == INT32_MIN) return RESULT_BROKEN_DATA;

  const uint64_t width = static_cast<uint64_t>(h.width);
  const uint64_t rows = h.height < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(h.height))
                                     : static_cast<uint64_t>(h.height);
  const uint64_t row_bits = width * 24 + 31;
  if (row_bits > UINT32_MAX) return RESULT_OUT_OF_MEMORY;
  const uint64_t stride = (row_bits >> 5) * 4;
  const uint64_t block = rows * stride;
  if (block > UINT32_MAX) return RESULT_OUT_OF_MEMORY;
  // Each stored pixel takes 2 bytes and each output pixel 3, so the stored
  // size fits in 32 bits whenever the block does.
  const uint64_t source = 2 * width * rows;

  out->width = h.width;
  out->height = h.height;
  out->rows = static_cast<uint32_t>(rows);
  out->stride = static_cast<uint32_t>(stride);
  out->pixel_block_size = static_cast<uint32_t>(block);
  out->source_size = static_cast<uint32_t>(source);
  out->source_row_size = static_cast<uint32_t>(2 * width);
  return RESULT_SUCCESS;
}

bool file_holds_rows(const DecodePlan& plan, uint64_t file_size) {
  return PIXEL_DATA_OFFSET + static_cast<uint64_t>(plan.source_size) <= file_size;
}

Result plan_decode(ByteView image, DecodePlan* out) {
  DecodePlan plan;
  const Result planned = plan_picture(image, &plan);
  if (planned != RESULT_SUCCESS) return planned;
  if (!file_holds_rows(plan, image.size)) return RESULT_BROKEN_DATA;
  *out = plan;
  return RESULT_SUCCESS;
}

void write_output_header(const DecodePlan& plan, uint8_t header[OUTPUT_HEADER_SIZE]) {
  memset(header, 0, OUTPUT_HEADER_SIZE);
  store_u32le(header + 0, OUTPUT_HEADER_SIZE);                  // biSize
  store_u32le(header + 4, static_cast<uint32_t>(plan.width));   // biWidth
  store_u32le(header + 8, static_cast<uint32_t>(plan.height));  // biHeight, sign kept
  store_u16le(header + 12, 1);                                  // biPlanes
  store_u16le(header + 14, OUTPUT_BIT_COUNT);                   // biBitCount
}

Result decode_pixels(ByteView image, const DecodePlan& plan, uint8_t* pixels,
                     uint32_t pixels_size) {
  return decode_pixels(image, plan, pixels, pixels_size, best_convert_path());
}

Result decode_pixels(ByteView image, const DecodePlan& plan, uint8_t* pixels, uint32_t pixels_size,
                     ConvertPath path) {
  ByteView stored;
  if (pixels_size != plan.pixel_block_size ||
      !sub_view(image, PIXEL_DATA_OFFSET, plan.source_size, &stored))
    return RESULT_BROKEN_DATA;
  if (pixels_size == 0) return RESULT_SUCCESS;

  // One fill gives every row its trailing 0xFF bytes.
  memset(pixels, 0xFF, pixels_size);
  const OutputLayout layout = {PIXEL_BGR24, ROWS_AS_STORED, plan.stride, false};
  return decode_rows(plan, layout, stored, 0, plan.rows, pixels, pixels_size, path);
}

uint32_t output_row(const DecodePlan& plan, RowOrder order, uint32_t stored_row) {
  const bool flip = order == ROWS_TOP_FIRST && plan.height > 0;
  return flip ? plan.rows - 1 - stored_row : stored_row;
}

Result plan_image(ByteView header, PixelFormat format, uint32_t row_alignment,
                  uint64_t output_limit, ImagePlan* out) {
  DecodePlan picture;
  const Result planned = plan_picture(header, &picture);
  if (planned != RESULT_SUCCESS) return planned;
  if (picture.width == 0 || picture.rows == 0) return RESULT_BROKEN_DATA;
  const uint64_t align = row_alignment == 0 ? 1 : row_alignment;
  const uint64_t row_bytes = static_cast<uint64_t>(picture.width) * pixel_bytes(format);
  const uint64_t stride = (row_bytes + align - 1) / align * align;
  // Below 2^35 and 2^31: the product cannot overflow 64 bits.
  const uint64_t size = stride * picture.rows;
  if (stride > UINT32_MAX || size > output_limit) return RESULT_OUT_OF_MEMORY;
  out->picture = picture;
  out->layout = OutputLayout{format, ROWS_TOP_FIRST, static_cast<uint32_t>(stride), false};
  out->output_size = size;
  return RESULT_SUCCESS;
}

Result decode_rows(const DecodePlan& plan, const OutputLayout& layout, ByteView rows,
                   uint32_t first, uint32_t count, uint8_t* output, uint64_t output_size) {
  return decode_rows(plan, layout, rows, first, count, output, output_size, best_convert_path());
}

Result decode_rows(const DecodePlan& plan, const OutputLayout& layout, ByteView rows,
                   uint32_t first, uint32_t count, uint8_t* output, uint64_t output_size,
                   ConvertPath path) {
  const uint64_t width = static_cast<uint32_t>(plan.width);
  const uint64_t row_bytes = width * pixel_bytes(layout.format);
  const uint64_t stored_row_bytes = plan.source_row_size;
  if (count > plan.rows || first > plan.rows - count || rows.size != stored_row_bytes * count ||
      layout.stride < row_bytes)
    return RESULT_BROKEN_DATA;
  if (count == 0 || width == 0) return RESULT_SUCCESS;
  // The furthest output row these stored rows reach must lie in the block.
  const uint64_t a = output_row(plan, layout.row_order, first);
  const uint64_t b = output_row(plan, layout.row_order, first + count - 1);
  if ((a > b ? a : b) * layout.stride + row_bytes > output_size) return RESULT_BROKEN_DATA;

  const uint32_t w = static_cast<uint32_t>(width);
  for (uint32_t i = 0; i < count; ++i) {
    const size_t at = static_cast<size_t>(output_row(plan, layout.row_order, first + i));
    uint8_t* target = output + at * layout.stride;
    convert_run(path, layout.format, rows.data + static_cast<size_t>(stored_row_bytes) * i, target,
                w);
    if (layout.fill_row_ends)
      memset(target + row_bytes, 0xFF, static_cast<size_t>(layout.stride - row_bytes));
  }
  return RESULT_SUCCESS;
}

}  // namespace mrvln
