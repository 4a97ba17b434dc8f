// The loader through GdkPixbufLoader, with the build tree's module, loader
// cache and MIME database (set by CTest). Expected pixels come from the
// fixture's hand-written tables; standard BMPs from the standard loader.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <stdio.h>

#include <random>
#include <string>
#include <vector>

#include "tests/fixtures/morvellane_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
enum Split { WHOLE, BYTES, RANDOM };

// A critical or warning from GLib (say, a loader closed twice) fails the run.
const bool kFatal = (g_log_set_always_fatal(static_cast<GLogLevelFlags>(
                         G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_FATAL_MASK)),
                     true);

struct Loaded {
  GdkPixbuf* pixbuf = nullptr;
  int error = -1;  // GDK_PIXBUF_ERROR_* code, -1 on success
  std::string format;
  std::string license;
  std::vector<int> updates;  // how often each row was reported updated
  bool full_width_updates = true;
  ~Loaded() {
    if (pixbuf) g_object_unref(pixbuf);
  }
};

void on_updated(GdkPixbufLoader* loader, int x, int y, int w, int h, Loaded* out) {
  GdkPixbuf* p = gdk_pixbuf_loader_get_pixbuf(loader);
  out->updates.resize(gdk_pixbuf_get_height(p));
  for (int row = y; row < y + h; ++row) out->updates.at(row)++;
  out->full_width_updates &= x == 0 && w == gdk_pixbuf_get_width(p);
}

// Feeds `bytes` to a loader of `type` (sniffed when null) in chunks.
void load(const Bytes& bytes, const char* type, Split split, Loaded* out, unsigned seed = 1) {
  GdkPixbufLoader* loader =
      type ? gdk_pixbuf_loader_new_with_type(type, nullptr) : gdk_pixbuf_loader_new();
  ASSERT_NE(loader, nullptr);
  g_signal_connect(loader, "area-updated", G_CALLBACK(on_updated), out);
  std::mt19937 random(seed);
  GError* error = nullptr;
  bool ok = true;
  for (size_t at = 0; ok && at < bytes.size();) {
    size_t n = bytes.size() - at;
    if (split == BYTES) n = 1;
    if (split == RANDOM) n = std::min<size_t>(n, 1 + random() % 700);
    ok = gdk_pixbuf_loader_write(loader, bytes.data() + at, n, &error);
    at += n;
  }
  // A failed write has closed the loader already.
  if (ok) ok = gdk_pixbuf_loader_close(loader, &error);
  if (!ok) {
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain, GDK_PIXBUF_ERROR);
    out->error = error->code;
    g_error_free(error);
  } else {
    out->pixbuf = GDK_PIXBUF(g_object_ref(gdk_pixbuf_loader_get_pixbuf(loader)));
  }
  GdkPixbufFormat* format = gdk_pixbuf_loader_get_format(loader);
  if (format) {
    gchar* name = gdk_pixbuf_format_get_name(format);
    out->format = name;
    g_free(name);
    gchar* license = gdk_pixbuf_format_get_license(format);
    out->license = license ? license : "";
    g_free(license);
  }
  g_object_unref(loader);
}

Bytes pixel_bytes(GdkPixbuf* p) {
  const guint8* data = gdk_pixbuf_read_pixels(p);
  return Bytes(data, data + gdk_pixbuf_get_byte_length(p));
}

struct Picture {
  int32_t width, height;
};
const Picture kPictures[] = {{320, 240}, {173, 97}, {255, -128}, {1, 1}, {3, -2}, {2, 5}};

TEST(PixbufLoader, MorvellaneExactWholeBytewiseAndRandomChunks) {
  for (const Picture& pic : kPictures)
    for (Split split : {WHOLE, BYTES, RANDOM}) {
      SCOPED_TRACE(std::to_string(pic.width) + "x" + std::to_string(pic.height) + " split " +
                   std::to_string(split));
      const fixtures::MorvellaneBuilder b = fixtures::colour_chart(pic.width, pic.height);
      Loaded got;
      load(b.build(), nullptr, split, &got, static_cast<unsigned>(pic.width));
      ASSERT_NE(got.pixbuf, nullptr);
      EXPECT_EQ(got.format, "morvellane");
      EXPECT_EQ(got.license, "MIT");
      GdkPixbuf* p = got.pixbuf;
      ASSERT_EQ(gdk_pixbuf_get_width(p), pic.width);
      ASSERT_EQ(gdk_pixbuf_get_height(p), static_cast<int>(b.rows()));
      ASSERT_EQ(gdk_pixbuf_get_n_channels(p), 3);
      ASSERT_FALSE(gdk_pixbuf_get_has_alpha(p));
      ASSERT_EQ(gdk_pixbuf_get_rowstride(p), (3 * pic.width + 3) / 4 * 4);
      EXPECT_EQ(got.updates, std::vector<int>(b.rows(), 1));
      EXPECT_TRUE(got.full_width_updates);
      const guint8* pixels = gdk_pixbuf_read_pixels(p);
      int wrong = 0;
      for (uint32_t y = 0; y < b.rows(); ++y)
        for (uint32_t x = 0; x < b.width(); ++x) {
          const uint32_t stored = pic.height < 0 ? y : b.rows() - 1 - y;
          const fixtures::Bgr e = fixtures::expected_bgr(b.pixel(x, stored));
          const guint8* q = pixels + y * gdk_pixbuf_get_rowstride(p) + 3 * x;
          wrong += q[0] != e.r || q[1] != e.g || q[2] != e.b;
        }
      EXPECT_EQ(wrong, 0);
    }
}

