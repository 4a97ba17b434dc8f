// write_bench_picture WIDTH HEIGHT OUT.bmp: the benchmark picture as a file,
// for the peers to decode.
#include <stdio.h>
#include <stdlib.h>

#include "bench/core/bench_picture.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: write_bench_picture WIDTH HEIGHT OUT.bmp\n");
    return 2;
  }
  const std::vector<uint8_t> file = bench::bench_picture(atoi(argv[1]), atoi(argv[2]));
  FILE* out = fopen(argv[3], "wb");
  if (out == nullptr || fwrite(file.data(), 1, file.size(), out) != file.size() || fclose(out)) {
    fprintf(stderr, "write_bench_picture: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
