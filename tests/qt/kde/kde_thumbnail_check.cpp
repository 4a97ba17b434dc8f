// Asks KIO for the thumbnail of each file, as Dolphin does (KIO::PreviewJob
// with kio-extras' image thumbnailer, scaled and cached), and compares it
// with the exact picture of colour_chart_odd_173x97.bmp from the channel
// tables. The picture is smaller than the thumbnail size, so the
// thumbnailer hands it over unscaled. Exit 0 when it is exact.
//   kde_thumbnail_check FILE
#include <stdio.h>

#include <KFileItem>
#include <KIO/PreviewJob>
#include <QApplication>
#include <QImage>
#include <QPixmap>

#include "tests/fixtures/morvellane_builder.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    fprintf(stderr, "usage: kde_thumbnail_check FILE\n");
    return 2;
  }
  const KFileItemList items{KFileItem(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1])))};
  const QStringList plugins{QStringLiteral("imagethumbnail")};
  KIO::PreviewJob* job = KIO::filePreview(items, QSize(256, 256), &plugins);
  job->setScaleType(KIO::PreviewJob::ScaledAndCached);
  QImage got;
  QObject::connect(job, &KIO::PreviewJob::gotPreview,
                   [&](const KFileItem&, const QPixmap& p) { got = p.toImage(); });
  QObject::connect(job, &KIO::PreviewJob::failed, [&](const KFileItem&) {
    fprintf(stderr, "kde_thumbnail_check: no thumbnail\n");
  });
  QObject::connect(job, &KJob::result, &app, &QCoreApplication::quit);
  app.exec();
  if (got.isNull()) return 1;
  got = got.convertToFormat(QImage::Format_RGB32);
  const fixtures::MorvellaneBuilder chart = fixtures::colour_chart(173, 97);
  long wrong = 0;
  if (got.width() != 173 || got.height() != 97) {
    printf("thumbnail %d x %d, not 173 x 97\n", got.width(), got.height());
    return 1;
  }
  for (int y = 0; y < 97; ++y)
    for (int x = 0; x < 173; ++x) {
      const fixtures::Bgr e =
          fixtures::expected_bgr(chart.pixel(static_cast<uint32_t>(x), 96u - y));
      wrong += got.pixel(x, y) != qRgb(e.r, e.g, e.b);
    }
  printf("thumbnail 173 x 97: %ld of %d pixels wrong\n", wrong, 173 * 97);
  return wrong == 0 ? 0 : 1;
}
