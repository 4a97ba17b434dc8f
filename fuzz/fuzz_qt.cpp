// Fuzzes the Qt handler over a QBuffer: the header peeks, the Size option
// and the chunked read, under ASan and UBSan. Every picture it accepts must
// have the size its header declared.
#include <stdint.h>
#include <stdlib.h>

#include <QBuffer>
#include <QImageReader>
#include <QLoggingCategory>

#include "readers/qt/morvellane_handler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Most inputs are refused, each with a line in the log: not worth writing.
  static const bool quiet = [] {
    QLoggingCategory::setFilterRules(QStringLiteral("morvellane.imageformat.warning=false"));
    return true;
  }();
  (void)quiet;
  // Small inputs declare at most a few MB of picture worth reading.
  QImageReader::setAllocationLimit(64);
  QBuffer buffer;
  buffer.setData(reinterpret_cast<const char*>(data), static_cast<int>(size));
  buffer.open(QIODevice::ReadOnly);
  mrvln_qt::MorvellaneHandler handler;
  handler.setDevice(&buffer);
  const bool can_read = handler.canRead();
  const QSize declared = handler.option(QImageIOHandler::Size).toSize();
  QImage image;
  const bool read = handler.read(&image);
  if (read && (!can_read || image.size() != declared || buffer.pos() > buffer.size())) abort();
  return 0;
}
