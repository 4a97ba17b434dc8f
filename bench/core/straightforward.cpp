#include "straightforward.h"

namespace bench {

void straightforward_convert(const uint8_t* source, uint8_t* target, uint32_t width, uint32_t rows,
                             uint32_t stride) {
  for (uint32_t y = 0; y < rows; ++y) {
    uint8_t* out = target + static_cast<uint64_t>(y) * stride;
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t p = static_cast<uint32_t>(source[0]) | (static_cast<uint32_t>(source[1]) << 8);
      source += 2;
      out[3 * x] = static_cast<uint8_t>((p & 0x1F) * 255 / 31);
      out[3 * x + 1] = static_cast<uint8_t>(((p >> 5) & 0x3F) * 255 / 63);
      out[3 * x + 2] = static_cast<uint8_t>(((p >> 11) & 0x1F) * 255 / 31);
    }
  }
}

}  // namespace bench
