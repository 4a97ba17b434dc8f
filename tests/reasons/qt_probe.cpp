// Reads each named file with QImageReader, as a Qt program does, with the
// build tree's plug-in, and prints for each "FILE<TAB>WORDS": what the
// plug-in logged when it refused the file, or "read" when Qt read a picture.
#include <stdio.h>

#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <QString>

namespace {

QString g_logged;

void keep_ours(QtMsgType, const QMessageLogContext& context, const QString& message) {
  if (context.category != nullptr && QString(context.category).contains("morvellane"))
    g_logged = message;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication::setLibraryPaths({MRVLN_QT_PLUGIN_ROOT});
  QCoreApplication app(argc, argv);
  qInstallMessageHandler(keep_ours);
  for (int i = 1; i < argc; ++i) {
    g_logged.clear();
    QImageReader reader(QString::fromLocal8Bit(argv[i]));
    const QImage image = reader.read();
    const QString words = image.isNull() ? g_logged : QString("read");
    printf("%s\t%s\n", argv[i], words.toUtf8().constData());
  }
  return 0;
}
