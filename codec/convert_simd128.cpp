// The WebAssembly SIMD path: eight stored pixels per 128-bit vector. The
// channel expressions become one multiply and shift on 16-bit lanes each:
// WebAssembly has no multiply-high, so the compiler would divide lane by lane.
#include "codec/convert_paths.h"

#if MRVLN_SIMD128
#include <wasm_simd128.h>

namespace mrvln {

namespace {

// Eight stored pixels as the 32-bit words first | green << 8 | last << 16 |
// top << 24, in two vectors of four. First is blue, or red when kRedFirst.
struct Words {
  v128_t low, high;
};

// v * 255 / 31 is (v * 1053) >> 7 for every 5-bit v, and v * 255 / 63 is
// 4 * v + ((v * 49) >> 10) for every 6-bit v; no product leaves 16 bits.
template <bool kRedFirst>
inline Words expand_eight(const uint8_t* source, uint16_t top) {
  const v128_t p = wasm_v128_load(source);
  const v128_t five = wasm_i16x8_splat(1053);
  const v128_t blue =
      wasm_u16x8_shr(wasm_i16x8_mul(wasm_v128_and(p, wasm_i16x8_splat(0x1F)), five), 7);
  const v128_t red = wasm_u16x8_shr(wasm_i16x8_mul(wasm_u16x8_shr(p, 11), five), 7);
  const v128_t g = wasm_v128_and(wasm_u16x8_shr(p, 5), wasm_i16x8_splat(0x3F));
  const v128_t green = wasm_i16x8_add(wasm_i16x8_shl(g, 2),
                                      wasm_u16x8_shr(wasm_i16x8_mul(g, wasm_i16x8_splat(49)), 10));
  const v128_t first_green = wasm_v128_or(kRedFirst ? red : blue, wasm_i16x8_shl(green, 8));
  const v128_t last_top = wasm_v128_or(kRedFirst ? blue : red, wasm_i16x8_splat(top << 8));
  return Words{wasm_i16x8_shuffle(first_green, last_top, 0, 8, 1, 9, 2, 10, 3, 11),
               wasm_i16x8_shuffle(first_green, last_top, 4, 12, 5, 13, 6, 14, 7, 15)};
}

template <bool kRedFirst>
uint32_t quads(const uint8_t* source, uint8_t* target, uint32_t count) {
  uint32_t done = 0;
  for (; count - done >= 8; done += 8) {
    const Words w = expand_eight<kRedFirst>(source + 2 * done, 0xFF);
    wasm_v128_store(target + 4 * done, w.low);
    wasm_v128_store(target + 4 * done + 16, w.high);
  }
  return done;
}

// Sixteen pixels, words w0..w3, give 48 output bytes: each output vector
// takes the three low bytes of every word it holds, from two adjacent words.
template <bool kRedFirst>
uint32_t triples(const uint8_t* source, uint8_t* target, uint32_t count) {
  uint32_t done = 0;
  for (; count - done >= 16; done += 16) {
    const Words a = expand_eight<kRedFirst>(source + 2 * done, 0);
    const Words b = expand_eight<kRedFirst>(source + 2 * done + 16, 0);
    uint8_t* out = target + 3 * done;
    wasm_v128_store(out, wasm_i8x16_shuffle(a.low, a.high, 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14,
                                            16, 17, 18, 20));
    wasm_v128_store(out + 16, wasm_i8x16_shuffle(a.high, b.low, 5, 6, 8, 9, 10, 12, 13, 14, 16, 17,
                                                 18, 20, 21, 22, 24, 25));
    wasm_v128_store(out + 32, wasm_i8x16_shuffle(b.low, b.high, 10, 12, 13, 14, 16, 17, 18, 20, 21,
                                                 22, 24, 25, 26, 28, 29, 30));
  }
  return done;
}

}  // namespace

void convert_run_simd128(PixelFormat format, const uint8_t* source, uint8_t* target,
                         uint32_t count) {
  uint32_t done;
  switch (format) {
    case PIXEL_RGBX32:
      done = quads<true>(source, target, count);
      break;
    case PIXEL_BGRX32:
      done = quads<false>(source, target, count);
      break;
    case PIXEL_RGB24:
      done = triples<true>(source, target, count);
      break;
    case PIXEL_BGR24:
    default:
      done = triples<false>(source, target, count);
      break;
  }
  const uint32_t size = pixel_bytes(format);
  convert_run_plain(format, source + 2 * done, target + size * done, count - done);
}

}  // namespace mrvln
#endif
