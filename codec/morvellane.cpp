#include "morvellane.h"

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

Result plan_decode(ByteView image, DecodePlan* out) {
  Header h;
  if (parse_header(image, &h) != RESULT_SUCCESS) return RESULT_BROKEN_DATA;
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
  if (PIXEL_DATA_OFFSET + source > image.size) return RESULT_BROKEN_DATA;

  out->width = h.width;
  out->height = h.height;
  out->rows = static_cast<uint32_t>(rows);
  out->stride = static_cast<uint32_t>(stride);
  out->pixel_block_size = static_cast<uint32_t>(block);
  out->source_size = static_cast<uint32_t>(source);
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

void convert_run_plain(const uint8_t* source, uint8_t* target, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t p = static_cast<uint32_t>(source[0]) | (static_cast<uint32_t>(source[1]) << 8);
    target[0] = static_cast<uint8_t>((p & 0x1F) * 255 / 31);
    target[1] = static_cast<uint8_t>(((p >> 5) & 0x3F) * 255 / 63);
    target[2] = static_cast<uint8_t>(((p >> 11) & 0x1F) * 255 / 31);
    source += 2;
    target += 3;
  }
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
  const uint32_t width = static_cast<uint32_t>(plan.width);
  const uint8_t* source = stored.data;
  uint8_t* target = pixels;
  for (uint32_t row = 0; row < plan.rows; ++row) {
    convert_run(path, source, target, width);
    source += 2 * width;  // stored rows follow each other without fill
    target += plan.stride;
  }
  return RESULT_SUCCESS;
}

}  // namespace mrvln
