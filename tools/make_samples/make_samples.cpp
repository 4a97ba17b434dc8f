// Writes the sample pictures that the main job decodes: colourful Morvellane
// bitmaps (one of odd width, one stored top-down) and two files the plug-in
// must refuse. Usage: make_samples DIR
#include <stdio.h>

#include <string>
#include <vector>

#include "tests/fixtures/morvellane_builder.h"
#include "tests/fixtures/files.h"

namespace {

// A radial blend over the whole picture: red rises to the right, green to the
// top, blue towards the centre.
fixtures::MorvellaneBuilder blend(int32_t width, int32_t height) {
  fixtures::MorvellaneBuilder b(width, height);
  const uint32_t w = b.width(), h = b.rows();
  for (uint32_t row = 0; row < h; ++row) {
    const uint32_t y = height < 0 ? row : h - 1 - row;  // from the top
    for (uint32_t x = 0; x < w; ++x) {
      const int32_t dx = static_cast<int32_t>(2 * x) - static_cast<int32_t>(w);
      const int32_t dy = static_cast<int32_t>(2 * y) - static_cast<int32_t>(h);
      const uint32_t d2 = static_cast<uint32_t>(dx * dx + dy * dy);
      const uint32_t r2 = w * w + h * h;
      const uint32_t centre = d2 >= r2 ? 0 : 31 - d2 * 31 / r2;
      b.pixel(x, row, fixtures::pack565(x * 31 / (w - 1), (h - 1 - y) * 63 / (h - 1), centre));
    }
  }
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_samples DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  struct Sample {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  fixtures::MorvellaneBuilder standard(16, 16);  // a plain 24-bit bitmap header
  standard.header().biBitCount = 24;
  standard.header().biCompression = 0;
  standard.header().bfOffBits = 54;
  std::vector<uint8_t> truncated = fixtures::colour_chart(64, 64).build();
  truncated.resize(truncated.size() / 2);
  const Sample samples[] = {
      {"colour_chart_320x240.bmp", fixtures::colour_chart(320, 240).build()},
      {"colour_chart_odd_173x97.bmp", fixtures::colour_chart(173, 97).build()},
      {"blend_top_down_255x-128.bmp", blend(255, -128).build()},
      {"not_morvellane_24bit.bmp", standard.build()},
      {"truncated_64x64.bmp", truncated},
  };
  for (const Sample& s : samples) {
    const std::string path = dir + "/" + s.name;
    if (!fixtures::write_file(path, s.bytes)) {
      fprintf(stderr, "make_samples: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
