// png_filters ROUNDS LEVEL,... FILE...: which PNG row filter and which
// libdeflate level mrvconvert should use, measured on Morvellane bitmaps.
// Each picture is decoded by the core to RGB rows, filtered whole with None,
// Sub, Up, Average, Paeth and libpng's per-row choice (the filter whose bytes,
// read as signed, sum to the least magnitude), then compressed in one call
// at each level; and with mrvconvert's own Paeth filter, vectorised
// (tools/mrvconvert/png_filter.h), beside the plain C++ ones here. Prints,
// per filter and level, the total zlib stream size and the milliseconds a
// picture of filtering and of compressing (each the median of ROUNDS,
// averaged over the pictures).
#include <libdeflate.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "codec/reader.h"
#include "tests/fixtures/files.h"
#include "tools/mrvconvert/png_filter.h"

namespace {

enum Filter { kNone, kSub, kUp, kAverage, kPaeth, kPerRow, kMrvconvert, kFilters };
const char* const kNames[kFilters] = {
    "none", "Sub", "Up", "Average", "Paeth", "per row", "Paeth, mrvconvert's"};

struct Picture {
  std::string path;
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;  // rows top first, 3 * width bytes each
};

double now_ms() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

bool decode(const char* path, Picture* p) {
  std::vector<uint8_t> file;
  if (!fixtures::read_file(path, &file)) return false;
  mrvln::Reader reader;
  const mrvln::OutputLayout layout{mrvln::PIXEL_RGB24, mrvln::ROWS_TOP_FIRST, 1,
                                   mrvln::NO_OUTPUT_LIMIT};
  const mrvln::ByteView view{file.data(), static_cast<uint32_t>(file.size())};
  if (mrvln::reader_start(&reader, view, layout).reason != mrvln::REASON_NONE) return false;
  p->path = path;
  p->width = reader.width;
  p->height = reader.height;
  p->rgb.resize(reader.output_size);
  return mrvln::reader_set_output(&reader, p->rgb.data(), p->rgb.size()) &&
         mrvln::reader_decode(&reader, view).reason == mrvln::REASON_NONE;
}

uint8_t paeth(int a, int b, int c) {
  const int p = a + b - c, pa = abs(p - a), pb = abs(p - b), pc = abs(p - c);
  return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// One row with filter `f` (not kPerRow) into out[1..n], its type in out[0].
void filter_row(Filter f, const uint8_t* row, const uint8_t* above, size_t n, uint8_t* out) {
  out[0] = static_cast<uint8_t>(f);
  for (size_t i = 0; i < n; ++i) {
    const int a = i >= 3 ? row[i - 3] : 0, b = above != nullptr ? above[i] : 0,
              c = i >= 3 && above != nullptr ? above[i - 3] : 0;
    int predicted = 0;
    switch (f) {
      case kSub:
        predicted = a;
        break;
      case kUp:
        predicted = b;
        break;
      case kAverage:
        predicted = (a + b) / 2;
        break;
      case kPaeth:
        predicted = paeth(a, b, c);
        break;
      default:
        break;
    }
    out[1 + i] = static_cast<uint8_t>(row[i] - predicted);
  }
}

size_t magnitude(const uint8_t* bytes, size_t n) {
  size_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum += static_cast<size_t>(abs(static_cast<int8_t>(bytes[i])));
  return sum;
}

// The whole picture filtered, rows of 1 + 3 * width bytes.
void filter_picture(Filter f, const Picture& p, std::vector<uint8_t>* out) {
  const size_t n = 3 * static_cast<size_t>(p.width);
  out->resize((n + 1) * p.height);
  std::vector<uint8_t> trial(n + 1);
  for (uint32_t y = 0; y < p.height; ++y) {
    const uint8_t* row = &p.rgb[y * n];
    const uint8_t* above = y > 0 ? row - n : nullptr;
    uint8_t* to = &(*out)[y * (n + 1)];
    if (f == kMrvconvert) {
      std::vector<uint8_t> zeros(above == nullptr ? n : 0);
      to[0] = mrvconvert::kPngFilterPaeth;
      mrvconvert::paeth_row(row, above != nullptr ? above : zeros.data(), n, to + 1);
      continue;
    }
    if (f != kPerRow) {
      filter_row(f, row, above, n, to);
      continue;
    }
    filter_row(kNone, row, above, n, to);
    size_t best = magnitude(to + 1, n);
    for (Filter g : {kSub, kUp, kAverage, kPaeth}) {
      filter_row(g, row, above, n, trial.data());
      const size_t m = magnitude(trial.data() + 1, n);
      if (m < best) {
        best = m;
        std::copy(trial.begin(), trial.end(), to);
      }
    }
  }
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: png_filters ROUNDS LEVEL,... FILE...\n");
    return 2;
  }
  const int rounds = std::max(1, atoi(argv[1]));
  std::vector<int> levels;
  for (char* s = argv[2]; *s != '\0'; s += *s == ',') {
    char* end = nullptr;
    levels.push_back(static_cast<int>(strtol(s, &end, 10)));
    if (end == s) break;
    s = end;
  }
  std::vector<Picture> pictures(static_cast<size_t>(argc - 3));
  for (int i = 3; i < argc; ++i)
    if (!decode(argv[i], &pictures[static_cast<size_t>(i - 3)])) {
      fprintf(stderr, "png_filters: %s is not a Morvellane bitmap the core reads\n", argv[i]);
      return 1;
    }
  printf("%zu pictures, median of %d rounds; ms a picture (filter + compress), size in bytes\n",
         pictures.size(), rounds);
  printf("%-6s %-20s %10s %10s %12s\n", "level", "filter", "filter ms", "deflate ms", "size");
  std::vector<uint8_t> filtered, compressed;
  for (int level : levels) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(level);
    if (c == nullptr) {
      fprintf(stderr, "png_filters: libdeflate has no level %d\n", level);
      return 1;
    }
    for (int f = 0; f < kFilters; ++f) {
      double filter_ms = 0, deflate_ms = 0;
      size_t size = 0;
      for (const Picture& p : pictures) {
        std::vector<double> ft, dt;
        for (int r = 0; r < rounds; ++r) {
          const double t0 = now_ms();
          filter_picture(static_cast<Filter>(f), p, &filtered);
          const double t1 = now_ms();
          compressed.resize(libdeflate_zlib_compress_bound(c, filtered.size()));
          const size_t got = libdeflate_zlib_compress(c, filtered.data(), filtered.size(),
                                                      compressed.data(), compressed.size());
          dt.push_back(now_ms() - t1);
          ft.push_back(t1 - t0);
          if (got == 0) return 1;
          if (r == 0) size += got;
        }
        filter_ms += median(ft);
        deflate_ms += median(dt);
      }
      printf("%-6d %-20s %10.2f %10.2f %12zu\n", level, kNames[f], filter_ms / pictures.size(),
             deflate_ms / pictures.size(), size);
      fflush(stdout);
    }
    libdeflate_free_compressor(c);
  }
  return 0;
}
