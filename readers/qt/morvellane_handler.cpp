#include "readers/qt/morvellane_handler.h"

#include <stdint.h>
#include <string.h>

#include <QIODevice>
#include <QVariant>
#include <memory>
#include <new>

#include "codec/morvellane.h"

namespace mrvln_qt {

const char FORMAT_KEY[] = "mrv";

namespace {

// Format_RGB32 is blue, green, red, 0xFF in memory only on little-endian
// machines; the core's PIXEL_BGRX32 writes exactly that.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN,
              "PIXEL_BGRX32 is Format_RGB32 only on little-endian");

// Read buffer: large enough that QFile passes reads straight through its own
// buffer, small enough to stay in the cache while its rows are converted.
constexpr uint32_t CHUNK_BYTES = 256u << 10;

// A pipe or socket may be slow to deliver; a file at its end answers at once.
constexpr int WAIT_MS = 10000;

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
// Qt 6 applies QImageReader::allocationLimit() in allocateImage.
constexpr uint64_t OUTPUT_LIMIT = UINT64_MAX;
#else
// Qt 5 has no allocation limit of its own: apply Qt 6's default.
constexpr uint64_t OUTPUT_LIMIT = mrvln::DEFAULT_OUTPUT_LIMIT;
#endif

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

// Peeks the fixed header; its size, or 0 when the device cannot be peeked.
qint64 peek_header(QIODevice* device, char (&header)[mrvln::PIXEL_DATA_OFFSET]) {
  if (device == nullptr || !device->isOpen() || !device->isReadable()) return 0;
  const qint64 got = device->peek(header, sizeof header);
  return got < 0 ? 0 : got;
}

mrvln::ByteView view_of(const char* bytes, qint64 size) {
  return mrvln::ByteView{reinterpret_cast<const uint8_t*>(bytes), static_cast<uint32_t>(size)};
}

// Reads up to `size` bytes, waiting on devices that deliver slowly; the
// number read, or -1 on an error.
qint64 read_some(QIODevice* device, char* to, qint64 size) {
  qint64 got = device->read(to, size);
  if (got == 0 && device->isSequential() && device->waitForReadyRead(WAIT_MS))
    got = device->read(to, size);
  return got;
}

bool read_exactly(QIODevice* device, char* to, qint64 size) {
  qint64 done = 0;
  while (done < size) {
    const qint64 got = read_some(device, to + done, size - done);
    if (got <= 0) return false;
    done += got;
  }
  return true;
}

bool allocate(const mrvln::ImagePlan& plan, QImage::Format format, QImage* image) {
  const QSize size(plan.picture.width, static_cast<int>(plan.picture.rows));
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
  return QImageIOHandler::allocateImage(size, format, image);
#else
  *image = QImage(size, format);
  return !image->isNull();
#endif
}

}  // namespace

bool device_holds_morvellane(QIODevice* device) {
  char header[mrvln::PIXEL_DATA_OFFSET];
  const qint64 got = peek_header(device, header);
  return mrvln::is_morvellane(view_of(header, got));
}

QSize peek_size(QIODevice* device) {
  char header[mrvln::PIXEL_DATA_OFFSET];
  const qint64 got = peek_header(device, header);
  mrvln::ImagePlan plan;
  if (!mrvln::is_morvellane(view_of(header, got)) ||
      mrvln::plan_image(view_of(header, got), mrvln::PIXEL_BGRX32, 4, UINT64_MAX, &plan) !=
          mrvln::RESULT_SUCCESS)
    return QSize();
  return QSize(plan.picture.width, static_cast<int>(plan.picture.rows));
}

bool read_morvellane(QIODevice* device, mrvln::PixelFormat format, QImage* image,
                     ImageAllocator allocator) {
  if (device == nullptr || image == nullptr) return false;
  const qint64 start = device->pos();
  char header[mrvln::PIXEL_DATA_OFFSET];
  if (!read_exactly(device, header, sizeof header)) return false;
  const mrvln::ByteView header_view = view_of(header, sizeof header);
  mrvln::ImagePlan plan;
  if (!mrvln::is_morvellane(header_view) ||
      mrvln::plan_image(header_view, format, 4, OUTPUT_LIMIT, &plan) != mrvln::RESULT_SUCCESS)
    return false;
  // Where the size is known, a file too short for its rows is refused before
  // anything is allocated.
  if (!device->isSequential()) {
    const qint64 available = device->size() - start;
    if (available < 0 || !mrvln::file_holds_rows(plan.picture, static_cast<uint64_t>(available)))
      return false;
  }

  const uint32_t row_bytes = plan.picture.source_row_size;
  const uint32_t buffer_size = row_bytes > CHUNK_BYTES ? row_bytes : CHUNK_BYTES;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[buffer_size]);
  QImage result;
  if (!buffer || !(allocator != nullptr ? allocator : allocate)(plan, qt_format(format), &result))
    return false;
  // The core writes rows of plan.layout.stride bytes into a block of
  // plan.output_size; the image's layout must be exactly that.
  if (result.isNull() || static_cast<uint64_t>(result.bytesPerLine()) != plan.layout.stride ||
      static_cast<uint64_t>(result.sizeInBytes()) < plan.output_size)
    return false;

  // One processor check for the whole picture, not one per chunk.
  const mrvln::ConvertPath path = mrvln::best_convert_path();
  uchar* const output = result.bits();
  uint32_t held = 0;                           // bytes in the buffer
  uint32_t unread = plan.picture.source_size;  // never read past the declared rows
  uint32_t next_row = 0;
  while (next_row < plan.picture.rows) {
    const uint32_t room = buffer_size - held;
    const qint64 got = read_some(device, buffer.get() + held, room < unread ? room : unread);
    if (got <= 0) return false;  // truncated
    held += static_cast<uint32_t>(got);
    unread -= static_cast<uint32_t>(got);
    const uint32_t count = held / row_bytes;
    if (count == 0) continue;
    // The whole rows go to the core; a partial row waits for its rest.
    mrvln::ByteView rows;
    const uint32_t rest = held % row_bytes;
    if (!mrvln::sub_view(view_of(buffer.get(), held), 0, held - rest, &rows) ||
        mrvln::decode_rows(plan.picture, plan.layout, rows, next_row, count, output,
                           plan.output_size, path) != mrvln::RESULT_SUCCESS)
      return false;
    next_row += count;
    memmove(buffer.get(), buffer.get() + rows.size, rest);
    held = rest;
  }
  *image = result;
  return true;
}

bool MorvellaneHandler::canRead() const {
  if (!device_holds_morvellane(device())) return false;
  setFormat(FORMAT_KEY);
  return true;
}

bool MorvellaneHandler::read(QImage* image) {
  // Format_RGB32 straight from the core, what painting wants: a 3840 x 2160
  // read took 30-52 ms this way against 73-165 ms as Format_BGR888 plus
  // convertToFormat(Format_RGB32) (qt/bench_qt, 6 runs on a loaded 2-vCPU
  // EPYC). The larger image costs a third more memory, as Qt's BMP reader's.
  return read_morvellane(device(), mrvln::PIXEL_BGRX32, image);
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
