// Read speed of a 3840 x 2160 Morvellane bitmap against Qt's own BMP reader
// on the same file, each read ending in the format a viewer paints
// (Format_RGB32). One process, RUNS rounds of every read taken in turns,
// medians; not a test. Built in the benchmark tree (-DMRVLN_BENCH=ON) and
// run by scripts/bench_readers.sh, or as
//   build/bench/bench/bench_qt [RUNS] [FILE_DIR]
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>
#include <vector>

#include "readers/qt/morvellane_handler.h"
#include "tests/fixtures/morvellane_builder.h"

namespace {

constexpr size_t kHugePage = 2u << 20;

void unmap(void* info) {
  const auto* block = static_cast<std::pair<void*, size_t>*>(info);
  munmap(block->first, block->second);
  delete block;
}

// Measured and not shipped: a 2 MiB-aligned mapping with transparent huge
// pages asked for, handed to QImage with a cleanup function, under Qt's
// allocation limit. Reads are faster, but some stall while the kernel
// compacts memory (docs/qt-plugin.md), so viewers keep QImage's own memory.
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
  return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
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
  const int runs = argc > 1 ? atoi(argv[1]) : 7;
  if (runs < 1) {
    fprintf(stderr, "usage: %s [RUNS] [FILE_DIR]\n", argv[0]);
    return 2;
  }
  QTemporaryDir temp;
  const QString dir = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temp.path();
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
  const QImage reference = QImageReader(path).read().convertToFormat(QImage::Format_RGB32);
  if (reference.isNull()) {
    fprintf(stderr, "the plug-in does not read %s\n", qUtf8Printable(path));
    return 1;
  }

  const std::function<QImage()> reads[] = {
      [&] {
        QImageReader r(path, "bmp");
        r.setAutoDetectImageFormat(false);  // Qt's built-in reader
        return r.read().convertToFormat(QImage::Format_RGB32);
      },
      [&] { return QImageReader(path).read().convertToFormat(QImage::Format_RGB32); },
      [&] { return direct(path, mrvln::PIXEL_BGRX32); },
      [&] { return direct(path, mrvln::PIXEL_BGR24); },
      [&] { return direct(path, mrvln::PIXEL_BGRX32, huge_page_image); },
  };
  const char* const names[] = {
      "Qt's own BMP reader                     ", "plug-in through QImageReader (RGB32)    ",
      "handler, Format_RGB32 directly          ", "handler, Format_BGR888 + convertToFormat",
      "handler, RGB32 in a huge-page buffer    "};
  constexpr int kReads = 5;
  std::vector<double> ms[kReads];
  for (int round = 0; round < runs; ++round)
    for (int i = 0; i < kReads; ++i) {
      QImage image;
      ms[i].push_back(time_ms(reads[i], &image));
      // Every read of this file must give the plug-in's picture; Qt's own
      // reader gives its wrong one.
      if (i >= 1 && !(image == reference)) {
        fprintf(stderr, "the reads disagree: %s\n", names[i]);
        return 1;
      }
    }
  printf("3840 x 2160, read + conversion to Format_RGB32, median of %d rounds (min to max):\n",
         runs);
  for (int i = 0; i < kReads; ++i) {
    const auto range = std::minmax_element(ms[i].begin(), ms[i].end());
    printf("  %s %7.2f ms (%.2f to %.2f)", names[i], median(ms[i]), *range.first, *range.second);
    if (i == 1) printf("  %.2fx Qt's", median(ms[0]) / median(ms[1]));
    printf("\n");
  }
  return 0;
}
