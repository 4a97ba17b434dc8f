// mrvconvert IN OUT: converts Morvellane bitmaps to PNG or any format Qt
// writes. Reads only with the Morvellane handler compiled into it, never
// with Qt's BMP reader, so a picture is either exact or refused.
#include <stdio.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <algorithm>

#include "codec/convert.h"
#include "readers/qt/morvellane_handler.h"

namespace {

// Exit codes as mrvhost's; a run over several files ends with the highest.
constexpr int kDone = 0;
constexpr int kRefused = 1;  // not a Morvellane bitmap, or a picture refused
constexpr int kUsage = 2;
// 3, mrvhost's "plug-in cannot be loaded", never happens: the reader is
// compiled in.
constexpr int kFileError = 4;  // a file cannot be found, read or written

const char kHelp[] =
    "usage: mrvconvert IN OUT\n"
    "\n"
    "Converts the Morvellane bitmap IN into OUT, in the format its suffix names:\n"
    "PNG, or any format this Qt writes (%s).\n"
    "If OUT is a folder, the file keeps its name there with .png.\n"
    "If IN is a folder, every Morvellane bitmap in it (not in its subfolders) is\n"
    "converted into the folder OUT, made if missing, as NAME.png; other files are\n"
    "skipped and counted, and a summary ends the run. An existing file is replaced.\n"
    "\n"
    "Exit codes:\n"
    "  0  done\n"
    "  1  a file is not a Morvellane bitmap, or a picture was refused\n"
    "  2  wrong arguments or an output format Qt cannot write\n"
    "  3  (not used: the Morvellane reader is built into mrvconvert)\n"
    "  4  a file cannot be found, read or written\n";

void report(const QString& file, const QString& what) {
  fprintf(stderr, "mrvconvert: %s: %s\n", qUtf8Printable(file), qUtf8Printable(what));
}

QString writable_formats() {
  QStringList names;
  for (const QByteArray& f : QImageWriter::supportedImageFormats()) names << QString::fromLatin1(f);
  return names.join(QStringLiteral(", "));
}

// Converts one file; `quiet` leaves "not a Morvellane bitmap" to the caller.
int convert(const QString& in, const QString& out, bool* skipped) {
  QFile file(in);
  if (!file.open(QIODevice::ReadOnly)) {
    report(in, QStringLiteral("cannot open: ") + file.errorString());
    return kFileError;
  }
  if (!mrvln_qt::device_holds_morvellane(&file)) {
    if (skipped != nullptr) {
      *skipped = true;
      return kDone;
    }
    report(in, QStringLiteral("not a Morvellane bitmap"));
    return kRefused;
  }
  QImage image;
  if (!mrvln_qt::read_morvellane(&file, mrvln::PIXEL_BGRX32, &image)) {
    report(in, QStringLiteral("picture refused (truncated, empty, negative width or too large)"));
    return kRefused;
  }
  QImageWriter writer(out);
  if (!writer.write(image)) {
    report(out, QStringLiteral("cannot write: ") + writer.errorString());
    return kFileError;
  }
  return kDone;
}

int convert_folder(const QString& in, const QString& out) {
  if (QFileInfo(in).canonicalFilePath() == QFileInfo(out).canonicalFilePath()) {
    report(in, QStringLiteral("the target folder must differ from the source folder"));
    return kUsage;
  }
  if (!QDir().mkpath(out)) {
    report(out, QStringLiteral("cannot make the folder"));
    return kFileError;
  }
  const QFileInfoList files =
      QDir(in).entryInfoList(QDir::Files | QDir::Readable | QDir::Hidden, QDir::Name);
  int status = kDone;
  int converted = 0, skipped = 0, failed = 0;
  QElapsedTimer since_progress;
  since_progress.start();
  for (int i = 0; i < files.size(); ++i) {
    const QFileInfo& f = files.at(i);
    bool not_ours = false;
    const int code =
        convert(f.filePath(), QDir(out).filePath(f.completeBaseName() + ".png"), &not_ours);
    if (not_ours) ++skipped;
    if (code == kDone && !not_ours) ++converted;
    if (code != kDone) ++failed;
    status = std::max(status, code);
    // Every hundred files, and at least every two seconds on slow pictures.
    if (i + 1 < files.size() && ((i + 1) % 100 == 0 || since_progress.elapsed() >= 2000)) {
      fprintf(stderr, "mrvconvert: %d of %d files: %d converted, %d skipped, %d failed\n", i + 1,
              static_cast<int>(files.size()), converted, skipped, failed);
      since_progress.restart();
    }
  }
  printf("%d converted, %d skipped (not Morvellane bitmaps), %d failed; %d files in %s\n",
         converted, skipped, failed, static_cast<int>(files.size()), qUtf8Printable(in));
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // Image writers need no display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() == 2 && (args[1] == "-h" || args[1] == "--help")) {
    printf(kHelp, qUtf8Printable(writable_formats()));
    return kDone;
  }
  if (args.size() != 3) {
    fprintf(stderr, "mrvconvert: takes a source and a target\n");
    fprintf(stderr, kHelp, qUtf8Printable(writable_formats()));
    return kUsage;
  }
  const QString in = args[1];
  QString out = args[2];
  const QFileInfo source(in);
  if (!source.exists()) {
    report(in, QStringLiteral("no such file or folder"));
    return kFileError;
  }
  if (source.isDir()) return convert_folder(in, out);
  if (QFileInfo(out).isDir()) out = QDir(out).filePath(source.completeBaseName() + ".png");
  const QByteArray suffix = QFileInfo(out).suffix().toLower().toLatin1();
  if (!QImageWriter::supportedImageFormats().contains(suffix)) {
    report(out, QStringLiteral("no Qt writer for the suffix \"%1\"; try .png (%2)")
                    .arg(QString::fromLatin1(suffix), writable_formats()));
    return kUsage;
  }
  if (QFileInfo(in).canonicalFilePath() == QFileInfo(out).canonicalFilePath()) {
    report(in, QStringLiteral("source and target are the same file"));
    return kUsage;
  }
  const int code = convert(in, out, nullptr);
  if (code == kDone) printf("%s -> %s\n", qUtf8Printable(in), qUtf8Printable(out));
  return code;
}
