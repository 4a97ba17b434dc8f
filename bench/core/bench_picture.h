// The pictures every benchmark and peer comparison decodes: the colour chart
// with a per-pixel variation, so that neighbouring pixels differ in every
// channel as in a photograph.
#ifndef MRVLN_BENCH_CORE_BENCH_PICTURE_H
#define MRVLN_BENCH_CORE_BENCH_PICTURE_H

#include <stdint.h>

#include <vector>

#include "tests/fixtures/little_endian.h"
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

// A Morvellane bitmap as a standard 24-bit BMP (rows aligned to 4 bytes, bottom
// row first), its pixels from the fixtures' hand-written channel tables.
inline std::vector<uint8_t> as_bmp24(const std::vector<uint8_t>& file) {
  const uint32_t width = fixtures::le32(file, 18);
  const int32_t height = static_cast<int32_t>(fixtures::le32(file, 22));
  const uint32_t rows = height < 0 ? 0u - static_cast<uint32_t>(height) : height;
  const uint32_t stride = (width * 3 + 3) & ~3u;
  std::vector<uint8_t> out;
  fixtures::put16(out, 0x4D42);
  fixtures::put32(out, 54 + stride * rows);
  fixtures::put32(out, 0);
  fixtures::put32(out, 54);
  fixtures::put32(out, 40);
  fixtures::put32(out, width);
  fixtures::put32(out, rows);  // bottom row first
  fixtures::put16(out, 1);
  fixtures::put16(out, 24);
  for (int i = 0; i < 6; ++i) fixtures::put32(out, 0);
  out.resize(54 + static_cast<size_t>(stride) * rows, 0);
  for (uint32_t r = 0; r < rows; ++r) {
    const uint32_t y = height < 0 ? rows - 1 - r : r;  // output row from the bottom
    for (uint32_t x = 0; x < width; ++x) {
      const fixtures::Bgr e = fixtures::expected_bgr(
          fixtures::le16(file, 66 + 2 * (static_cast<size_t>(r) * width + x)));
      uint8_t* p = &out[54 + static_cast<size_t>(y) * stride + 3 * x];
      p[0] = e.b;
      p[1] = e.g;
      p[2] = e.r;
    }
  }
  return out;
}

}  // namespace bench

#endif
