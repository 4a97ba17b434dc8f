// ImageMagick 6 coder for Morvellane bitmaps, over the core's reader.
//
// ImageMagick picks a coder by the file's first bytes, before its name, and a
// magic entry can only compare fixed bytes at one offset. This module's
// magic.xml entry therefore claims every file that starts with "BM", and
// every BMP but a Morvellane bitmap goes on to ImageMagick's own BMP coder
// through ReadImage, as the built-in magic would have sent it: the same
// pixels, format name, policy checks and errors.
//
// Pixels go from the reader, in RGB, into a strip of a few rows reused down
// the picture and from there into ImageMagick's pixel cache, which
// SetImageExtent sizes under ImageMagick's own resource limits; the core is
// given none of its own.
#include <magick/MagickCore.h>
#include <stdio.h>
#include <string.h>

#include "codec/morvellane.h"
#include "codec/reader.h"

// MagickCore exports these to its coders but declares them in
// blob-private.h, which the development package does not install.
extern "C" {
typedef enum {
  UndefinedBlobMode,
  ReadBlobMode,
  ReadBinaryBlobMode,
} BlobMode;
MagickBooleanType OpenBlob(const ImageInfo*, Image*, const BlobMode, ExceptionInfo*);
MagickBooleanType CloseBlob(Image*);
ssize_t ReadBlob(Image*, const size_t, unsigned char*);
MagickOffsetType SeekBlob(Image*, const MagickOffsetType, const int);
MagickOffsetType TellBlob(const Image*);
}

