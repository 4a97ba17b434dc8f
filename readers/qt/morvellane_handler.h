// The Qt image handler for Morvellane bitmaps: all format logic is the
// core's; this file adds Qt's devices, images and allocation limits. Built
// once per Qt major as a static library that the plug-in and mrvconvert share.
#ifndef MRVLN_READERS_QT_MORVELLANE_HANDLER_H
#define MRVLN_READERS_QT_MORVELLANE_HANDLER_H

#include <QImage>
#include <QImageIOHandler>

#include "codec/morvellane.h"

namespace mrvln_qt {

// The handler's format key. Never "bmp": Qt's own reader and writer keep
// that name.
extern const char FORMAT_KEY[];

// Whether the device's next bytes are a Morvellane bitmap. Only peeks; false
// for a null, closed or unreadable device.
bool device_holds_morvellane(QIODevice* device);

// The picture's width and height from its header, peeked, without decoding;
// an invalid size when the header is not one this handler reads.
QSize peek_size(QIODevice* device);

// Makes the image the rows are decoded into, laid out as `plan` says (rows
// of plan.layout.stride bytes, plan.output_size in all); false to refuse.
// The default applies Qt's allocation limit; the benchmark passes others.
using ImageAllocator = bool (*)(const mrvln::ImagePlan& plan, QImage::Format format, QImage* image);

// Reads one Morvellane bitmap from the device's position, upright, into
// `image` with pixels laid out as `format` (PIXEL_BGRX32 gives
// Format_RGB32, PIXEL_BGR24 Format_BGR888). Reads no byte past the declared
// rows. False, with `image` untouched or null, for anything it refuses.
bool read_morvellane(QIODevice* device, mrvln::PixelFormat format, QImage* image,
                     ImageAllocator allocator = nullptr);

class MorvellaneHandler : public QImageIOHandler {
 public:
  bool canRead() const override;
  bool read(QImage* image) override;
  QVariant option(ImageOption option) const override;
  bool supportsOption(ImageOption option) const override;
};

}  // namespace mrvln_qt

#endif
