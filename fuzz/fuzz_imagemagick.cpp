// Drives the ImageMagick coder module, which MagickCore loads from the build
// tree's coder folder, through BlobToImage with the MRV: prefix; the input's
// last byte chooses a ping (the header alone) or a read of every pixel.
// Only inputs the coder keeps are read: it hands every other BMP to
// ImageMagick's own coder, which is not fuzzed here.
#include <magick/MagickCore.h>
#include <stddef.h>
#include <stdint.h>

#include "codec/morvellane.h"
#include "codec/reader.h"

namespace {

bool coders_file(const uint8_t* data, size_t size) {
  mrvln::Reader reader;
  const mrvln::OutputLayout any = {mrvln::PIXEL_RGB24, mrvln::ROWS_TOP_FIRST, 1,
                                   mrvln::NO_OUTPUT_LIMIT};
  const uint32_t head =
      size < mrvln::PIXEL_DATA_OFFSET ? static_cast<uint32_t>(size) : mrvln::PIXEL_DATA_OFFSET;
  return mrvln::reader_start(&reader, mrvln::ByteView{data, head}, any).reason !=
         mrvln::REASON_NOT_MORVELLANE;
}

unsigned sum_pixels(const Image* image, ExceptionInfo* exception) {
  unsigned sum = 0;
  for (size_t y = 0; y < image->rows; ++y) {
    const PixelPacket* p =
        GetVirtualPixels(image, 0, static_cast<ssize_t>(y), image->columns, 1, exception);
    if (p == nullptr) break;
    for (size_t x = 0; x < image->columns; ++x) sum += p[x].red + p[x].green + p[x].blue;
  }
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = (MagickCoreGenesis(nullptr, MagickFalse), true);
  if (!started || size == 0 || !coders_file(data, size)) return 0;
  ImageInfo* info = AcquireImageInfo();
  ExceptionInfo* exception = AcquireExceptionInfo();
  (void)CopyMagickString(info->filename, "MRV:fuzz.bmp", MaxTextExtent);
  const bool ping = (data[size - 1] & 1) != 0;
  Image* image =
      ping ? PingBlob(info, data, size, exception) : BlobToImage(info, data, size, exception);
  if (image != nullptr) {
    static volatile unsigned sink;
    if (!ping) sink = sink + sum_pixels(image, exception);
    image = DestroyImageList(image);
  }
  exception = DestroyExceptionInfo(exception);
  info = DestroyImageInfo(info);
  return 0;
}