namespace {

using mrvln::ByteView;

constexpr mrvln::OutputLayout kLayout = {mrvln::PIXEL_RGB24, mrvln::ROWS_TOP_FIRST, 1,
                                         mrvln::NO_OUTPUT_LIMIT};
constexpr size_t kStripBytes = 256 << 10;

// MagickCore's ScaleCharToQuantum, which its headers keep private: 8 bits
// scaled exactly to the quantum (257 times in Q16).
static_assert(MAGICKCORE_HDRI_ENABLE == 0 && QuantumRange % 255 == 0, "an integer quantum");
inline Quantum from_char(uint8_t v) {
  return static_cast<Quantum>(v * (QuantumRange / 255));
}

// The core's words as the exception's reason, the file as its description.
Image* refuse(Image* image, const mrvln::Refusal& refusal, ExceptionInfo* exception) {
  char text[mrvln::REFUSAL_TEXT_SIZE];
  mrvln::refusal_text(refusal, text, sizeof text);
  const ExceptionType type =
      refusal.reason == mrvln::REASON_OUT_OF_MEMORY ? ResourceLimitError : CorruptImageError;
  (void)ThrowMagickException(exception, GetMagickModule(), type, text, "`%s'", image->filename);
  (void)CloseBlob(image);
  return DestroyImageList(image);
}

// Any other file, MRV: prefix or not: read as if the magic had named the
// BMP coder.
Image* read_as_bmp(const ImageInfo* image_info, ExceptionInfo* exception) {
  ImageInfo* info = CloneImageInfo(image_info);
  // The outer ReadImage removes a temporary file, prints -verbose and applies
  // -extract; the inner one must not do so too.
  info->temporary = MagickFalse;
  info->verbose = MagickFalse;
  if (info->extract != nullptr) info->extract = DestroyString(info->extract);
  (void)FormatLocaleString(info->filename, MaxTextExtent, "BMP:%s", image_info->filename);
  Image* image = ReadImage(info, exception);
  (void)DestroyImageInfo(info);
  return image;
}

enum RowsResult { ROWS_READ, ROWS_NO_MEMORY, ROWS_CACHE_FAILED };

// Stored rows in, whole rows at a time, through the strip into the pixel
// cache, until the last row or the end of the file.
RowsResult read_rows(Image* image, mrvln::Reader* r, ExceptionInfo* exception) {
  const size_t out_row = 3 * size_t{r->width};
  const size_t in_row = (r->file_size - mrvln::PIXEL_DATA_OFFSET) / r->height;
  size_t strip_rows = kStripBytes / out_row;
  if (strip_rows < 1) strip_rows = 1;
  if (strip_rows > r->height) strip_rows = r->height;
  uint8_t* strip = static_cast<uint8_t*>(AcquireQuantumMemory(strip_rows, out_row));
  uint8_t* input = static_cast<uint8_t*>(AcquireQuantumMemory(strip_rows, in_row));
  uint8_t** rows = static_cast<uint8_t**>(AcquireQuantumMemory(r->height, sizeof(uint8_t*)));
  RowsResult result = ROWS_READ;
  if (strip == nullptr || input == nullptr || rows == nullptr) {
    result = ROWS_NO_MEMORY;
  } else {
    // Output row y lands in strip row y mod strip_rows; one read completes at
    // most strip_rows rows, which leave the strip before the next read.
    for (uint32_t y = 0; y < r->height; ++y) rows[y] = strip + (y % strip_rows) * out_row;
    mrvln::reader_set_output_rows(r, rows, r->height);
  }
  while (result == ROWS_READ && r->rows_done < r->height) {
    const uint32_t first = r->rows_done;
    const size_t want = (r->height - first < strip_rows ? r->height - first : strip_rows) * in_row;
    const ssize_t got = ReadBlob(image, want, input);
    if (got <= 0) break;
    mrvln::reader_feed(r, ByteView{input, static_cast<uint32_t>(got)});
    for (uint32_t s = first; s < r->rows_done; ++s) {
      const uint32_t y = mrvln::reader_output_row(*r, s);
      PixelPacket* q = QueueAuthenticPixels(image, 0, y, r->width, 1, exception);
      if (q == nullptr) {
        result = ROWS_CACHE_FAILED;
        break;
      }
      const uint8_t* p = rows[y];
      for (uint32_t x = 0; x < r->width; ++x, ++q, p += 3) {
        SetPixelRed(q, from_char(p[0]));
        SetPixelGreen(q, from_char(p[1]));
        SetPixelBlue(q, from_char(p[2]));
        SetPixelOpacity(q, OpaqueOpacity);
      }
      if (SyncAuthenticPixels(image, exception) == MagickFalse) {
        result = ROWS_CACHE_FAILED;
        break;
      }
    }
    if (static_cast<size_t>(got) < want) break;
  }
  RelinquishMagickMemory(strip);
  RelinquishMagickMemory(input);
  RelinquishMagickMemory(rows);
  return result;
}

Image* ReadMRVImage(const ImageInfo* image_info, ExceptionInfo* exception) {
  Image* image = AcquireImage(image_info);
  if (OpenBlob(image_info, image, ReadBinaryBlobMode, exception) == MagickFalse)
    return DestroyImageList(image);
  const MagickOffsetType start = TellBlob(image);
  uint8_t header[mrvln::PIXEL_DATA_OFFSET];
  const ssize_t got = ReadBlob(image, sizeof header, header);
  mrvln::Reader reader;
  const mrvln::Refusal refusal = mrvln::reader_start(
      &reader, ByteView{header, got > 0 ? static_cast<uint32_t>(got) : 0}, kLayout);
  if (refusal.reason == mrvln::REASON_NOT_MORVELLANE) {
    // A stream the caller handed over is left where it started.
    (void)SeekBlob(image, start, SEEK_SET);
    (void)CloseBlob(image);
    (void)DestroyImageList(image);
    return read_as_bmp(image_info, exception);
  }
  if (refusal.reason != mrvln::REASON_NONE) return refuse(image, refusal, exception);
  image->columns = reader.width;
  image->rows = reader.height;
  image->depth = 8;
  if (image_info->ping != MagickFalse) {
    (void)CloseBlob(image);
    return GetFirstImageInList(image);
  }
  // A file too short for its rows is refused before ImageMagick sizes a
  // pixel cache for it (one that shrinks meanwhile, at its end), but after
  // the size limits the pixel cache would apply first, in its words.
  if (image->columns > GetMagickResourceLimit(WidthResource) ||
      image->rows > GetMagickResourceLimit(HeightResource)) {
    (void)ThrowMagickException(exception, GetMagickModule(), ImageError,
                               "WidthOrHeightExceedsLimit", "`%s'", image->filename);
    (void)CloseBlob(image);
    return DestroyImageList(image);
  }
  const MagickSizeType size = GetBlobSize(image);
  if (size > static_cast<MagickSizeType>(start)) {
    const mrvln::Refusal cut = mrvln::reader_check_file_size(reader, size - start);
    if (cut.reason != mrvln::REASON_NONE) return refuse(image, cut, exception);
  }
  if (SetImageExtent(image, image->columns, image->rows) == MagickFalse) {
    InheritException(exception, &image->exception);
    (void)CloseBlob(image);
    return DestroyImageList(image);
  }
  const RowsResult rows = read_rows(image, &reader, exception);
  if (rows == ROWS_NO_MEMORY) return refuse(image, mrvln::reader_out_of_memory(reader), exception);
  if (rows == ROWS_CACHE_FAILED) {
    (void)CloseBlob(image);
    return DestroyImageList(image);
  }
  const mrvln::Refusal end = mrvln::reader_finish(reader);
  if (end.reason != mrvln::REASON_NONE) return refuse(image, end, exception);
  (void)CloseBlob(image);
  return GetFirstImageInList(image);
}

}  // namespace

extern "C" {

ModuleExport size_t RegisterMRVImage(void) {
  MagickInfo* entry = SetMagickInfo("MRV");
  entry->decoder = ReadMRVImage;
  entry->description =
      ConstantString("Morvellane bitmap (16-bit 5-6-5 BMP); other BMP files go to the BMP coder");
  entry->mime_type = ConstantString("image/x-morvellane");
  entry->magick_module = ConstantString("MRV");
  entry->adjoin = MagickFalse;
  // A pipe is copied to a temporary file first, which the BMP coder can
  // read again from its start.
  entry->seekable_stream = MagickTrue;
  (void)RegisterMagickInfo(entry);
  return MagickImageCoderSignature;
}

ModuleExport void UnregisterMRVImage(void) {
  (void)UnregisterMagickInfo("MRV");
}

}  // extern "C"
