// The libvips loaders in the module libvips loads from the build tree's home
// (VIPSHOME, set by CTest): every way a program opens a picture, exact
// pixels from the fixture's hand-written tables, refusals in literal words,
// other BMPs as magickload reads them, and the memory a large picture takes.
#include <gtest/gtest.h>
#include <unistd.h>
#include <vips/vips.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/fixtures/files.h"
#include "tests/fixtures/morvellane_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using fixtures::MorvellaneBuilder;

const bool kStarted = VIPS_INIT("vips_loader_tests") == 0;

enum Route { FILE_NAME, BUFFER, SOURCE_FILE, SOURCE_PIPE };
const char* const kRouteNames[] = {"file", "buffer", "source", "pipe"};

struct Loaded {
  bool ok = false;
  std::string loader, error;
  int width = 0, height = 0, bands = 0;
  VipsBandFormat format = VIPS_FORMAT_NOTSET;
  VipsInterpretation interpretation = VIPS_INTERPRETATION_ERROR;
  Bytes pixels;
};

// Opens `bytes` (written to a file first where the route needs one) as a
// program would, and reads every pixel in `access` order.
Loaded load(const Bytes& bytes, Route route, VipsAccess access) {
  EXPECT_TRUE(kStarted);
  // A name of its own each time: libvips caches loads by file name.
  static int serial = 0;
  const std::string path = ::testing::TempDir() + "vips_loader_test_" + std::to_string(getpid()) +
                           "_" + std::to_string(++serial) + ".bmp";
  if (route == FILE_NAME || route == SOURCE_FILE) {
    EXPECT_TRUE(fixtures::write_file(path, bytes));
  }
  int pipe_ends[2] = {-1, -1};
  std::thread writer;
  VipsImage* image = nullptr;
  VipsSource* source = nullptr;
  switch (route) {
    case FILE_NAME:
      image = vips_image_new_from_file(path.c_str(), "access", access, nullptr);
      break;
    case BUFFER:
      image = vips_image_new_from_buffer(bytes.data(), bytes.size(), "", "access", access, nullptr);
      break;
    case SOURCE_FILE:
      source = vips_source_new_from_file(path.c_str());
      break;
    case SOURCE_PIPE:
      EXPECT_EQ(pipe(pipe_ends), 0);
      writer = std::thread([&] {
        for (size_t at = 0; at < bytes.size();) {
          const ssize_t put = write(pipe_ends[1], bytes.data() + at, bytes.size() - at);
          if (put <= 0) break;  // the reader has given up
          at += static_cast<size_t>(put);
        }
        close(pipe_ends[1]);
      });
      source = vips_source_new_from_descriptor(pipe_ends[0]);
      break;
  }
  if (source != nullptr) image = vips_image_new_from_source(source, "", "access", access, nullptr);
  Loaded out;
  if (image != nullptr) {
    const char* loader = nullptr;
    if (vips_image_get_string(image, VIPS_META_LOADER, &loader) == 0) out.loader = loader;
    out.width = vips_image_get_width(image);
    out.height = vips_image_get_height(image);
    out.bands = vips_image_get_bands(image);
    out.format = vips_image_get_format(image);
    out.interpretation = vips_image_get_interpretation(image);
    size_t size = 0;
    if (void* memory = vips_image_write_to_memory(image, &size)) {
      const uint8_t* p = static_cast<const uint8_t*>(memory);
      out.pixels.assign(p, p + size);
      g_free(memory);
      out.ok = true;
    }
    g_object_unref(image);
  }
  if (!out.ok) out.error = vips_error_buffer();
  vips_error_clear();
  if (source != nullptr) g_object_unref(source);
  unlink(path.c_str());
  if (writer.joinable()) {
    close(pipe_ends[0]);  // ends a write the loader left unread
    writer.join();
  }
  return out;
}

struct Picture {
  int32_t width, height;
};
const Picture kPictures[] = {{173, 97}, {320, -240}, {1, 1}, {3, -2}, {2, 5}, {641, 300}};
const Route kRoutes[] = {FILE_NAME, BUFFER, SOURCE_FILE, SOURCE_PIPE};
const char* const kLoaders[] = {"morvellaneload", "morvellaneload_buffer", "morvellaneload_source",
                                "morvellaneload_source"};

TEST(VipsLoader, MorvellaneExactByEveryRouteAndAccess) {
  for (const Picture& pic : kPictures)
    for (const Route route : kRoutes)
      for (const VipsAccess access : {VIPS_ACCESS_SEQUENTIAL, VIPS_ACCESS_RANDOM}) {
        SCOPED_TRACE(::testing::Message() << pic.width << "x" << pic.height << " "
                                          << kRouteNames[route] << " access " << access);
        const MorvellaneBuilder b = fixtures::mixed_picture(pic.width, pic.height);
        const Loaded got = load(b.build(), route, access);
        ASSERT_TRUE(got.ok) << got.error;
        EXPECT_EQ(got.loader, kLoaders[route]);
        EXPECT_EQ(got.width, pic.width);
        EXPECT_EQ(got.height, static_cast<int>(b.rows()));
        EXPECT_EQ(got.bands, 3);
        EXPECT_EQ(got.format, VIPS_FORMAT_UCHAR);
        EXPECT_EQ(got.interpretation, VIPS_INTERPRETATION_sRGB);
        EXPECT_TRUE(got.pixels == fixtures::expected_rows(b, "rgb", true));
      }
}

