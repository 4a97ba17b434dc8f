// The SSSE3 path: byte shuffles place the triples.
#include "codec/convert_paths.h"

#if MRVLN_X86
#include <tmmintrin.h>

#define MRVLN_LANES_TARGET "ssse3"
#include "codec/convert_lanes.h"

namespace mrvln {

namespace {

template <bool kRedFirst>
__attribute__((target("ssse3"))) uint32_t triples_ssse3(const uint8_t* source, uint8_t* target,
                                                        uint32_t count) {
  // Sixteen words w0..w3 (four each) give 48 output bytes: every output
  // register takes the three bytes of each word it holds; -1 gives zero.
  const __m128i w0_to_out0 = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m128i w1_to_out0 =
      _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 2, 4);
  const __m128i w1_to_out1 =
      _mm_setr_epi8(5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i w2_to_out1 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 2, 4, 5, 6, 8, 9);
  const __m128i w2_to_out2 =
      _mm_setr_epi8(10, 12, 13, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i w3_to_out2 = _mm_setr_epi8(-1, -1, -1, -1, 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14);
  uint32_t done = 0;
  for (; count - done >= 16; done += 16) {
    const Words a = expand_eight<kRedFirst>(source + 2 * done);
    const Words b = expand_eight<kRedFirst>(source + 2 * done + 16);
    uint8_t* out = target + 3 * done;
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(out),
        _mm_or_si128(_mm_shuffle_epi8(a.low, w0_to_out0), _mm_shuffle_epi8(a.high, w1_to_out0)));
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(out + 16),
        _mm_or_si128(_mm_shuffle_epi8(a.high, w1_to_out1), _mm_shuffle_epi8(b.low, w2_to_out1)));
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(out + 32),
        _mm_or_si128(_mm_shuffle_epi8(b.low, w2_to_out2), _mm_shuffle_epi8(b.high, w3_to_out2)));
  }
  return done;
}

}  // namespace

void convert_run_ssse3(PixelFormat format, const uint8_t* source, uint8_t* target, uint32_t count) {
  convert_run_chunks<triples_ssse3<true>, triples_ssse3<false>>(format, source, target, count);
}

}  // namespace mrvln
#endif
