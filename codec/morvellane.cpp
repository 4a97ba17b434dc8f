#include "codec/morvellane.h"

namespace mrvln {

bool read_size_fields(ByteView bytes, SizeFields* out) {
  uint32_t width = 0;
  uint32_t height = 0;
  if (!read_u32le(bytes, OFFSET_BI_WIDTH, &width) || !read_u32le(bytes, OFFSET_BI_HEIGHT, &height))
    return false;
  out->width = static_cast<int32_t>(width);
  out->height = static_cast<int32_t>(height);
  return true;
}

bool is_morvellane(ByteView bytes) {
  ByteView fields;
  if (!sub_view(bytes, 0, ACCEPTANCE_FIELDS_END, &fields)) return false;
  uint16_t type = 0, planes = 0, bit_count = 0;
  uint32_t pixel_offset = 0, info_size = 0, width = 0, height = 0, compression = 0, size_image = 0;
  read_u16le(fields, OFFSET_BF_TYPE, &type);
  read_u32le(fields, OFFSET_BF_OFF_BITS, &pixel_offset);
  read_u32le(fields, OFFSET_BI_SIZE, &info_size);
  read_u32le(fields, OFFSET_BI_WIDTH, &width);
  read_u32le(fields, OFFSET_BI_HEIGHT, &height);
  read_u16le(fields, OFFSET_BI_PLANES, &planes);
  read_u16le(fields, OFFSET_BI_BIT_COUNT, &bit_count);
  read_u32le(fields, OFFSET_BI_COMPRESSION, &compression);
  read_u32le(fields, OFFSET_BI_SIZE_IMAGE, &size_image);
  // The marker of the format: the size of a 24-bit picture without row
  // alignment, as a wrapping 32-bit product.
  const uint32_t declared = width * 3u * height;
  return type == BITMAP_TYPE && pixel_offset == PIXEL_DATA_OFFSET &&
         info_size == INFO_HEADER_SIZE && planes == 1 && bit_count == SOURCE_BIT_COUNT &&
         compression == COMPRESSION_BITFIELDS && size_image == declared;
}

}  // namespace mrvln
