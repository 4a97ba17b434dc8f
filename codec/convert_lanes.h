// Shared by the vector paths: eight stored pixels expanded with the channel
// expressions on 16-bit lanes (GCC and Clang vector types), where the
// compiler turns each division by 31 or 63 into a multiply-high and shifts.
// The including file defines MRVLN_LANES_TARGET as its instruction set, so
// that its copy is compiled for that set alone.
#ifndef MRVLN_CODEC_CONVERT_LANES_H
#define MRVLN_CODEC_CONVERT_LANES_H

#ifndef MRVLN_LANES_TARGET
#error "define MRVLN_LANES_TARGET before including convert_lanes.h"
#endif

#include <emmintrin.h>
#include <stdint.h>
#include <string.h>

namespace mrvln {
namespace {

typedef uint16_t Lanes __attribute__((vector_size(16)));

// Eight stored pixels as 32-bit words: first | green << 8 | last << 16, in
// two registers of four. First is blue, or red when kRedFirst.
struct Words {
  __m128i low, high;
};

template <bool kRedFirst>
__attribute__((target(MRVLN_LANES_TARGET))) inline Words expand_eight(const uint8_t* source) {
  Lanes p;
  memcpy(&p, source, sizeof p);
  const Lanes blue = (p & 0x1F) * 255 / 31;
  const Lanes green = ((p >> 5) & 0x3F) * 255 / 63;
  const Lanes red = ((p >> 11) & 0x1F) * 255 / 31;
  const __m128i first_green = reinterpret_cast<__m128i>((kRedFirst ? red : blue) | green << 8);
  const __m128i last = reinterpret_cast<__m128i>(kRedFirst ? blue : red);
  return Words{_mm_unpacklo_epi16(first_green, last), _mm_unpackhi_epi16(first_green, last)};
}

}  // namespace
}  // namespace mrvln

#endif
