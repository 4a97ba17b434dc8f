// The conversion paths behind convert_run, for the conversion files alone:
// front ends choose a path through codec/convert.h.
#ifndef MRVLN_CODEC_CONVERT_PATHS_H
#define MRVLN_CODEC_CONVERT_PATHS_H

#include "codec/convert.h"

namespace mrvln {

// One pixel at a time, with the channel expressions as written.
void convert_run_plain(PixelFormat format, const uint8_t* source, uint8_t* target, uint32_t count);

#if MRVLN_X86
// 16 pixels at a time, the rest by the plain loop.
void convert_run_sse2(PixelFormat format, const uint8_t* source, uint8_t* target, uint32_t count);
void convert_run_ssse3(PixelFormat format, const uint8_t* source, uint8_t* target, uint32_t count);
// Four-byte pixels (PIXEL_BGRX32 or PIXEL_RGBX32) eight at a time with SSE2,
// for both vector paths; returns how many pixels it converted (count rounded
// down to a multiple of 8).
uint32_t quads_sse2(PixelFormat format, const uint8_t* source, uint8_t* target, uint32_t count);
#endif

#if MRVLN_SIMD128
// 8 (four-byte pixels) or 16 (three-byte pixels) at a time, the rest by the
// plain loop.
void convert_run_simd128(PixelFormat format, const uint8_t* source, uint8_t* target,
                         uint32_t count);
#endif

}  // namespace mrvln

#endif
