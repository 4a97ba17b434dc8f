// morvellane_to_bmp24 IN.bmp OUT.bmp: a Morvellane bitmap as the standard
// 24-bit BMP of the same picture, for ImageMagick's side of run.sh.
#include <stdio.h>

#include "bench/core/bench_picture.h"
#include "tests/fixtures/files.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: morvellane_to_bmp24 IN.bmp OUT.bmp\n");
    return 2;
  }
  std::vector<uint8_t> file;
  if (!fixtures::read_file(argv[1], &file) || file.size() < 66) {
    fprintf(stderr, "morvellane_to_bmp24: cannot read %s\n", argv[1]);
    return 1;
  }
  if (!fixtures::write_file(argv[2], bench::as_bmp24(file))) {
    fprintf(stderr, "morvellane_to_bmp24: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