// Files the standard loader owns: whatever reaches this module decodes as
// gdk-pixbuf's BMP loader decodes it, bytes or error.
TEST(PixbufLoader, StandardBmpsUnchanged) {
  struct Case {
    const char* name;
    int32_t width, height;
    fixtures::Defect defect;
    bool sniffed_here;  // the MIME magic sends it to this module
  };
  const Case cases[] = {
      {"16-bit bit-field, pixels at 66, biSizeImage 2WH", 64, 32,
       fixtures::Defect::kStoredSizeImage, true},
      {"the same top-down, biSizeImage 0", 64, -32, fixtures::Defect::kZeroSizeImage, true},
      {"aligned 24-bit size", 6, 3, fixtures::Defect::kAlignedSizeImage, true},
      {"5-5-5 BI_RGB", 8, 8, fixtures::Defect::kWrongCompression, false},
      {"V4 header", 8, 8, fixtures::Defect::kWrongInfoSize, false},
      {"two planes", 8, 8, fixtures::Defect::kWrongPlanes, false},
      {"not BM", 8, 8, fixtures::Defect::kWrongType, false},
  };
  for (const Case& c : cases)
    for (Split split : {WHOLE, BYTES}) {
      SCOPED_TRACE(c.name);
      fixtures::MorvellaneBuilder b = fixtures::colour_chart(c.width, c.height);
      b.defect(c.defect);
      const Bytes file = b.build();
      Loaded standard, forced, sniffed;
      load(file, "bmp", split, &standard);
      load(file, "morvellane", split, &forced);
      load(file, nullptr, split, &sniffed);
      // Sniffing sends only the files its magic matches here; other BMPs stay
      // with the BMP loader and meet this module only when it is forced.
      EXPECT_EQ(sniffed.format, c.sniffed_here                             ? "morvellane"
                                : c.defect == fixtures::Defect::kWrongType ? ""
                                                                           : "bmp");
      for (const Loaded* got : {&forced, c.sniffed_here ? &sniffed : &forced}) {
        EXPECT_EQ(got->error, standard.error);
        ASSERT_EQ(got->pixbuf == nullptr, standard.pixbuf == nullptr);
        if (standard.pixbuf) {
          EXPECT_EQ(gdk_pixbuf_get_width(got->pixbuf), gdk_pixbuf_get_width(standard.pixbuf));
          EXPECT_EQ(gdk_pixbuf_get_height(got->pixbuf), gdk_pixbuf_get_height(standard.pixbuf));
          EXPECT_EQ(gdk_pixbuf_get_has_alpha(got->pixbuf),
                    gdk_pixbuf_get_has_alpha(standard.pixbuf));
          EXPECT_EQ(pixel_bytes(got->pixbuf), pixel_bytes(standard.pixbuf));
        }
      }
    }
}

TEST(PixbufLoader, TruncatedAtEveryByteIsCorrupt) {
  const Bytes file = fixtures::colour_chart(7, -5).build();
  for (size_t n = 1; n < file.size(); ++n) {
    Loaded got;
    load(Bytes(file.begin(), file.begin() + n), "morvellane", n % 2 ? BYTES : WHOLE, &got);
    EXPECT_EQ(got.error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE) << n << " bytes";
  }
}

long resident_kib() {
  long pages = 0, resident = 0;
  FILE* f = fopen("/proc/self/statm", "r");
  if (f == nullptr || fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
  if (f) fclose(f);
  return resident * 4;
}

TEST(PixbufLoader, HostileHeadersRefusedWithoutBigAllocations) {
  struct Case {
    int32_t width, height;
    int code;
  };
  const Case cases[] = {
      {-4, 4, GDK_PIXBUF_ERROR_CORRUPT_IMAGE},
      {0, 4, GDK_PIXBUF_ERROR_CORRUPT_IMAGE},
      {4, 0, GDK_PIXBUF_ERROR_CORRUPT_IMAGE},
      {4, INT32_MIN, GDK_PIXBUF_ERROR_CORRUPT_IMAGE},
      {20000, 20000, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY},  // 1.2 GB
      {100000, 1000, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY},  // 300 MB
      {9000, -9000, GDK_PIXBUF_ERROR_CORRUPT_IMAGE},         // 243 MB, 32 pixel bytes
      {INT32_MAX, 2, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY},  // sizes beyond 32 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    fixtures::MorvellaneBuilder b = fixtures::colour_chart(4, 4);  // 98 bytes
    b.header().biWidth = c.width;
    b.header().biHeight = c.height;
    b.header().biSizeImage = fixtures::marker_size_image(c.width, c.height);
    const long before = resident_kib();
    Loaded got;
    load(b.build(), nullptr, RANDOM, &got);
    EXPECT_EQ(got.format, "morvellane");
    EXPECT_EQ(got.error, c.code);
    EXPECT_LT(resident_kib() - before, 16 * 1024);
  }
}

}  // namespace
