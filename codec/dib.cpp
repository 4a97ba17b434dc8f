#include "codec/dib.h"

#include <string.h>

namespace mrvln {

void write_picture_info(const SizeFields& size, uint8_t record[PICTURE_INFO_SIZE]) {
  store_u32le(record + 0, 0);  // left
  store_u32le(record + 4, 0);  // top
  store_u32le(record + 8, static_cast<uint32_t>(size.width));
  store_u32le(record + 12, static_cast<uint32_t>(size.height));
  store_u16le(record + 16, 0);  // reserved_1
  store_u16le(record + 18, 0);  // reserved_2
  store_u16le(record + 20, OUTPUT_BIT_COUNT);
  store_u32le(record + 22, 0);  // reserved_handle
}

Result plan_picture(ByteView header, DecodePlan* out) {
  SizeFields h;
  if (!read_size_fields(header, &h)) return RESULT_BROKEN_DATA;
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
  // The plan holds rows * stride and 2 * width * rows within 32 bits, so no
  // offset below wraps.
  const uint32_t width = static_cast<uint32_t>(plan.width);
  for (uint32_t row = 0; row < plan.rows; ++row)
    convert_run(path, PIXEL_BGR24, stored.data + row * plan.source_row_size,
                pixels + row * plan.stride, width);
  return RESULT_SUCCESS;
}

}  // namespace mrvln
