// A plain Qt program, with no plug-in path and no environment set, as every
// program on the machine runs: QImage(path) must give the exact picture of
// colour_chart_odd_173x97.bmp, a standard BMP must stay Qt's, and so must
// QImageWriter's bmp. Exit code 0 when all holds.
#include <stdio.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>

#include "tests/fixtures/morvellane_builder.h"

namespace {

int failures = 0;

void check(bool holds, const char* what) {
  printf("%s: %s\n", holds ? "ok  " : "FAIL", what);
  if (!holds) ++failures;
}

// Qt's own reader, which loads no plug-in when format detection is off.
QImage qt_own(const QString& path) {
  QImageReader reader(path, "bmp");
  reader.setAutoDetectImageFormat(false);
  return reader.read();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 2) {
    fprintf(stderr, "usage: %s SAMPLES_DIR\n", argv[0]);
    return 2;
  }
  const QDir samples(QString::fromLocal8Bit(argv[1]));
  printf("Qt %s\n", qVersion());

  const QString odd = samples.filePath("colour_chart_odd_173x97.bmp");
  const fixtures::MorvellaneBuilder chart = fixtures::colour_chart(173, 97);
  const QImage got(odd);
  bool exact = got.width() == 173 && got.height() == 97;
  for (int y = 0; exact && y < 97; ++y)
    for (int x = 0; exact && x < 173; ++x) {
      const fixtures::Bgr e = fixtures::expected_bgr(chart.pixel(x, 96 - y));
      exact = got.pixel(x, y) == qRgb(e.r, e.g, e.b);
    }
  check(exact, "QImage(colour_chart_odd_173x97.bmp) is the exact picture");
  check(QImageReader(odd).format() == "mrv", "its reader is the Morvellane plug-in (mrv)");

  // The sample is a header without all its rows; two files made here are whole.
  check(QImageReader(samples.filePath("not_morvellane_24bit.bmp")).format() == "bmp",
        "not_morvellane_24bit.bmp is left to Qt's bmp");
  QTemporaryDir temp;
  const QString written = temp.filePath("qt_written.bmp");
  QImage picture(37, 11, QImage::Format_RGB32);
  picture.fill(qRgb(10, 200, 99));
  check(QImageWriter(written, "bmp").write(picture) && qt_own(written) == picture,
        "QImageWriter's bmp writes a file Qt's own reader reads back");
  const std::vector<uint8_t> bits16 =
      fixtures::colour_chart(64, 16).defect(fixtures::Defect::kStoredSizeImage).build();
  const QString standard16 = temp.filePath("bitfields_16bit.bmp");
  QFile f(standard16);
  check(f.open(QIODevice::WriteOnly) &&
            f.write(reinterpret_cast<const char*>(bits16.data()),
                    static_cast<qint64>(bits16.size())) == static_cast<qint64>(bits16.size()),
        "a 16-bit bit-field BMP written");
  f.close();
  for (const QString& standard : {written, standard16}) {
    const QImage own = qt_own(standard);
    check(!own.isNull() && QImage(standard) == own && QImageReader(standard).format() == "bmp",
          qUtf8Printable("standard BMP " + QFileInfo(standard).fileName() +
                         " gives Qt's own result"));
  }
  check(!QImageWriter::supportedImageFormats().contains("mrv") &&
            QImageReader::supportedImageFormats().contains("mrv"),
        "the plug-in reads mrv and writes nothing");
  return failures == 0 ? 0 : 1;
}
