// Run by installed_check.sh with the packages installed and nothing set:
// the odd-width sample exact through gdk_pixbuf_new_from_file, a standard
// 16-bit bit-field BMP with pixels at 66 as the standard loader decodes it,
// the content types GIO gives, and a thumbnail of the odd-width sample against
// the exact picture scaled alike.
// Usage: installed_check SAMPLES_DIR TMP_DIR THUMBNAIL.png
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/fixtures/morvellane_builder.h"
#include "tests/fixtures/write_file.h"

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
  printf("%s: %s\n", ok ? "ok  " : "FAIL", what.c_str());
  failures += !ok;
}

std::string format_of(const std::string& path) {
  GdkPixbufFormat* f = gdk_pixbuf_get_file_info(path.c_str(), nullptr, nullptr);
  gchar* name = f ? gdk_pixbuf_format_get_name(f) : nullptr;
  std::string out = name ? name : "none";
  g_free(name);
  return out;
}

// Pixels of `a` with a channel more than `tolerance` off `b`; -1 when the
// shapes differ.
int differing(GdkPixbuf* a, GdkPixbuf* b, int tolerance) {
  const int w = gdk_pixbuf_get_width(b), h = gdk_pixbuf_get_height(b);
  if (gdk_pixbuf_get_width(a) != w || gdk_pixbuf_get_height(a) != h ||
      gdk_pixbuf_get_n_channels(a) != 3 || gdk_pixbuf_get_n_channels(b) != 3)
    return -1;
  int count = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const guint8* p = gdk_pixbuf_read_pixels(a) + y * gdk_pixbuf_get_rowstride(a) + 3 * x;
      const guint8* q = gdk_pixbuf_read_pixels(b) + y * gdk_pixbuf_get_rowstride(b) + 3 * x;
      bool off = false;
      for (int c = 0; c < 3; ++c) off |= abs(p[c] - q[c]) > tolerance;
      count += off;
    }
  return count;
}

std::string guess(const char* name, const std::vector<uint8_t>* data, bool* uncertain) {
  gboolean u = FALSE;
  gchar* type =
      g_content_type_guess(name, data ? data->data() : nullptr, data ? data->size() : 0, &u);
  std::string out = type;
  g_free(type);
  *uncertain = u;
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const std::string samples = argv[1], tmp = argv[2];

  const std::string odd = samples + "/colour_chart_odd_173x97.bmp";
  const fixtures::MorvellaneBuilder b = fixtures::colour_chart(173, 97);
  GdkPixbuf* p = gdk_pixbuf_new_from_file(odd.c_str(), nullptr);
  GdkPixbuf* exact = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 173, 97);
  for (uint32_t y = 0; y < 97; ++y)
    for (uint32_t x = 0; x < 173; ++x) {
      const fixtures::Bgr e = fixtures::expected_bgr(b.pixel(x, 96 - y));
      guint8* q = gdk_pixbuf_get_pixels(exact) + y * gdk_pixbuf_get_rowstride(exact) + 3 * x;
      q[0] = e.r, q[1] = e.g, q[2] = e.b;
    }
  const int wrong = p ? differing(p, exact, 0) : -1;
  if (p) g_object_unref(p);
  check(format_of(odd) == "morvellane", "the odd-width sample goes to the morvellane loader");
  check(wrong == 0, "the odd-width sample is exact (" + std::to_string(wrong) + " pixels wrong)");

  // A standard 16-bit bit-field BMP with pixels at 66: the standard bytes.
  fixtures::MorvellaneBuilder s = fixtures::colour_chart(64, 32);
  s.defect(fixtures::Defect::kStoredSizeImage);
  const std::vector<uint8_t> standard = s.build();
  const std::string std_path = tmp + "/standard_16bit.bmp";
  fixtures::write_file(std_path, standard);
  GdkPixbuf* got = gdk_pixbuf_new_from_file(std_path.c_str(), nullptr);
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("bmp", nullptr);
  const bool wrote = loader &&
                     gdk_pixbuf_loader_write(loader, standard.data(), standard.size(), nullptr) &&
                     gdk_pixbuf_loader_close(loader, nullptr);
  GdkPixbuf* want = wrote ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  check(got && want && gdk_pixbuf_get_byte_length(got) == gdk_pixbuf_get_byte_length(want) &&
            memcmp(gdk_pixbuf_read_pixels(got), gdk_pixbuf_read_pixels(want),
                   gdk_pixbuf_get_byte_length(want)) == 0,
        "a standard 16-bit BMP with pixels at 66 gives the standard loader's bytes");
  if (got) g_object_unref(got);

  GdkPixbuf* thumb = gdk_pixbuf_new_from_file(argv[3], nullptr);
  int thumb_off = -1;
  if (thumb) {
    GdkPixbuf* scaled = gdk_pixbuf_scale_simple(exact, gdk_pixbuf_get_width(thumb),
                                                gdk_pixbuf_get_height(thumb), GDK_INTERP_BILINEAR);
    thumb_off = differing(thumb, scaled, 8);
    g_object_unref(scaled);
    g_object_unref(thumb);
  }
  check(thumb_off == 0, "the thumbnail of the odd-width sample matches the exact picture (" +
                            std::to_string(thumb_off) + " pixels off by more than 8)");
  g_object_unref(exact);
  if (loader) g_object_unref(loader);

  // Content types: with data, by name only, and the standard 16-bit file.
  fixtures::MorvellaneBuilder bgr(16, 16);
  bgr.header().biBitCount = 24;
  bgr.header().biCompression = 0;
  bgr.header().bfOffBits = 54;
  const std::vector<uint8_t> morv = b.build(), bgr24 = bgr.build();
  bool u = false;
  std::string t = guess("a.bmp", &morv, &u);
  check(t == "image/x-morvellane", "Morvellane file with data: " + t);
  t = guess("a.bmp", &bgr24, &u);
  check(t == "image/bmp", "24-bit BMP with data: " + t);
  t = guess("a.bmp", nullptr, &u);
  check(t == "image/bmp" && u, "name only: " + t + (u ? " (uncertain)" : " (certain)"));
  t = guess("a.bmp", &standard, &u);
  gchar* description = g_content_type_get_description(t.c_str());
  printf("info: a standard 16-bit bit-field BMP with pixels at 66 sniffs as %s, \"%s\"\n",
         t.c_str(), description);
  g_free(description);
  return failures == 0 ? 0 : 1;
}
