// write_bench_picture WIDTH HEIGHT OUT.bmp [OUT24.bmp]: the benchmark picture
// as a Morvellane bitmap, for the readers and the peers to decode, and the
// same picture as a standard 24-bit BMP (rows aligned to 4 bytes, bottom row
// first), for the stock readers beside them. The 24-bit pixels come from the
// fixtures' hand-written channel tables, not from the decoder.
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "bench/core/bench_picture.h"
#include "tests/fixtures/files.h"
#include "tests/fixtures/little_endian.h"

namespace {

std::vector<uint8_t> as_bmp24(const std::vector<uint8_t>& file) {
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    fprintf(stderr, "usage: write_bench_picture WIDTH HEIGHT OUT.bmp [OUT24.bmp]\n");
    return 2;
  }
  const std::vector<uint8_t> file = bench::bench_picture(atoi(argv[1]), atoi(argv[2]));
  const std::string out = argv[3];
  if (!fixtures::write_file(out, file) ||
      (argc == 5 && !fixtures::write_file(argv[4], as_bmp24(file)))) {
    fprintf(stderr, "write_bench_picture: cannot write %s\n", argc == 5 ? argv[4] : argv[3]);
    return 1;
  }
  return 0;
}
