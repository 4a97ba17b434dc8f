// PNG's Paeth filter over 8-bit RGB rows: on the benchmark's photographs and
// on the samples it gave the smallest files at every libdeflate level, ahead
// of None, Sub, Up, Average and libpng's per-row choice, for about 1 ms a
// 1024 x 768 picture vectorised (bench/mrvconvert/png_filters.cpp).
#ifndef MRVLN_TOOLS_MRVCONVERT_PNG_FILTER_H
#define MRVLN_TOOLS_MRVCONVERT_PNG_FILTER_H

#include <stddef.h>
#include <stdint.h>

namespace mrvconvert {

constexpr uint8_t kPngFilterPaeth = 4;

// The `n` bytes of `row` (3 a pixel) filtered with Paeth against `above`
// (zeros for the first row) into `out`; `out` holds no filter type byte.
void paeth_row(const uint8_t* row, const uint8_t* above, size_t n, uint8_t* out);

}  // namespace mrvconvert

#endif