// Broken files through every route, each followed by a good one: the
// refusal is the core's, and libvips keeps reading.
TEST(VipsLoader, BrokenRefusedInTheCoreWordsThenAGoodFileReads) {
  const MorvellaneBuilder good = fixtures::colour_chart(31, 9);
  const Bytes whole = fixtures::colour_chart(64, 64).build();
  const struct {
    const char* name;
    Bytes file;
    const char* words;
  } cases[] = {
      {"truncated", fixtures::first_bytes(whole, 4162),
       "truncated Morvellane bitmap: the file ends after 4162 of the 8258 bytes of its 64 x 64 "
       "pixels"},
      {"cut short", fixtures::first_bytes(whole, 50),
       "Morvellane bitmap cut short: the file ends after 50 of the 66 bytes of its header"},
      {"negative width", fixtures::header_only(-1, 1).build(),
       "broken Morvellane bitmap: its width is negative (-1)"},
      {"no pixels", fixtures::header_only(0, 5).build(),
       "broken Morvellane bitmap: it has no pixels (0 x 5)"},
      {"header alone", fixtures::header_only(400, 300).build(),
       "truncated Morvellane bitmap: the file ends after 66 of the 240066 bytes of its 400 x 300 "
       "pixels"},
  };
  for (const auto& c : cases)
    for (const Route route : kRoutes)
      for (const VipsAccess access : {VIPS_ACCESS_SEQUENTIAL, VIPS_ACCESS_RANDOM}) {
        SCOPED_TRACE(::testing::Message() << c.name << " " << kRouteNames[route] << " " << access);
        const Loaded bad = load(c.file, route, access);
        EXPECT_FALSE(bad.ok);
        EXPECT_NE(bad.error.find(std::string(kLoaders[route]) + ": " + c.words + "\n"),
                  std::string::npos)
            << bad.error;
        const Loaded after = load(good.build(), route, access);
        ASSERT_TRUE(after.ok) << after.error;
        EXPECT_TRUE(after.pixels == fixtures::expected_rows(good, "rgb", true));
      }
}

// BMPs of other kinds, among them 16-bit bit-field files with pixels at 66,
// are left to libvips' own loaders: they read, or fail, as magickload reads
// them.
TEST(VipsLoader, OtherBmpsReadAsMagickloadReadsThem) {
  const bool kMagickSource = vips_type_find("VipsOperation", "magickload_source") != 0;
  using fixtures::Defect;
  for (const Defect defect :
       {Defect::kWrongBitCount, Defect::kWrongCompression, Defect::kStoredSizeImage,
        Defect::kAlignedSizeImage, Defect::kZeroSizeImage, Defect::kWrongPixelOffset}) {
    SCOPED_TRACE(static_cast<int>(defect));
    MorvellaneBuilder b = fixtures::mixed_picture(6, 4);
    b.defect(defect);
    const Bytes file = b.build();
    VipsImage* image = nullptr;
    Bytes want;
    if (vips_magickload_buffer(const_cast<uint8_t*>(file.data()), file.size(), &image, nullptr) ==
        0) {
      size_t size = 0;
      void* memory = vips_image_write_to_memory(image, &size);
      want.assign(static_cast<uint8_t*>(memory), static_cast<uint8_t*>(memory) + size);
      g_free(memory);
      g_object_unref(image);
    }
    vips_error_clear();
    for (const Route route : kRoutes) {
      const Loaded got = load(file, route, VIPS_ACCESS_SEQUENTIAL);
      // A pipe reaches no BMP loader in a libvips whose magickload has no
      // source variant (8.14's); a source with a file name falls back to
      // the file loaders.
      const bool source = route == SOURCE_PIPE;
      EXPECT_EQ(got.ok, !want.empty() && (!source || kMagickSource))
          << kRouteNames[route] << ": " << got.error;
      EXPECT_EQ(got.error.find("orvellane"), std::string::npos) << got.error;
      if (got.ok) {
        EXPECT_EQ(got.loader.rfind("magickload", 0), 0u) << got.loader;
        EXPECT_TRUE(got.pixels == want) << kRouteNames[route];
      }
    }
  }
}

// A picture read in sequential order, as vips copy and vipsthumbnail read
// it, is never held whole: the pixel memory libvips has held at any time
// stays a third of the 36 MB picture whose average it takes, whichever
// order its rows are stored in. (A file: a pipe's bottom-up rows are held.)
TEST(VipsLoader, SequentialReadHoldsStripsNotThePicture) {
  const std::string path =
      ::testing::TempDir() + "vips_loader_large_" + std::to_string(getpid()) + ".bmp";
  // The mark never falls: the other tests read small pictures only.
  ASSERT_LT(vips_tracked_get_mem_highwater(), 4u << 20);
  for (const int32_t height : {3000, -3000}) {
    const MorvellaneBuilder b = fixtures::mixed_picture(4000, height);
    ASSERT_TRUE(fixtures::write_file(path, b.build()));
    VipsImage* image =
        vips_image_new_from_file(path.c_str(), "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
    ASSERT_NE(image, nullptr) << vips_error_buffer();
    double average = 0;
    EXPECT_EQ(vips_avg(image, &average, nullptr), 0) << vips_error_buffer();
    g_object_unref(image);
    EXPECT_LT(vips_tracked_get_mem_highwater(), 12u << 20) << "height " << height;
    const Bytes rgb = fixtures::expected_rows(b, "rgb", true);
    double sum = 0;
    for (const uint8_t v : rgb) sum += v;
    EXPECT_NEAR(average, sum / static_cast<double>(rgb.size()), 1e-6);
  }
  unlink(path.c_str());
}

}  // namespace
