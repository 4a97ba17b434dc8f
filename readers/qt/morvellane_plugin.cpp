// The plug-in Qt loads from its imageformats folder: it hands Morvellane
// bitmaps, whatever their name, to the handler and leaves every other file,
// and all writing, to Qt's own handlers.
#include <QImageIOPlugin>

#include "readers/qt/morvellane_handler.h"

namespace {

class MorvellanePlugin : public QImageIOPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "morvellane.json")

 public:
  Capabilities capabilities(QIODevice* device, const QByteArray& format) const override {
    // Asked by our own key (also with no device, for the format lists).
    if (format == mrvln_qt::FORMAT_KEY) return CanRead;
    // Asked by a .bmp or any other name, or by content alone: only a
    // Morvellane header claims the file, so Qt's BMP reader keeps the rest.
    // Never CanWrite, so QImageWriter's bmp stays Qt's.
    return mrvln_qt::device_holds_morvellane(device) ? Capabilities(CanRead) : Capabilities();
  }

  QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override {
    (void)format;  // QImageReader sets a format the caller forced afterwards
    auto* handler = new mrvln_qt::MorvellaneHandler;
    handler->setDevice(device);
    handler->setFormat(mrvln_qt::FORMAT_KEY);
    return handler;
  }
};

}  // namespace

#include "morvellane_plugin.moc"
