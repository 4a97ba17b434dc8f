// The loader through GdkPixbufLoader and gdk_pixbuf_new_from_file, with the
// build tree's module, loader cache and MIME database (set by CTest). Expected
// pixels come from the fixture's hand-written tables, standard BMPs from the
// standard loader, refusals' words from literal strings.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "tests/fixtures/files.h"
#include "tests/fixtures/morvellane_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
enum Split { WHOLE, BYTES, RANDOM };

// A critical or warning from GLib (say, a loader closed twice) fails the run.
const bool kFatal = (g_log_set_always_fatal(static_cast<GLogLevelFlags>(
                         G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_FATAL_MASK)),
                     true);

enum Size { NATURAL, HALF, SIZE_ONLY };  // what the caller asks for in size-prepared

struct Loaded {
  Size size = NATURAL;
  GdkPixbuf* pixbuf = nullptr;
  int error = -1;  // GDK_PIXBUF_ERROR_* code, -1 on success
  std::string message;
  long grown_kib = 0;  // resident memory gained by the load, its pixbuf still held
  int announced_width = -1, announced_height = -1;
  std::string format;
  std::string license;
  std::vector<int> updates;  // how often each row was reported updated
  bool full_width_updates = true;
  ~Loaded() {
    if (pixbuf) g_object_unref(pixbuf);
  }
};

