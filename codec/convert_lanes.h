// Shared by the vector paths: eight stored pixels expanded with the channel
// expressions on 16-bit lanes (GCC and Clang vector types), where the
// compiler turns each division by 31 or 63 into a multiply-high and shifts,
// and the choice of chunk loop by pixel format with the plain tail.
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

#include "codec/convert_paths.h"

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

// Converts `count` pixels with the path's three-byte chunk loop for each
// channel order (red first, blue first) or the shared four-byte one, then the
// tail that makes no whole chunk with the plain loop. The loops come in the
// order the switch uses them, so the compiler lays out the code as before.
typedef uint32_t (*ChunkLoop)(const uint8_t* source, uint8_t* target, uint32_t count);
template <ChunkLoop kRedFirst, ChunkLoop kBlueFirst>
inline void convert_run_chunks(PixelFormat format, const uint8_t* source, uint8_t* target,
                               uint32_t count) {
  uint32_t done;
  switch (format) {
    case PIXEL_BGRX32:
    case PIXEL_RGBX32:
      done = quads_sse2(format, source, target, count);
      break;
    case PIXEL_RGB24:
      done = kRedFirst(source, target, count);
      break;
    case PIXEL_BGR24:
    default:
      done = kBlueFirst(source, target, count);
      break;
  }
  const uint32_t size = pixel_bytes(format);
  convert_run_plain(format, source + 2 * done, target + size * done, count - done);
}

}  // namespace
}  // namespace mrvln

#endif
