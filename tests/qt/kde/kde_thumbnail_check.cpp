// Asks KIO for the thumbnail of colour_chart_odd_173x97.bmp as Dolphin does
// (KIO::PreviewJob with kio-extras' image thumbnailer, scaled and cached) and
// compares it, and the PNG the job left in the thumbnail cache (what Dolphin
// shows on later visits), with the exact picture from the channel tables.
// The picture is smaller than the thumbnail size, so the thumbnailer hands
// it over unscaled. Exit 0 when both are exact.
//   kde_thumbnail_check FILE
#include <stdio.h>

#include <KFileItem>
#include <KIO/PreviewJob>
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>
#include <QStandardPaths>

#include "tests/fixtures/morvellane_builder.h"

namespace {

constexpr int kWidth = 173;
constexpr int kHeight = 97;

// Pixels that differ from the chart, or -1 when the size is wrong.
long wrong_pixels(const QImage& image) {
  if (image.width() != kWidth || image.height() != kHeight) return -1;
  const QImage got = image.convertToFormat(QImage::Format_RGB32);
  const fixtures::MorvellaneBuilder chart = fixtures::colour_chart(kWidth, kHeight);
  long wrong = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const uint32_t row = static_cast<uint32_t>(kHeight - 1 - y);  // stored bottom-up
      const fixtures::Bgr e = fixtures::expected_bgr(chart.pixel(static_cast<uint32_t>(x), row));
      wrong += got.pixel(x, y) != qRgb(e.r, e.g, e.b);
    }
  return wrong;
}

bool report(const char* what, const QImage& image) {
  const long wrong = wrong_pixels(image);
  if (image.isNull())
    printf("%s: none\n", what);
  else if (wrong < 0)
    printf("%s: %d x %d, not %d x %d\n", what, image.width(), image.height(), kWidth, kHeight);
  else
    printf("%s: %d x %d, %ld of %d pixels wrong\n", what, kWidth, kHeight, wrong, kWidth * kHeight);
  return wrong == 0;
}

// The freedesktop cache names a thumbnail by the MD5 of the file's URI.
QImage cached_thumbnail(const QUrl& url) {
  const QString name = QString::fromLatin1(
      QCryptographicHash::hash(url.toEncoded(), QCryptographicHash::Md5).toHex() + ".png");
  const QDir root(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                  QStringLiteral("/thumbnails"));
  for (const QString& size : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
    if (root.exists(size + QLatin1Char('/') + name))
      return QImage(root.filePath(size + QLatin1Char('/') + name));
  return QImage();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    fprintf(stderr, "usage: kde_thumbnail_check FILE\n");
    return 2;
  }
  const QUrl url =
      QUrl::fromLocalFile(QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath());
  const KFileItem item(url);
  printf("MIME type: %s\n", qPrintable(item.mimetype()));
  const QStringList plugins{QStringLiteral("imagethumbnail")};
  KIO::PreviewJob* job = KIO::filePreview(KFileItemList{item}, QSize(256, 256), &plugins);
  job->setScaleType(KIO::PreviewJob::ScaledAndCached);
  QImage got;
  QObject::connect(job, &KIO::PreviewJob::gotPreview,
                   [&](const KFileItem&, const QPixmap& p) { got = p.toImage(); });
  QObject::connect(job, &KIO::PreviewJob::failed,
                   [&](const KFileItem&) { fprintf(stderr, "kde_thumbnail_check: job failed\n"); });
  QObject::connect(job, &KJob::result, &app, &QCoreApplication::quit);
  app.exec();
  const bool preview_exact = report("thumbnail", got);
  const bool cache_exact = report("cached thumbnail", cached_thumbnail(url));
  return preview_exact && cache_exact ? 0 : 1;
}
