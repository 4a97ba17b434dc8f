// Drives the GIMP plug-in's reading (readers/gimp/morvellane_gimp_load.h),
// which is apart from libgimp, on each input as a file: the header, then the
// rows in strips of a height the input's last byte chooses. Every strip
// handed over is summed and checked to lie within the picture, so that the
// sanitizers see any row outside the strip's block.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include "readers/gimp/morvellane_gimp_load.h"

namespace {

struct Strips {
  uint32_t height;
  unsigned sum;
};

void put(void* context, uint32_t top, uint32_t rows, const uint8_t* pixels, uint32_t stride) {
  Strips* s = static_cast<Strips*>(context);
  if (rows == 0 || top > s->height || rows > s->height - top) abort();
  for (size_t i = 0; i < static_cast<size_t>(rows) * stride; ++i) s->sum += pixels[i];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One file in memory for every input, named as GIMP names a file.
  static const int fd = memfd_create("fuzz_gimp", 0);
  static char path[64];
  if (fd < 0) abort();
  if (path[0] == '\0') snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) abort();

  mrvln_gimp::Load load;
  if (mrvln_gimp::load_begin(&load, path, mrvln::DEFAULT_OUTPUT_LIMIT) ==
      mrvln_gimp::VERDICT_PICTURE) {
    Strips strips = {load.reader.height, 0};
    const uint32_t strip_rows = size ? data[size - 1] % 70 : 0;
    mrvln_gimp::load_rows(&load, strip_rows, {put, &strips}, nullptr);
    static volatile unsigned sink;
    sink = sink + strips.sum;
  }
  mrvln_gimp::load_end(&load);
  return 0;
}
