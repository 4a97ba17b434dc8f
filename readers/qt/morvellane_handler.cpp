#include "readers/qt/morvellane_handler.h"

#include <QIODevice>
#include <QImageReader>
#include <QLoggingCategory>
#include <QVariant>
#include <memory>
#include <new>

#include "codec/morvellane.h"

namespace mrvln_qt {

const char FORMAT_KEY[] = "mrv";

namespace {

Q_LOGGING_CATEGORY(refusals, "morvellane.imageformat")

// Format_RGB32 is blue, green, red, 0xFF in memory only on little-endian
// machines; the core's PIXEL_BGRX32 writes exactly that.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN,
              "PIXEL_BGRX32 is Format_RGB32 only on little-endian");

// Read size: one allocation from the heap that the next picture reuses,
// large enough that QFile reads pass straight through its own buffer.
constexpr qint64 CHUNK_BYTES = 64 << 10;

// A pipe or socket may be slow to deliver; a file at its end answers at once.
constexpr int WAIT_MS = 10000;

QImage::Format qt_format(mrvln::PixelFormat format) {
  switch (format) {
    case mrvln::PIXEL_BGR24:
      return QImage::Format_BGR888;
    case mrvln::PIXEL_RGB24:
      return QImage::Format_RGB888;
    case mrvln::PIXEL_BGRX32:
      return QImage::Format_RGB32;
    case mrvln::PIXEL_RGBX32:
      return QImage::Format_RGBX8888;
  }
  return QImage::Format_Invalid;
}

// QImage's rows start at multiples of 4 bytes, the top row first.
mrvln::OutputLayout layout(mrvln::PixelFormat format, uint64_t limit) {
  return mrvln::OutputLayout{format, mrvln::ROWS_TOP_FIRST, 4, limit};
}

// The limit Qt puts on a reader's image: QImageReader::allocationLimit() in
// Qt 6 (0 for none); Qt 5 has none of its own and gets the core's default,
// Qt 6.5's.
uint64_t qt_limit() {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
  const int mib = QImageReader::allocationLimit();
  return mib > 0 ? static_cast<uint64_t>(mib) << 20 : mrvln::NO_OUTPUT_LIMIT;
#else
  return mrvln::DEFAULT_OUTPUT_LIMIT;
#endif
}

bool readable(QIODevice* device) {
  return device != nullptr && device->isOpen() && device->isReadable();
}

mrvln::ByteView view_of(const char* bytes, qint64 size) {
  return mrvln::ByteView{reinterpret_cast<const uint8_t*>(bytes), static_cast<uint32_t>(size)};
}

// Peeks the fixed header; the bytes there, 0 when the device cannot be
// peeked.
qint64 peek_header(QIODevice* device, char (&header)[mrvln::PIXEL_DATA_OFFSET]) {
  const qint64 got = readable(device) ? device->peek(header, sizeof header) : 0;
  return got < 0 ? 0 : got;
}

// Reads up to `size` bytes, waiting on devices that deliver slowly; the
// number read, or -1 on an error.
qint64 read_some(QIODevice* device, char* to, qint64 size) {
  qint64 got = device->read(to, size);
  if (got == 0 && device->isSequential() && device->waitForReadyRead(WAIT_MS))
    got = device->read(to, size);
  return got;
}

// Reads `size` bytes, or fewer where the device ends; the number read.
qint64 read_up_to(QIODevice* device, char* to, qint64 size) {
  qint64 done = 0;
  while (done < size) {
    const qint64 got = read_some(device, to + done, size - done);
    if (got <= 0) break;
    done += got;
  }
  return done;
}

}  // namespace

// The acceptance test alone: a Morvellane bitmap with broken sizes is still
// this handler's, to be refused in read() with its reason.
bool device_holds_morvellane(QIODevice* device) {
  char header[mrvln::PIXEL_DATA_OFFSET];
  return mrvln::is_morvellane(view_of(header, peek_header(device, header)));
}

