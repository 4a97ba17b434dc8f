// The baseline every benchmark compares with: the decoding loop written
// directly from the channel definition, one pixel at a time.
#ifndef MRVLN_BENCH_CORE_STRAIGHTFORWARD_H
#define MRVLN_BENCH_CORE_STRAIGHTFORWARD_H

#include <stdint.h>

namespace bench {

// Converts `rows` stored rows of `width` pixels from `source` into rows of
// `stride` bytes at `target`; the fill bytes are left as they are.
void straightforward_convert(const uint8_t* source, uint8_t* target, uint32_t width, uint32_t rows,
                             uint32_t stride);

}  // namespace bench

#endif
