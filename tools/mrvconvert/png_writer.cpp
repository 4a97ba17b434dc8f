#include "tools/mrvconvert/png_writer.h"

#include <errno.h>
#include <png.h>

#include <vector>

namespace mrvconvert {

namespace {

// libpng hands over one chunk of a few KiB at a time; writes go out in
// pieces of this size.
constexpr size_t kWriteBuffer = 1u << 20;

struct Sink {
  OutputFile* out;
  std::vector<unsigned char> buffer;
  int error;
};

bool flush(Sink* sink) {
  if (sink->error == 0 && !sink->buffer.empty())
    sink->error = sink->out->write(sink->buffer.data(), sink->buffer.size());
  sink->buffer.clear();
  return sink->error == 0;
}

void write_data(png_structp png, png_bytep data, png_size_t size) {
  Sink* sink = static_cast<Sink*>(png_get_io_ptr(png));
  sink->buffer.insert(sink->buffer.end(), data, data + size);
  if (sink->buffer.size() >= kWriteBuffer && !flush(sink)) png_error(png, "write failed");
}

void flush_data(png_structp) {}

void on_warning(png_structp, png_const_charp) {}

// Errors end up in the caller's message, not on standard error.
void on_error(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}

// Everything between setjmp and a longjmp is libpng's C code, so no C++
// object is skipped over.
int encode(png_structp png, png_infop info, const QImage& image, int level, Sink* sink,
           const std::vector<png_bytep>& rows) {
  if (setjmp(png_jmpbuf(png))) return sink->error != 0 ? sink->error : EINVAL;
  png_set_write_fn(png, sink, write_data, flush_data);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()),
               static_cast<png_uint_32>(image.height()), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, level);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, level == 0 ? PNG_FILTER_NONE : PNG_FILTER_PAETH);
  png_write_info(png, info);
  png_set_bgr(png);  // both formats hold blue first in memory
  if (image.format() == QImage::Format_RGB32) png_set_filler(png, 0, PNG_FILLER_AFTER);
  png_write_image(png, const_cast<png_bytepp>(rows.data()));
  png_write_end(png, info);
  return 0;
}

}  // namespace

int write_png(const QImage& image, int level, OutputFile* out) {
  if (image.format() != QImage::Format_BGR888 && image.format() != QImage::Format_RGB32)
    return EINVAL;
  std::vector<png_bytep> rows(static_cast<size_t>(image.height()));
  for (int y = 0; y < image.height(); ++y)
    rows[static_cast<size_t>(y)] = const_cast<png_bytep>(image.constScanLine(y));
  Sink sink{out, {}, 0};
  sink.buffer.reserve(kWriteBuffer + 65536);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  int error = info == nullptr ? ENOMEM : encode(png, info, image, level, &sink, rows);
  if (error == 0 && !flush(&sink)) error = sink.error;
  png_destroy_write_struct(&png, &info);
  return error;
}

}  // namespace mrvconvert
