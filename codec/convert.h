// The 5-6-5 conversion: pixel formats, paths, and the choice between paths.
// Every path gives the same bytes. The x86 vector paths exist on x86 only and
// run only on processors that have their instructions; the WebAssembly one
// exists only in builds for engines with 128-bit SIMD (-msimd128), since a
// module cannot hold instructions its engine lacks.
#ifndef MRVLN_CODEC_CONVERT_H
#define MRVLN_CODEC_CONVERT_H

#include <stdint.h>

#if defined(__i386__) || defined(__x86_64__)
#define MRVLN_X86 1
#else
#define MRVLN_X86 0
#endif

#if defined(__wasm_simd128__)
#define MRVLN_SIMD128 1
#else
#define MRVLN_SIMD128 0
#endif

namespace mrvln {

// How one converted pixel is laid out in memory.
enum PixelFormat {
  PIXEL_BGR24,   // blue, green, red: the DLL's rows, Qt's Format_BGR888
  PIXEL_RGB24,   // red, green, blue: gdk-pixbuf's RGB, Qt's Format_RGB888
  PIXEL_BGRX32,  // blue, green, red, 0xFF: Qt's Format_RGB32 on little-endian machines
  PIXEL_RGBX32,  // red, green, blue, 0xFF: the web's opaque RGBA, Qt's Format_RGBX8888
};

// Bytes per converted pixel: 3 or 4.
uint32_t pixel_bytes(PixelFormat format);

enum ConvertPath {
  CONVERT_PLAIN,    // any processor
  CONVERT_SSE2,     // x86 only
  CONVERT_SSSE3,    // x86 only
  CONVERT_SIMD128,  // WebAssembly built with SIMD only
};
constexpr int CONVERT_PATH_COUNT = 4;

const char* convert_path_name(ConvertPath path);

// The fastest path this processor runs. Asks the processor on every call:
// the DLL keeps no state, and the question costs far less than a row.
ConvertPath best_convert_path();

// Whether this processor can run `path`.
bool convert_path_supported(ConvertPath path);

// Converts one run of `count` stored pixels into `format` with `path`, which
// the processor must support. Reads exactly 2 * count bytes and writes
// exactly pixel_bytes(format) * count.
void convert_run(ConvertPath path, PixelFormat format, const uint8_t* source, uint8_t* target,
                 uint32_t count);

}  // namespace mrvln

#endif
