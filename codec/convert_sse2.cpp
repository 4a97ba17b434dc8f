// The SSE2 path: the triples are packed with shifts and masks.
#include "codec/convert_paths.h"

#if MRVLN_X86
#include <emmintrin.h>

#define MRVLN_LANES_TARGET "sse2"
#include "codec/convert_lanes.h"

namespace mrvln {
namespace {

// Four words to their 12 triple bytes at the bottom of the register, zeros
// above.
__attribute__((target("sse2"))) inline __m128i pack_four(__m128i words) {
  // In each 64-bit half: first triple as is, second moved down next to it.
  const __m128i first = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
  const __m128i second = _mm_set_epi32(0x0000FFFF, static_cast<int>(0xFF000000u), 0x0000FFFF,
                                       static_cast<int>(0xFF000000u));
  const __m128i halves =
      _mm_or_si128(_mm_and_si128(words, first), _mm_and_si128(_mm_srli_epi64(words, 8), second));
  // The upper half's six bytes follow the lower half's six.
  return _mm_or_si128(_mm_move_epi64(halves), _mm_slli_si128(_mm_srli_si128(halves, 8), 6));
}

template <bool kRedFirst>
__attribute__((target("sse2"))) uint32_t triples_sse2(const uint8_t* source, uint8_t* target,
                                                      uint32_t count) {
  uint32_t done = 0;
  for (; count - done >= 16; done += 16) {
    const Words a = expand_eight<kRedFirst>(source + 2 * done);
    const Words b = expand_eight<kRedFirst>(source + 2 * done + 16);
    const __m128i t0 = pack_four(a.low);
    const __m128i t1 = pack_four(a.high);
    const __m128i t2 = pack_four(b.low);
    const __m128i t3 = pack_four(b.high);
    uint8_t* out = target + 3 * done;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(t0, _mm_slli_si128(t1, 12)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16),
                     _mm_or_si128(_mm_srli_si128(t1, 4), _mm_slli_si128(t2, 8)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32),
                     _mm_or_si128(_mm_srli_si128(t2, 8), _mm_slli_si128(t3, 4)));
  }
  return done;
}

// Each word gets its 0xFF and is stored as it is.
template <bool kRedFirst>
__attribute__((target("sse2"))) uint32_t quads(const uint8_t* source, uint8_t* target,
                                               uint32_t count) {
  const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  uint32_t done = 0;
  for (; count - done >= 8; done += 8) {
    const Words w = expand_eight<kRedFirst>(source + 2 * done);
    uint8_t* out = target + 4 * done;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(w.low, opaque));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_or_si128(w.high, opaque));
  }
  return done;
}

}  // namespace

uint32_t quads_sse2(PixelFormat format, const uint8_t* source, uint8_t* target, uint32_t count) {
  return format == PIXEL_RGBX32 ? quads<true>(source, target, count)
                                : quads<false>(source, target, count);
}

void convert_run_sse2(PixelFormat format, const uint8_t* source, uint8_t* target, uint32_t count) {
  convert_run_chunks<triples_sse2<true>, triples_sse2<false>>(format, source, target, count);
}

}  // namespace mrvln
#endif
