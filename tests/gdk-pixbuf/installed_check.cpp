// Run by installed_check.sh with the packages installed and nothing set:
// the odd-width sample exact through gdk_pixbuf_new_from_file and through a
// loader made for image/bmp (as programs that guess the type from the name
// make it), a top-down picture by that route too, standard BMPs by either
// route as the standard loader decodes them, the content types GIO gives,
// and a thumbnail of the odd-width sample against the exact picture scaled
// alike.
// Usage: installed_check SAMPLES_DIR TMP_DIR THUMBNAIL.png
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "tests/fixtures/files.h"
#include "tests/fixtures/morvellane_builder.h"

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

// The picture a Morvellane bitmap holds, from the fixture's tables.
GdkPixbuf* exact_picture(const fixtures::MorvellaneBuilder& b, bool top_down) {
  const int w = static_cast<int>(b.width()), h = static_cast<int>(b.rows());
  GdkPixbuf* p = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const fixtures::Bgr e = fixtures::expected_bgr(b.pixel(x, top_down ? y : h - 1 - y));
      guint8* q = gdk_pixbuf_get_pixels(p) + y * gdk_pixbuf_get_rowstride(p) + 3 * x;
      q[0] = e.r, q[1] = e.g, q[2] = e.b;
    }
  return p;
}

// Decodes `bytes` through a loader made for a MIME type, or for a format by
// name when `type` has no '/', in one write or in random chunks. Null on
// failure; `format` is the module that took the file.
GdkPixbuf* load_as(const std::vector<uint8_t>& bytes, const char* type, bool chunks,
                   std::string* format) {
  GdkPixbufLoader* loader = strchr(type, '/') ? gdk_pixbuf_loader_new_with_mime_type(type, nullptr)
                                              : gdk_pixbuf_loader_new_with_type(type, nullptr);
  if (loader == nullptr) return nullptr;
  std::mt19937 random(static_cast<unsigned>(bytes.size()));
  bool ok = true;
  for (size_t at = 0; ok && at < bytes.size();) {
    const size_t n =
        chunks ? std::min<size_t>(bytes.size() - at, 1 + random() % 500) : bytes.size() - at;
    ok = gdk_pixbuf_loader_write(loader, bytes.data() + at, n, nullptr);
    at += n;
  }
  ok = ok && gdk_pixbuf_loader_close(loader, nullptr);
  GdkPixbuf* p = ok ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  if (p) g_object_ref(p);
  GdkPixbufFormat* f = gdk_pixbuf_loader_get_format(loader);
  gchar* name = f ? gdk_pixbuf_format_get_name(f) : nullptr;
  *format = name ? name : "none";
  g_free(name);
  g_object_unref(loader);
  return p;
}

bool same_bytes(GdkPixbuf* a, GdkPixbuf* b) {
  return a && b && gdk_pixbuf_get_byte_length(a) == gdk_pixbuf_get_byte_length(b) &&
         gdk_pixbuf_get_rowstride(a) == gdk_pixbuf_get_rowstride(b) &&
         memcmp(gdk_pixbuf_read_pixels(a), gdk_pixbuf_read_pixels(b),
                gdk_pixbuf_get_byte_length(b)) == 0;
}

// The file's bytes; none when it cannot be read.
std::vector<uint8_t> file_bytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!fixtures::read_file(path, &bytes)) bytes.clear();
  return bytes;
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
  GdkPixbuf* exact = exact_picture(b, false);
  const int wrong = p ? differing(p, exact, 0) : -1;
  if (p) g_object_unref(p);
  check(format_of(odd) == "morvellane", "the odd-width sample goes to the morvellane loader");
  check(wrong == 0, "the odd-width sample is exact (" + std::to_string(wrong) + " pixels wrong)");

  // By the type programs guess from the name: the odd-width sample and a
  // top-down picture, in one piece and in chunks.
  const fixtures::MorvellaneBuilder top = fixtures::colour_chart(255, -128);
  GdkPixbuf* exact_top = exact_picture(top, true);
  struct ByType {
    const char* what;
    std::vector<uint8_t> bytes;
    GdkPixbuf* exact;
  };
  const ByType by_type[] = {{"the odd-width sample", file_bytes(odd), exact},
                            {"a top-down 255 x 128 picture", top.build(), exact_top}};
  for (const ByType& t : by_type)
    for (bool chunks : {false, true}) {
      std::string format;
      GdkPixbuf* got = load_as(t.bytes, "image/bmp", chunks, &format);
      const int off = got ? differing(got, t.exact, 0) : -1;
      if (got) g_object_unref(got);
      check(format == "morvellane" && off == 0,
            std::string("image/bmp loader, ") + (chunks ? "in chunks: " : "one write: ") + t.what +
                " is exact (loader " + format + ", " + std::to_string(off) + " pixels wrong)");
    }
  g_object_unref(exact_top);

  // Standard BMPs, by file and by image/bmp: the standard loader's bytes.
  fixtures::MorvellaneBuilder s = fixtures::colour_chart(64, 32);
  s.defect(fixtures::Defect::kStoredSizeImage);
  const std::vector<uint8_t> standard = s.build();
  const std::string std_path = tmp + "/standard_16bit.bmp";
  fixtures::write_file(std_path, standard);
  struct Standard {
    const char* what;
    std::vector<uint8_t> bytes;
    std::string path;
  };
  const Standard standards[] = {
      {"a standard 16-bit BMP with pixels at 66", standard, std_path},
      {"the 24-bit sample", file_bytes(samples + "/not_morvellane_24bit.bmp"),
       samples + "/not_morvellane_24bit.bmp"},
  };
  for (const Standard& t : standards) {
    std::string format;
    GdkPixbuf* want = load_as(t.bytes, "bmp", false, &format);
    GdkPixbuf* by_file = gdk_pixbuf_new_from_file(t.path.c_str(), nullptr);
    GdkPixbuf* whole = load_as(t.bytes, "image/bmp", false, &format);
    GdkPixbuf* chunked = load_as(t.bytes, "image/bmp", true, &format);
    check(same_bytes(by_file, want) && same_bytes(whole, want) && same_bytes(chunked, want),
          std::string(t.what) + " gives the standard loader's bytes by file and by image/bmp");
    for (GdkPixbuf* q : {want, by_file, whole, chunked})
      if (q) g_object_unref(q);
  }

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