QSize peek_size(QIODevice* device) {
  char header[mrvln::PIXEL_DATA_OFFSET];
  mrvln::Reader reader;
  const mrvln::OutputLayout any = layout(mrvln::PIXEL_BGRX32, mrvln::NO_OUTPUT_LIMIT);
  if (mrvln::reader_start(&reader, view_of(header, peek_header(device, header)), any).reason !=
      mrvln::REASON_NONE)
    return QSize();
  return QSize(static_cast<int>(reader.width), static_cast<int>(reader.height));
}

mrvln::Refusal read_morvellane(QIODevice* device, mrvln::PixelFormat format, uint64_t limit,
                               QImage* image) {
  const qint64 start = readable(device) ? device->pos() : 0;
  char header[mrvln::PIXEL_DATA_OFFSET];
  const qint64 got = readable(device) ? read_up_to(device, header, sizeof header) : 0;
  mrvln::Reader reader;
  mrvln::Refusal refusal =
      mrvln::reader_start(&reader, view_of(header, got), layout(format, limit));
  if (refusal.reason != mrvln::REASON_NONE) return refusal;
  // Where the size is known, a file too short for its rows is refused
  // before anything is allocated.
  if (!device->isSequential()) {
    const qint64 available = device->size() - start;
    refusal = mrvln::reader_check_file_size(reader, available > 0 ? available : 0);
    if (refusal.reason != mrvln::REASON_NONE) return refusal;
  }
  QImage result(static_cast<int>(reader.width), static_cast<int>(reader.height), qt_format(format));
  const std::unique_ptr<char[]> chunk(new (std::nothrow) char[CHUNK_BYTES]);
  if (result.isNull() || chunk == nullptr ||
      static_cast<uint64_t>(result.bytesPerLine()) != reader.stride ||
      !mrvln::reader_set_output(&reader, result.bits(),
                                static_cast<uint64_t>(result.sizeInBytes())))
    return mrvln::reader_out_of_memory(reader);
  // Never past the declared rows: the device may hold more after them.
  for (uint64_t wanted; (wanted = mrvln::reader_bytes_wanted(reader)) > 0;) {
    const qint64 n = read_some(
        device, chunk.get(),
        wanted < static_cast<uint64_t>(CHUNK_BYTES) ? static_cast<qint64>(wanted) : CHUNK_BYTES);
    if (n <= 0) break;
    mrvln::reader_feed(&reader, view_of(chunk.get(), n));
  }
  refusal = mrvln::reader_finish(reader);
  if (refusal.reason == mrvln::REASON_NONE) *image = result;
  return refusal;
}

bool MorvellaneHandler::canRead() const {
  if (!device_holds_morvellane(device())) return false;
  setFormat(FORMAT_KEY);
  return true;
}

bool MorvellaneHandler::read(QImage* image) {
  // Format_RGB32 straight from the core, the format Qt paints, so that no
  // second pass converts the picture; it takes a third more memory than
  // Format_BGR888, as Qt's BMP reader's images do.
  const mrvln::Refusal refusal = read_morvellane(device(), mrvln::PIXEL_BGRX32, qt_limit(), image);
  if (refusal.reason == mrvln::REASON_NONE) return true;
  char text[mrvln::REFUSAL_TEXT_SIZE];
  mrvln::refusal_text(refusal, text, sizeof text);
  qCWarning(refusals, "%s", text);
  return false;
}

QVariant MorvellaneHandler::option(ImageOption option) const {
  if (option == Size) {
    const QSize size = peek_size(device());
    return size.isValid() ? QVariant(size) : QVariant();
  }
  if (option == ImageFormat) return QVariant(static_cast<int>(QImage::Format_RGB32));
  return QVariant();
}

bool MorvellaneHandler::supportsOption(ImageOption option) const {
  return option == Size || option == ImageFormat;
}

}  // namespace mrvln_qt
