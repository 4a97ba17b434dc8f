// Fuzzes the information extraction: read_size_fields and write_picture_info over
// an arbitrary prefix of a file.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "codec/dib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> copy(data, data + size);
  mrvln::SizeFields header;
  const bool read = mrvln::read_size_fields(
      mrvln::ByteView{copy.data(), static_cast<uint32_t>(copy.size())}, &header);
  if (read != (size >= mrvln::SIZE_FIELDS_END)) abort();
  if (!read) return 0;

  uint8_t record[mrvln::PICTURE_INFO_SIZE];
  memset(record, 0xA5, sizeof record);
  mrvln::write_picture_info(header, record);
  // Origin 0, width and height copied byte for byte, depth 24, reserved 0.
  static const uint8_t zeros[8] = {};
  if (memcmp(record, zeros, 8) != 0 ||
      memcmp(record + 8, copy.data() + mrvln::OFFSET_BI_WIDTH, 8) != 0 ||
      memcmp(record + 16, zeros, 4) != 0 || record[20] != 24 || record[21] != 0 ||
      memcmp(record + 22, zeros, 4) != 0)
    abort();
  return 0;
}
