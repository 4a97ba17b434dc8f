#include "codec/convert_paths.h"

#if MRVLN_X86
#include <cpuid.h>
#endif

namespace mrvln {

namespace {

// The channel expressions, each computed when needed: no table, nothing
// precomputed. The compiler keeps one loop per format.
template <PixelFormat kFormat>
void convert_plain(const uint8_t* source, uint8_t* target, uint32_t count) {
  constexpr uint32_t kBytes = kFormat == PIXEL_BGRX32 || kFormat == PIXEL_RGBX32 ? 4 : 3;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t p = static_cast<uint32_t>(source[0]) | (static_cast<uint32_t>(source[1]) << 8);
    const uint8_t blue = static_cast<uint8_t>((p & 0x1F) * 255 / 31);
    const uint8_t green = static_cast<uint8_t>(((p >> 5) & 0x3F) * 255 / 63);
    const uint8_t red = static_cast<uint8_t>(((p >> 11) & 0x1F) * 255 / 31);
    if (kFormat == PIXEL_RGB24 || kFormat == PIXEL_RGBX32) {
      target[0] = red;
      target[2] = blue;
    } else {
      target[0] = blue;
      target[2] = red;
    }
    target[1] = green;
    if (kBytes == 4) target[3] = 0xFF;
    source += 2;
    target += kBytes;
  }
}

}  // namespace

uint32_t pixel_bytes(PixelFormat format) {
  return format == PIXEL_BGRX32 || format == PIXEL_RGBX32 ? 4 : 3;
}

const char* convert_path_name(ConvertPath path) {
  switch (path) {
    case CONVERT_PLAIN:
      return "plain";
    case CONVERT_SSE2:
      return "sse2";
    case CONVERT_SSSE3:
      return "ssse3";
    case CONVERT_SIMD128:
      return "simd128";
  }
  return "?";
}

ConvertPath best_convert_path() {
#if MRVLN_X86
  // Every i686 has cpuid. Any system that runs this code saves the SSE
  // registers on task switches, so the feature bits alone decide.
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return CONVERT_PLAIN;
  if ((edx & bit_SSE2) == 0) return CONVERT_PLAIN;
  if ((ecx & bit_SSSE3) == 0) return CONVERT_SSE2;
  return CONVERT_SSSE3;
#elif MRVLN_SIMD128
  return CONVERT_SIMD128;
#else
  return CONVERT_PLAIN;
#endif
}

bool convert_path_supported(ConvertPath path) {
#if MRVLN_X86
  // Each x86 path needs the instructions of the one before it and more.
  return path >= CONVERT_PLAIN && path <= best_convert_path();
#else
  return path == CONVERT_PLAIN || path == best_convert_path();
#endif
}

void convert_run_plain(PixelFormat format, const uint8_t* source, uint8_t* target, uint32_t count) {
  switch (format) {
    case PIXEL_RGB24:
      return convert_plain<PIXEL_RGB24>(source, target, count);
    case PIXEL_BGRX32:
      return convert_plain<PIXEL_BGRX32>(source, target, count);
    case PIXEL_RGBX32:
      return convert_plain<PIXEL_RGBX32>(source, target, count);
    case PIXEL_BGR24:
      break;
  }
  convert_plain<PIXEL_BGR24>(source, target, count);
}

void convert_run(ConvertPath path, PixelFormat format, const uint8_t* source, uint8_t* target,
                 uint32_t count) {
#if MRVLN_X86
  switch (path) {
    case CONVERT_SSSE3:
      return convert_run_ssse3(format, source, target, count);
    case CONVERT_SSE2:
      return convert_run_sse2(format, source, target, count);
    case CONVERT_PLAIN:
    case CONVERT_SIMD128:
      break;
  }
#elif MRVLN_SIMD128
  if (path == CONVERT_SIMD128) return convert_run_simd128(format, source, target, count);
#else
  (void)path;
#endif
  convert_run_plain(format, source, target, count);
}

}  // namespace mrvln
