// The pictures every benchmark and peer comparison decodes: the colour chart
// with a per-pixel variation, so that neighbouring pixels differ in every
// channel as in a photograph.
#ifndef MRVLN_BENCH_CORE_BENCH_PICTURE_H
#define MRVLN_BENCH_CORE_BENCH_PICTURE_H

#include <stdint.h>

#include <vector>

#include "tests/fixtures/morvellane_builder.h"

namespace bench {

inline std::vector<uint8_t> bench_picture(int32_t width, int32_t height) {
  fixtures::MorvellaneBuilder b = fixtures::colour_chart(width, height);
  for (uint32_t row = 0; row < b.rows(); ++row)
    for (uint32_t x = 0; x < b.width(); ++x) {
      const uint32_t noise = ((row * 7919u + x) * 2654435761u) >> 29;  // 0..7
      b.pixel(x, row, static_cast<uint16_t>(b.pixel(x, row) ^ (noise | noise << 5 | noise << 11)));
    }
  return b.build();
}

}  // namespace bench

#endif
