// ppm_to_morvellane IN.ppm OUT.bmp: a photograph (a binary 8-bit PPM, as
// ImageMagick writes it) as a Morvellane bitmap, each channel reduced to the
// nearest 5-6-5 level as mrvhost's encoder does; rows bottom first.
#include <stdio.h>

#include <string>
#include <vector>

#include "tests/fixtures/files.h"
#include "tests/fixtures/morvellane_builder.h"

namespace {

uint32_t nearest_level(uint32_t value, uint32_t max) {
  return (value * max + 127) / 255;
}

// The next number of a PPM header, past white space and # comments.
bool header_number(FILE* f, int* value) {
  int c = fgetc(f);
  while (c == '#' || c == ' ' || c == '\t' || c == '\n' || c == '\r') {
    if (c == '#')
      while (c != '\n' && c != EOF) c = fgetc(f);
    c = fgetc(f);
  }
  if (c < '0' || c > '9') return false;
  *value = 0;
  for (; c >= '0' && c <= '9' && *value < 1000000; c = fgetc(f)) *value = *value * 10 + (c - '0');
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';  // one white space ends it
}

bool read_ppm(const char* path, int* width, int* height, std::vector<uint8_t>* rgb) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return false;
  int max = 0;
  const bool header = fgetc(f) == 'P' && fgetc(f) == '6' && header_number(f, width) &&
                      header_number(f, height) && header_number(f, &max) && max == 255 &&
                      *width > 0 && *height > 0 && *width <= 65535 && *height <= 65535;
  if (header) {
    rgb->resize(static_cast<size_t>(*width) * static_cast<size_t>(*height) * 3);
    if (fread(rgb->data(), 1, rgb->size(), f) != rgb->size()) rgb->clear();
  }
  fclose(f);
  return header && !rgb->empty();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: ppm_to_morvellane IN.ppm OUT.bmp\n");
    return 2;
  }
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  if (!read_ppm(argv[1], &width, &height, &rgb)) {
    fprintf(stderr, "ppm_to_morvellane: %s is not a binary 8-bit PPM\n", argv[1]);
    return 1;
  }
  fixtures::MorvellaneBuilder b(width, height);
  for (uint32_t row = 0; row < b.rows(); ++row)
    for (uint32_t x = 0; x < b.width(); ++x) {
      const uint8_t* p = &rgb[(static_cast<size_t>(b.rows() - 1 - row) * b.width() + x) * 3];
      b.pixel(x, row,
              fixtures::pack565(nearest_level(p[0], 31), nearest_level(p[1], 63),
                                nearest_level(p[2], 31)));
    }
  if (!fixtures::write_file(argv[2], b.build())) {
    fprintf(stderr, "ppm_to_morvellane: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