long resident_kib() {
  long pages = 0, resident = 0;
  FILE* f = fopen("/proc/self/statm", "r");
  if (f == nullptr || fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
  if (f) fclose(f);
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void on_size(GdkPixbufLoader* loader, int width, int height, Loaded* out) {
  out->announced_width = width;
  out->announced_height = height;
  if (out->size == HALF) gdk_pixbuf_loader_set_size(loader, (width + 1) / 2, (height + 1) / 2);
  if (out->size == SIZE_ONLY) gdk_pixbuf_loader_set_size(loader, 0, 0);
}

void on_updated(GdkPixbufLoader* loader, int x, int y, int w, int h, Loaded* out) {
  GdkPixbuf* p = gdk_pixbuf_loader_get_pixbuf(loader);
  out->updates.resize(gdk_pixbuf_get_height(p));
  for (int row = y; row < y + h; ++row) out->updates.at(row)++;
  out->full_width_updates &= x == 0 && w == gdk_pixbuf_get_width(p);
}

// Feeds `bytes` in chunks to a loader made for `type`: a MIME type when it
// holds a '/', else a format name; sniffed when null.
void load(const Bytes& bytes, const char* type, Split split, Loaded* out, unsigned seed = 1) {
  GdkPixbufLoader* loader = !type ? gdk_pixbuf_loader_new()
                            : strchr(type, '/')
                                ? gdk_pixbuf_loader_new_with_mime_type(type, nullptr)
                                : gdk_pixbuf_loader_new_with_type(type, nullptr);
  ASSERT_NE(loader, nullptr);
  g_signal_connect(loader, "size-prepared", G_CALLBACK(on_size), out);
  g_signal_connect(loader, "area-updated", G_CALLBACK(on_updated), out);
  std::mt19937 random(seed);
  GError* error = nullptr;
  bool ok = true;
  const long resident_before = resident_kib();
  for (size_t at = 0; ok && at < bytes.size();) {
    size_t n = bytes.size() - at;
    if (split == BYTES) n = 1;
    if (split == RANDOM) n = std::min<size_t>(n, 1 + random() % 700);
    ok = gdk_pixbuf_loader_write(loader, bytes.data() + at, n, &error);
    at += n;
  }
  // A failed write has closed the loader already.
  if (ok) ok = gdk_pixbuf_loader_close(loader, &error);
  out->grown_kib = resident_kib() - resident_before;
  if (!ok) {
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain, GDK_PIXBUF_ERROR);
    out->error = error->code;
    out->message = error->message;
    g_error_free(error);
  }
  // A failed load may leave a partial picture, which viewers show.
  if (GdkPixbuf* p = gdk_pixbuf_loader_get_pixbuf(loader))
    out->pixbuf = GDK_PIXBUF(g_object_ref(p));
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

// However a program asks: sniffed, by this module's type, and by the types of
// the standard BMP loader, which programs that guess from the name ask for.
const char* const kMorvellaneRoutes[] = {nullptr, "image/x-morvellane", "image/bmp",
                                         "image/x-ms-bmp"};

TEST(PixbufLoader, MorvellaneExactWholeBytewiseAndRandomChunks) {
  for (const char* route : kMorvellaneRoutes)
    for (const Picture& pic : kPictures)
      for (Split split : {WHOLE, BYTES, RANDOM}) {
        SCOPED_TRACE(std::string(route ? route : "sniffed") + " " + std::to_string(pic.width) +
                     "x" + std::to_string(pic.height) + " split " + std::to_string(split));
        const fixtures::MorvellaneBuilder b = fixtures::colour_chart(pic.width, pic.height);
        Loaded got;
        load(b.build(), route, split, &got, static_cast<unsigned>(pic.width));
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
        const size_t stride = static_cast<size_t>(gdk_pixbuf_get_rowstride(p));
        const Bytes want = fixtures::expected_rows(b, "rgb", true, stride);
        for (uint32_t y = 0; y < b.rows(); ++y)  // the fill after each row is not the picture's
          ASSERT_EQ(
              memcmp(gdk_pixbuf_read_pixels(p) + y * stride, &want[y * stride], 3 * b.width()), 0)
              << "row " << y;
      }
}

// What the standard loader made of a file, this module must give too.
void expect_same(const Loaded& got, const Loaded& want) {
  EXPECT_EQ(got.error, want.error);
  EXPECT_EQ(got.announced_width, want.announced_width);
  EXPECT_EQ(got.announced_height, want.announced_height);
  EXPECT_EQ(got.updates, want.updates);
  ASSERT_EQ(got.pixbuf == nullptr, want.pixbuf == nullptr);
  if (!want.pixbuf) return;
  EXPECT_EQ(gdk_pixbuf_get_width(got.pixbuf), gdk_pixbuf_get_width(want.pixbuf));
  EXPECT_EQ(gdk_pixbuf_get_height(got.pixbuf), gdk_pixbuf_get_height(want.pixbuf));
  EXPECT_EQ(gdk_pixbuf_get_has_alpha(got.pixbuf), gdk_pixbuf_get_has_alpha(want.pixbuf));
  EXPECT_EQ(gdk_pixbuf_get_rowstride(got.pixbuf), gdk_pixbuf_get_rowstride(want.pixbuf));
  EXPECT_EQ(pixel_bytes(got.pixbuf), pixel_bytes(want.pixbuf));
}

// Header fields of a BMP of another kind, with enough data behind them for
// `bits` per pixel in rows aligned to 4 (the builder writes whatever pixel
// values it holds; the standard loader reads them as such a picture).
void other_bmp(fixtures::MorvellaneBuilder& b, uint16_t bits, uint32_t compression,
               uint32_t info_size, uint32_t palette_entries) {
  const uint32_t rows = b.rows(), row_size = (b.width() * bits + 31) / 32 * 4;
  b.header().biBitCount = bits;
  b.header().biCompression = compression;
  b.header().biSize = info_size;
  b.header().biSizeImage = row_size * rows;
  b.header().bfOffBits = 14 + info_size + 4 * palette_entries;
  const uint32_t data = b.header().bfOffBits + row_size * rows - 66;
  std::vector<uint16_t>& pixels = b.pixels();
  for (size_t i = pixels.size(); i < (data + 1) / 2; ++i)
    pixels.push_back(static_cast<uint16_t>(i * 0x9E37u));
}

// Files the standard loader owns: whatever reaches this module (by its magic,
// by a loader made for image/bmp, or forced) decodes as gdk-pixbuf's BMP
// loader decodes it: bytes, size, updates or error, also when the caller asks
// for another size or the size alone.
TEST(PixbufLoader, StandardBmpsUnchanged) {
  using fixtures::Defect;
  using fixtures::MorvellaneBuilder;
  struct Case {
    const char* name;
    int32_t width, height;
    void (*make)(MorvellaneBuilder&);
    size_t keep;          // bytes of the file kept, 0 all
    const char* sniffed;  // the format sniffing picks ("": none)
  };
  const Case cases[] = {
      {"16-bit bit-field, pixels at 66, biSizeImage 2WH", 64, 32,
       [](MorvellaneBuilder& b) { b.defect(Defect::kStoredSizeImage); }, 0, "morvellane"},
      {"the same top-down, biSizeImage 0", 64, -32,
       [](MorvellaneBuilder& b) { b.defect(Defect::kZeroSizeImage); }, 0, "morvellane"},
      {"aligned 24-bit size", 6, 3,
       [](MorvellaneBuilder& b) { b.defect(Defect::kAlignedSizeImage); }, 0, "morvellane"},
      {"5-5-5 BI_RGB", 8, 8, [](MorvellaneBuilder& b) { b.defect(Defect::kWrongCompression); }, 0,
       "bmp"},
      {"V4 header", 8, 8, [](MorvellaneBuilder& b) { b.defect(Defect::kWrongInfoSize); }, 0, "bmp"},
      {"two planes", 8, 8, [](MorvellaneBuilder& b) { b.defect(Defect::kWrongPlanes); }, 0, "bmp"},
      {"not BM", 8, 8, [](MorvellaneBuilder& b) { b.defect(Defect::kWrongType); }, 0, ""},
      {"24-bit, odd width", 13, 7, [](MorvellaneBuilder& b) { other_bmp(b, 24, 0, 40, 0); }, 0,
       "bmp"},
      {"24-bit top-down", 13, -7, [](MorvellaneBuilder& b) { other_bmp(b, 24, 0, 40, 0); }, 0,
       "bmp"},
      {"32-bit", 5, 4, [](MorvellaneBuilder& b) { other_bmp(b, 32, 0, 40, 0); }, 0, "bmp"},
      {"32-bit bit-field 8-8-8", 5, 4,
       [](MorvellaneBuilder& b) {
         other_bmp(b, 32, 3, 40, 3);
         b.header().red_mask = 0xFF0000, b.header().green_mask = 0xFF00;
         b.header().blue_mask = 0xFF;
       },
       0, "bmp"},
      {"8-bit palette", 9, 5, [](MorvellaneBuilder& b) { other_bmp(b, 8, 0, 40, 256); }, 0, "bmp"},
      {"4-bit palette", 7, 3, [](MorvellaneBuilder& b) { other_bmp(b, 4, 0, 40, 16); }, 0, "bmp"},
      {"1-bit palette", 17, 3, [](MorvellaneBuilder& b) { other_bmp(b, 1, 0, 40, 2); }, 0, "bmp"},
      {"RLE8", 9, 5, [](MorvellaneBuilder& b) { other_bmp(b, 8, 1, 40, 256); }, 0, "bmp"},
      {"RLE4", 7, 3, [](MorvellaneBuilder& b) { other_bmp(b, 4, 2, 40, 16); }, 0, "bmp"},
      {"V5 header, 24-bit", 6, 4, [](MorvellaneBuilder& b) { other_bmp(b, 24, 0, 124, 0); }, 0,
       "bmp"},
      {"OS/2 header", 6, 4,
       [](MorvellaneBuilder& b) {
         other_bmp(b, 24, 0, 12, 0);
         b.header().biWidth = 6 | 4 << 16;    // bcWidth, bcHeight
         b.header().biHeight = 1 | 24 << 16;  // bcPlanes, bcBitCount
       },
       0, "bmp"},
      {"negative width", 4, 4, [](MorvellaneBuilder& b) { b.header().biWidth = -4; }, 0,
       "morvellane"},
      {"24-bit cut in the file header", 13, 7,
       [](MorvellaneBuilder& b) { other_bmp(b, 24, 0, 40, 0); }, 9, "bmp"},
      {"24-bit cut in the info header", 13, 7,
       [](MorvellaneBuilder& b) { other_bmp(b, 24, 0, 40, 0); }, 40, "bmp"},
      {"24-bit cut before byte 66", 13, 7, [](MorvellaneBuilder& b) { other_bmp(b, 24, 0, 40, 0); },
       65, "bmp"},
      {"24-bit cut in its rows", 13, 7, [](MorvellaneBuilder& b) { other_bmp(b, 24, 0, 40, 0); },
       150, "bmp"},
  };
  struct Ask {
    Split split;
    Size size;
  };
  const Ask asks[] = {
      {WHOLE, NATURAL}, {BYTES, NATURAL}, {RANDOM, NATURAL}, {WHOLE, HALF}, {RANDOM, SIZE_ONLY}};
  for (const Case& c : cases)
    for (const Ask& ask : asks) {
      SCOPED_TRACE(std::string(c.name) + ", split " + std::to_string(ask.split) + ", size " +
                   std::to_string(ask.size));
      MorvellaneBuilder b = fixtures::colour_chart(c.width, c.height);
      c.make(b);
      Bytes file = b.build();
      if (c.keep) file.resize(c.keep);
      Loaded standard, by_type, forced, sniffed;
      for (Loaded* l : {&standard, &by_type, &forced, &sniffed}) l->size = ask.size;
      load(file, "bmp", ask.split, &standard, 7);
      load(file, "image/bmp", ask.split, &by_type, 7);
      load(file, "morvellane", ask.split, &forced, 7);
      load(file, nullptr, ask.split, &sniffed, 7);
      EXPECT_EQ(by_type.format, "morvellane");
      // Sniffing sends only the files its magic matches here; other BMPs stay
      // with the BMP loader.
      EXPECT_EQ(sniffed.format, c.sniffed);
      for (const Loaded* got : {&by_type, &forced, &sniffed})
        if (got->format == "morvellane") expect_same(*got, standard);
    }
}

// gdk_pixbuf_get_file_info and a caller that asks for the size alone get it
// without a pixbuf or an error, also from the header of a large picture
// without its rows; another size asked for is scaled to by GdkPixbufLoader.
TEST(PixbufLoader, SizeOnlyAndScaled) {
  struct Case {
    Bytes file;
    int width, height;
  };
  const Case cases[] = {{fixtures::colour_chart(173, 97).build(), 173, 97},
                        {fixtures::colour_chart(255, -128).build(), 255, 128},
                        {fixtures::header_only(9000, -9000).build(), 9000, 9000}};  // 243 MB
  const std::string path = testing::TempDir() + "size_only.bmp";
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    Loaded size_only;
    size_only.size = SIZE_ONLY;
    load(c.file, nullptr, BYTES, &size_only);
    EXPECT_EQ(size_only.error, -1) << size_only.message;
    EXPECT_EQ(size_only.pixbuf, nullptr);
    EXPECT_EQ(size_only.announced_width, c.width);
    EXPECT_EQ(size_only.announced_height, c.height);
    ASSERT_TRUE(fixtures::write_file(path, c.file));
    int width = 0, height = 0;
    GdkPixbufFormat* format = gdk_pixbuf_get_file_info(path.c_str(), &width, &height);
    ASSERT_NE(format, nullptr);
    gchar* name = gdk_pixbuf_format_get_name(format);
    EXPECT_STREQ(name, "morvellane");
    g_free(name);
    EXPECT_EQ(width, c.width);
    EXPECT_EQ(height, c.height);
    if (c.width > 1000) continue;
    Loaded half;
    half.size = HALF;
    load(c.file, "image/bmp", RANDOM, &half);
    ASSERT_NE(half.pixbuf, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(half.pixbuf), (c.width + 1) / 2);
    EXPECT_EQ(gdk_pixbuf_get_height(half.pixbuf), (c.height + 1) / 2);
  }
  remove(path.c_str());
}

// A file name adds gdk-pixbuf's "Failed to load image NAME: " in front.
bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Each reason reaches the caller in the core's words, under the code that
// fits, whichever way the file comes: by name, sniffed one byte at a time,
// or in chunks to a loader made for image/bmp. Every cut is in
// CutAtEveryByte; every case of each reason in the core's tests.
TEST(PixbufLoader, RefusalsInTheCoreWords) {
  const int corrupt = GDK_PIXBUF_ERROR_CORRUPT_IMAGE;
  const int memory = GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY;
  struct Case {
    int32_t width, height;  // the header's, over the rows of a 4 x 4 chart
    size_t keep;            // bytes of the file kept, 0 all
    int code;
    const char* text;
  };
  const Case cases[] = {
      {4, 4, 50, corrupt,
       "Morvellane bitmap cut short: the file ends after 50 of the 66 bytes of its header"},
      {-4, 4, 0, corrupt, "broken Morvellane bitmap: its width is negative (-4)"},
      {0, 4, 0, corrupt, "broken Morvellane bitmap: it has no pixels (0 x 4)"},
      {20000, 20000, 0, memory,
       "Morvellane bitmap too large: 20000 x 20000 pixels, more than the limit of 256 MiB decoded"},
      {9000, -9000, 0, corrupt,  // 243 MB of pixels, within the limit
       "truncated Morvellane bitmap: the file ends after 98 of the 162000066 bytes of its 9000 x "
       "9000 pixels"},
  };
  const std::string path = testing::TempDir() + "refused.bmp";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    fixtures::MorvellaneBuilder b = fixtures::colour_chart(4, 4);
    b.header().biWidth = c.width;
    b.header().biHeight = c.height;
    b.header().biSizeImage = fixtures::marker_size_image(c.width, c.height);
    Bytes file = b.build();
    if (c.keep) file.resize(c.keep);
    for (const char* route : {static_cast<const char*>(nullptr), "image/bmp"}) {
      Loaded got;
      load(file, route, route ? RANDOM : BYTES, &got);
      EXPECT_EQ(got.format, "morvellane");
      EXPECT_EQ(got.error, c.code);
      EXPECT_EQ(got.message, c.text);
    }
    ASSERT_TRUE(fixtures::write_file(path, file));
    GError* error = nullptr;
    EXPECT_EQ(gdk_pixbuf_new_from_file(path.c_str(), &error), nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, c.code);
    EXPECT_TRUE(ends_with(error->message, std::string(": ") + c.text)) << error->message;
    g_error_free(error);
  }
  remove(path.c_str());
}

