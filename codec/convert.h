// The 5-6-5 to 24-bit conversion paths and the choice between them. Every
// path gives the same bytes; the vector ones only run on processors that
// have their instructions.
#ifndef MRVLN_CODEC_CONVERT_H
#define MRVLN_CODEC_CONVERT_H

#include <stdint.h>

namespace mrvln {

enum ConvertPath {
  CONVERT_PLAIN,  // any i686
  CONVERT_SSE2,
  CONVERT_SSSE3,
};
constexpr int CONVERT_PATH_COUNT = 3;

const char* convert_path_name(ConvertPath path);

// The fastest path this processor runs. Asks the processor on every call:
// the module keeps no state, and the question costs far less than a row.
ConvertPath best_convert_path();

// Whether this processor can run `path`.
bool convert_path_supported(ConvertPath path);

// Converts one run of `count` stored pixels to blue, green, red triples with
// the given path, which the processor must support. Reads exactly 2 * count
// bytes and writes exactly 3 * count.
void convert_run(ConvertPath path, const uint8_t* source, uint8_t* target, uint32_t count);

// The vector paths: 16 pixels at a time, the rest by the plain loop.
void convert_run_sse2(const uint8_t* source, uint8_t* target, uint32_t count);
void convert_run_ssse3(const uint8_t* source, uint8_t* target, uint32_t count);

}  // namespace mrvln

#endif
