#include "tools/mrvconvert/png_filter.h"

#include <stdlib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mrvconvert {

namespace {

// a: the byte to the left, b: above, c: above and to the left.
inline uint8_t predict(int a, int b, int c) {
  const int pa = abs(b - c), pb = abs(a - c), pc = abs(a + b - 2 * c);
  return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

#if defined(__SSE2__)
inline __m128i abs16(__m128i v) {
  return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

inline __m128i select16(__m128i mask, __m128i when_set, __m128i otherwise) {
  return _mm_or_si128(_mm_and_si128(mask, when_set), _mm_andnot_si128(mask, otherwise));
}

// predict() on eight bytes widened to 16 bits.
inline __m128i predict8(__m128i a, __m128i b, __m128i c) {
  const __m128i pa = abs16(_mm_sub_epi16(b, c)), pb = abs16(_mm_sub_epi16(a, c));
  const __m128i pc = abs16(_mm_sub_epi16(_mm_add_epi16(a, b), _mm_add_epi16(c, c)));
  const __m128i not_a = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
  return select16(not_a, select16(_mm_cmpgt_epi16(pb, pc), c, b), a);
}

inline __m128i load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
#endif

}  // namespace

void paeth_row(const uint8_t* row, const uint8_t* above, size_t n, uint8_t* out) {
  size_t i = 0;
  // The first pixel has nothing to its left: Paeth takes the byte above.
  for (; i < n && i < 3; ++i) out[i] = static_cast<uint8_t>(row[i] - above[i]);
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i a = load(row + i - 3), b = load(above + i), c = load(above + i - 3);
    const __m128i low = predict8(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero),
                                 _mm_unpacklo_epi8(c, zero));
    const __m128i high = predict8(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero),
                                  _mm_unpackhi_epi8(c, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                     _mm_sub_epi8(load(row + i), _mm_packus_epi16(low, high)));
  }
#endif
  for (; i < n; ++i)
    out[i] = static_cast<uint8_t>(row[i] - predict(row[i - 3], above[i], above[i - 3]));
}

}  // namespace mrvconvert
