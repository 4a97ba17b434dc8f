// installed_check_mrvconvert PNG: exit 0 when PNG, decoded by Qt's own PNG
// reader, is exactly colour_chart_odd_173x97.bmp from the channel tables.
#include <stdio.h>

#include <QCoreApplication>
#include <QImage>

#include "tests/fixtures/morvellane_builder.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 2) {
    fprintf(stderr, "usage: %s PNG\n", argv[0]);
    return 2;
  }
  const QImage png =
      QImage(QString::fromLocal8Bit(argv[1]), "png").convertToFormat(QImage::Format_RGB32);
  const fixtures::MorvellaneBuilder chart = fixtures::colour_chart(173, 97);
  long wrong = png.width() == 173 && png.height() == 97 ? 0 : -1;
  for (int y = 0; wrong == 0 && y < 97; ++y)
    for (int x = 0; x < 173; ++x) {
      const fixtures::Bgr e =
          fixtures::expected_bgr(chart.pixel(static_cast<uint32_t>(x), 96u - y));
      wrong += png.pixel(x, y) != qRgb(e.r, e.g, e.b);
    }
  printf("%s: the PNG of colour_chart_odd_173x97.bmp is %s\n", wrong == 0 ? "ok  " : "FAIL",
         wrong == 0  ? "exact"
         : wrong < 0 ? "missing or of another size"
                     : "wrong");
  return wrong == 0 ? 0 : 1;
}
