// Read speed of a 3840 x 2160 Morvellane bitmap against Qt's own BMP reader
// on the same file, each read ending in the format a viewer paints
// (Format_RGB32). One process, one run of each; not a test. Build with
// -DMRVLN_BENCH=ON in an optimised tree without sanitizers, then
//   build/TREE/qt/bench_qt [FILE_DIR]
#include <stdio.h>
#include <sys/mman.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <functional>
#include <vector>

#include "tests/fixtures/morvellane_builder.h"
#include "readers/qt/morvellane_handler.h"

namespace {

constexpr size_t kHugePage = 2u << 20;

void unmap(void* info) {
  const auto* block = static_cast<std::pair<void*, size_t>*>(info);
  munmap(block->first, block->second);
  delete block;
}

// The stretch, measured and not shipped: 5-18 ms per read mostly, but one
// run in six stalled 150-220 ms while the kernel compacted memory, far worse
// than the 30-50 ms of ordinary pages, so viewers keep QImage's own memory.
// A 2 MiB-aligned mapping with transparent huge pages asked
// for, handed to QImage with a cleanup function, under Qt's allocation limit.
bool huge_page_image(const mrvln::ImagePlan& plan, QImage::Format format, QImage* image) {
  const uint64_t limit = static_cast<uint64_t>(QImageReader::allocationLimit()) << 20;
  if (limit != 0 && plan.output_size > limit) return false;
  const size_t size = (plan.output_size + kHugePage - 1) & ~(kHugePage - 1);
  // Over-map by one huge page, then trim to a 2 MiB boundary.
  uint8_t* raw = static_cast<uint8_t*>(
      mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (raw == MAP_FAILED) return false;
  const uintptr_t at = reinterpret_cast<uintptr_t>(raw);
  uint8_t* aligned = raw + ((kHugePage - at % kHugePage) % kHugePage);
  if (aligned != raw) munmap(raw, static_cast<size_t>(aligned - raw));
  const size_t tail = static_cast<size_t>(raw + size + kHugePage - (aligned + size));
  if (tail != 0) munmap(aligned + size, tail);
  madvise(aligned, size, MADV_HUGEPAGE);
  *image = QImage(aligned, plan.picture.width, static_cast<int>(plan.picture.rows),
                  static_cast<qsizetype>(plan.layout.stride), format, unmap,
                  new std::pair<void*, size_t>(aligned, size));
  return true;
}

double time_ms(const std::function<QImage()>& read, QImage* out) {
  QElapsedTimer t;
  t.start();
  *out = read();
  const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
  return ms;
}

QImage direct(const QString& path, mrvln::PixelFormat format,
              mrvln_qt::ImageAllocator allocator = nullptr) {
  QFile f(path);
  QImage image;
  if (!f.open(QIODevice::ReadOnly) || !mrvln_qt::read_morvellane(&f, format, &image, allocator))
    return QImage();
  return image.format() == QImage::Format_RGB32 ? image
                                                : image.convertToFormat(QImage::Format_RGB32);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setLibraryPaths({QStringLiteral(MRVLN_QT_PLUGIN_ROOT)});
  QTemporaryDir temp;
  const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
  const QString path = dir + "/bench_3840x2160.bmp";
  {
    const std::vector<uint8_t> file = fixtures::colour_chart(3840, 2160).build();
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) ||
        f.write(reinterpret_cast<const char*>(file.data()), static_cast<qint64>(file.size())) !=
            static_cast<qint64>(file.size())) {
      fprintf(stderr, "cannot write %s\n", qUtf8Printable(path));
      return 1;
    }
  }
  // Loads the plug-ins and warms the file's pages before anything is timed.
  QImageReader(path).read();

  QImage qt_image, ours, rgb32, bgr888, huge, huge2;
  const double qt_ms = time_ms(
      [&] {
        QImageReader r(path, "bmp");
        r.setAutoDetectImageFormat(false);  // Qt's built-in reader
        return r.read().convertToFormat(QImage::Format_RGB32);
      },
      &qt_image);
  const double plugin_ms = time_ms(
      [&] {
        QImageReader r(path);
        return r.read().convertToFormat(QImage::Format_RGB32);
      },
      &ours);
  const double rgb32_ms = time_ms([&] { return direct(path, mrvln::PIXEL_BGRX32); }, &rgb32);
  const double bgr888_ms = time_ms([&] { return direct(path, mrvln::PIXEL_BGR24); }, &bgr888);
  const double huge_ms =
      time_ms([&] { return direct(path, mrvln::PIXEL_BGRX32, huge_page_image); }, &huge);
  const double huge2_ms =
      time_ms([&] { return direct(path, mrvln::PIXEL_BGRX32, huge_page_image); }, &huge2);
  if (ours.isNull() || !(ours == rgb32) || !(ours == bgr888) || !(ours == huge)) {
    fprintf(stderr, "the reads disagree\n");
    return 1;
  }
  printf("3840 x 2160, read + conversion to Format_RGB32, one run each:\n");
  printf("  Qt's own BMP reader                      %7.2f ms\n", qt_ms);
  printf("  plug-in through QImageReader (RGB32)     %7.2f ms  %.2fx Qt's\n", plugin_ms,
         qt_ms / plugin_ms);
  printf("  handler, Format_RGB32 directly           %7.2f ms\n", rgb32_ms);
  printf("  handler, Format_BGR888 + convertToFormat %7.2f ms\n", bgr888_ms);
  printf("  handler, RGB32 in a huge-page buffer     %7.2f ms (first), %.2f ms (second)\n", huge_ms,
         huge2_ms);
  return 0;
}
