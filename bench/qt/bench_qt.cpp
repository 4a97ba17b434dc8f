// The loop of a Qt program that shows or processes pictures one after the
// other: image = QImageReader(path).read(), in one process.
//   bench_qt6 SIDE FILE LOADS     (bench_qt5 for Qt 5)
// SIDE ours: FILE is a Morvellane bitmap, read by the Morvellane plug-in
// that QT_PLUGIN_PATH (or the installed packages) give Qt; stock: FILE is the
// same picture as a 24-bit BMP, read by Qt's own BMP reader. For each load
// one line "<milliseconds> <minor page faults>"; after the last, the reader
// Qt chose and the picture's size are checked against FILE's header.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>

namespace {

long minor_faults() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// biWidth and |biHeight| of a BMP file's header, read here, not by Qt.
QSize header_size(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QSize();
  const QByteArray h = file.read(26);
  if (h.size() != 26) return QSize();
  const auto field = [&h](int at) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint8_t>(h[at])) |
                                static_cast<uint32_t>(static_cast<uint8_t>(h[at + 1])) << 8 |
                                static_cast<uint32_t>(static_cast<uint8_t>(h[at + 2])) << 16 |
                                static_cast<uint32_t>(static_cast<uint8_t>(h[at + 3])) << 24);
  };
  const int32_t height = field(22);
  return QSize(field(18), height < 0 ? -height : height);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const bool ours = argc == 4 && strcmp(argv[1], "ours") == 0;
  const int loads = argc == 4 ? atoi(argv[3]) : 0;
  if ((!ours && (argc != 4 || strcmp(argv[1], "stock") != 0)) || loads < 1) {
    fprintf(stderr, "usage: %s ours|stock FILE LOADS\n", argv[0]);
    return 2;
  }
  const QString path = QString::fromLocal8Bit(argv[2]);
  QImage image;
  for (int i = 0; i < loads; ++i) {
    const long faults = minor_faults();
    QElapsedTimer timer;
    timer.start();
    image = QImageReader(path).read();
    const qint64 ns = timer.nsecsElapsed();
    printf("%.3f %ld\n", static_cast<double>(ns) / 1e6, minor_faults() - faults);
  }
  // The same routing as every load's: by the file's contents.
  const QByteArray reader = QImageReader(path).format();
  const QByteArray wanted = ours ? "mrv" : "bmp";
  const QSize size = header_size(path);
  if (reader != wanted || image.isNull() || image.size() != size) {
    fprintf(stderr, "%s: read by \"%s\" (wanted \"%s\") as %d x %d (its header: %d x %d)\n",
            argv[2], reader.constData(), wanted.constData(), image.width(), image.height(),
            size.width(), size.height());
    return 1;
  }
  return 0;
}
