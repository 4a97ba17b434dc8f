// Drives the libvips module's buffer loader, which libvips loads from the
// build tree's home (VIPSHOME). The input is the file; its last byte picks
// how the pixels are asked for: sequential access read top down, or random
// access read in strips from the bottom up, as a program that crops or
// flips may ask. Every pixel read is summed, so that the sanitizers see any
// row written outside libvips' regions.
#include <stddef.h>
#include <stdint.h>
#include <vips/vips.h>

namespace {

unsigned sum_strips(VipsImage* image, int strip, bool bottom_up) {
  unsigned sum = 0;
  VipsRegion* region = vips_region_new(image);
  const int strips = (image->Ysize + strip - 1) / strip;
  for (int i = 0; i < strips; ++i) {
    const int top = (bottom_up ? strips - 1 - i : i) * strip;
    VipsRect rect = {0, top, image->Xsize, MIN(strip, image->Ysize - top)};
    if (vips_region_prepare(region, &rect) != 0) break;
    for (int y = rect.top; y < rect.top + rect.height; ++y) {
      const VipsPel* row = VIPS_REGION_ADDR(region, 0, y);
      for (size_t b = 0; b < VIPS_REGION_SIZEOF_LINE(region); ++b) sum += row[b];
    }
  }
  g_object_unref(region);
  return sum;
}

bool start() {
  if (VIPS_INIT("fuzz_vips") != 0) return false;
  vips_cache_set_max(0);  // every input loaded afresh
  vips_concurrency_set(1);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = start();
  if (!started || size == 0) return 0;
  const uint8_t how = data[size - 1];
  VipsBlob* blob = vips_blob_new(nullptr, data, size);
  VipsImage* image = nullptr;
  // Only this module's loader: libvips' own are not fuzzed here.
  const VipsAccess access = how & 1 ? VIPS_ACCESS_RANDOM : VIPS_ACCESS_SEQUENTIAL;
  if (vips_call("morvellaneload_buffer", blob, &image, "access", access, nullptr) == 0) {
    static volatile unsigned sink;
    sink = sink + sum_strips(image, 1 + (how >> 1) % 40, access == VIPS_ACCESS_RANDOM);
    g_object_unref(image);
  }
  vips_area_unref(VIPS_AREA(blob));
  vips_error_clear();
  return 0;
}