// A file cut anywhere is refused: by the standard loader before the
// acceptance fields are in, else as cut short or truncated with its length.
TEST(PixbufLoader, CutAtEveryByte) {
  const Bytes file = fixtures::colour_chart(7, -5).build();  // 136 bytes
  for (const char* route : {"morvellane", "image/bmp"})
    for (size_t n = 1; n < file.size(); ++n) {
      SCOPED_TRACE(std::string(route) + ", " + std::to_string(n) + " bytes");
      Loaded got;
      load(Bytes(file.begin(), file.begin() + n), route, n % 2 ? BYTES : WHOLE, &got);
      EXPECT_EQ(got.error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE);
      char text[160] = "";
      if (n >= 66)
        snprintf(text, sizeof text,
                 "truncated Morvellane bitmap: the file ends after %zu of the 136 bytes of its 7 x "
                 "5 pixels",
                 n);
      else if (n >= 38)
        snprintf(
            text, sizeof text,
            "Morvellane bitmap cut short: the file ends after %zu of the 66 bytes of its header",
            n);
      if (n >= 38) {
        EXPECT_EQ(got.message, text);
      }
      // What never arrived is black, though the block may be one a previous
      // load used (top-down: stored order is picture order).
      if (got.pixbuf == nullptr) continue;
      const Bytes pixels = pixel_bytes(got.pixbuf);
      for (size_t i = (n - 66) / 2; i < 35; ++i)
        for (size_t c = 0; c < 3; ++c) EXPECT_EQ(pixels.at(i / 7 * 24 + i % 7 * 3 + c), 0) << i;
    }
}

// A header may declare a picture of up to 256 MiB; memory follows the rows
// that arrive (three output bytes for two stored ones here), not the claim.
TEST(PixbufLoader, ClaimedSizeCostsOnlyTheRowsThatArrive) {
  fixtures::MorvellaneBuilder b = fixtures::colour_chart(9000, -100);
  b.header().biHeight = -9000;  // 243 MB of pixels
  b.header().biSizeImage = fixtures::marker_size_image(9000, -9000);
  const Bytes rows = b.build();
  Loaded warm;  // the module, its cache and the MIME database in memory
  load(fixtures::colour_chart(4, 4).build(), "image/bmp", WHOLE, &warm);
  for (size_t delivered : {size_t{0}, size_t{18000}, rows.size() - 66}) {
    SCOPED_TRACE(std::to_string(delivered) + " bytes of rows");
    Loaded got;
    load(Bytes(rows.begin(), rows.begin() + 66 + delivered), "image/bmp", RANDOM, &got);
    EXPECT_EQ(got.error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE);
    EXPECT_LT(got.grown_kib, static_cast<long>(2 * delivered / 1024) + 1024);
  }
}

}  // namespace
