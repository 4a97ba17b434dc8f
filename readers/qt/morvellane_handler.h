// The Qt image handler for Morvellane bitmaps: all format logic is the
// core's reader; this file adds Qt's devices, images and allocation limits.
// Built once per Qt major as a static library that the plug-in and
// mrvconvert share.
#ifndef MRVLN_READERS_QT_MORVELLANE_HANDLER_H
#define MRVLN_READERS_QT_MORVELLANE_HANDLER_H

#include <stdint.h>

#include <QImage>
#include <QImageIOHandler>

#include "codec/reader.h"

namespace mrvln_qt {

// The handler's format key. Never "bmp": Qt's own reader and writer keep
// that name.
extern const char FORMAT_KEY[];

// Whether the device's next bytes are a Morvellane bitmap, broken or not.
// Only peeks; false for a null, closed or unreadable device.
bool device_holds_morvellane(QIODevice* device);

// The picture's width and height from its header, peeked, without decoding;
// an invalid size when the header is not one this handler reads.
QSize peek_size(QIODevice* device);

// Reads one Morvellane bitmap from the device's position, upright, into
// `image` with pixels laid out as `format` (PIXEL_BGRX32 gives
// Format_RGB32, PIXEL_BGR24 Format_BGR888), refusing pictures whose pixels
// take more than `limit` bytes. Reads no byte past the declared rows.
// Returns the refusal, REASON_NONE when `image` holds the picture; `image`
// is untouched otherwise.
mrvln::Refusal read_morvellane(QIODevice* device, mrvln::PixelFormat format, uint64_t limit,
                               QImage* image);

class MorvellaneHandler : public QImageIOHandler {
 public:
  bool canRead() const override;
  // Logs a refusal in the core's words to the category
  // "morvellane.imageformat": a handler has no error string of its own.
  bool read(QImage* image) override;
  QVariant option(ImageOption option) const override;
  bool supportsOption(ImageOption option) const override;
};

}  // namespace mrvln_qt

#endif
