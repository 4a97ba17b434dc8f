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

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    fprintf(stderr, "usage: write_bench_picture WIDTH HEIGHT OUT.bmp [OUT24.bmp]\n");
    return 2;
  }
  const std::vector<uint8_t> file = bench::bench_picture(atoi(argv[1]), atoi(argv[2]));
  const std::string out = argv[3];
  if (!fixtures::write_file(out, file) ||
      (argc == 5 && !fixtures::write_file(argv[4], bench::as_bmp24(file)))) {
    fprintf(stderr, "write_bench_picture: cannot write %s\n", argc == 5 ? argv[4] : argv[3]);
    return 1;
  }
  return 0;
}
