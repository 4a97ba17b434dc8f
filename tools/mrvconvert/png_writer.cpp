#include "tools/mrvconvert/png_writer.h"

#include <errno.h>
#include <libdeflate.h>
#include <string.h>
#include <sys/mman.h>

#include <algorithm>

#include "tools/mrvconvert/png_filter.h"

namespace mrvconvert {

namespace {

// IDAT chunks of up to 256 KiB: any size up to 2^31 - 1 is valid, and this
// one keeps every chunk well within what any reader takes.
constexpr size_t kIdatBytes = 256u << 10;
constexpr size_t kHugePage = 2u << 20;  // x86-64's and arm64's usual size
const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint8_t* put32(uint8_t* to, uint32_t v) {
  to[0] = static_cast<uint8_t>(v >> 24);
  to[1] = static_cast<uint8_t>(v >> 16);
  to[2] = static_cast<uint8_t>(v >> 8);
  to[3] = static_cast<uint8_t>(v);
  return to + 4;
}

// A chunk's length and type; its CRC starts over the type.
uint8_t* chunk_head(uint8_t* to, const char* type, uint32_t length, uint32_t* crc) {
  to = put32(to, length);
  memcpy(to, type, 4);
  *crc = libdeflate_crc32(0, to, 4);
  return to + 4;
}

}  // namespace

PngWriter::Buffer::~Buffer() {
  if (bytes != nullptr) munmap(bytes, size);
}

uint8_t* PngWriter::Buffer::get(size_t wanted) {
  if (wanted <= size) return bytes;
  if (bytes != nullptr) munmap(bytes, size);
  bytes = nullptr;
  size = 0;
  // Whole huge pages on a huge page's boundary, cut out of a larger mapping.
  const size_t length = (wanted + kHugePage - 1) / kHugePage * kHugePage;
  void* block =
      mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(block);
  const uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned > start) munmap(block, aligned - start);
  munmap(reinterpret_cast<void*>(aligned + length), start + kHugePage - aligned);
  bytes = reinterpret_cast<uint8_t*>(aligned);
  size = length;
  madvise(bytes, size, MADV_HUGEPAGE);  // a wish: without it, plain pages
  return bytes;
}

PngWriter::~PngWriter() {
  libdeflate_free_compressor(compressor_);
}

int PngWriter::write(const QImage& image, int level, OutputFile* out) {
  if (image.format() != QImage::Format_RGB888 || image.isNull() || level < 0 || level > 9)
    return EINVAL;
  if (compressor_level_ != level) {
    libdeflate_free_compressor(compressor_);
    compressor_ = libdeflate_alloc_compressor(kDeflateLevels[level]);
    compressor_level_ = compressor_ != nullptr ? level : -1;
    if (compressor_ == nullptr) return ENOMEM;
  }
  const size_t width = static_cast<size_t>(image.width()),
               height = static_cast<size_t>(image.height());
  const size_t row_bytes = 3 * width, filtered_size = (1 + row_bytes) * height;
  uint8_t* filtered = filtered_.get(filtered_size);
  uint8_t* zeros = zeros_.get(row_bytes);
  if (filtered == nullptr || zeros == nullptr) return ENOMEM;
  memset(zeros, 0, row_bytes);
  // Filtering gains nothing for stored blocks.
  const bool paeth = kDeflateLevels[level] > 0;
  for (size_t y = 0; y < height; ++y) {
    const uint8_t* row = image.constScanLine(static_cast<int>(y));
    uint8_t* to = filtered + y * (1 + row_bytes);
    to[0] = paeth ? kPngFilterPaeth : 0;
    if (paeth)
      paeth_row(row, y > 0 ? image.constScanLine(static_cast<int>(y - 1)) : zeros, row_bytes,
                to + 1);
    else
      memcpy(to + 1, row, row_bytes);
  }

  const size_t bound = libdeflate_zlib_compress_bound(compressor_, filtered_size);
  uint8_t* compressed = compressed_.get(bound);
  if (compressed == nullptr) return ENOMEM;
  const size_t length =
      libdeflate_zlib_compress(compressor_, filtered, filtered_size, compressed, bound);
  if (length == 0) return EINVAL;  // cannot be, with the bound's room

  // The signature, IHDR and the first IDAT's head.
  uint8_t head[8 + 25 + 8];
  uint32_t crc;
  memcpy(head, kSignature, 8);
  uint8_t* p = chunk_head(head + 8, "IHDR", 13, &crc);
  p = put32(p, static_cast<uint32_t>(width));
  p = put32(p, static_cast<uint32_t>(height));
  const uint8_t format[5] = {8, 2, 0, 0, 0};  // 8 bits, RGB, deflate, filters, not interlaced
  memcpy(p, format, 5);
  p = put32(p + 5, libdeflate_crc32(crc, head + 16, 13));
  // Then each IDAT's data, each followed by its CRC and the next chunk's head.
  p = chunk_head(p, "IDAT", static_cast<uint32_t>(std::min(length, kIdatBytes)), &crc);
  int error = out->write(head, static_cast<size_t>(p - head));
  for (size_t done = 0; error == 0 && done < length;) {
    const size_t piece = std::min(length - done, kIdatBytes);
    error = out->write(compressed + done, piece);
    crc = libdeflate_crc32(crc, compressed + done, piece);
    done += piece;
    uint8_t tail[4 + 12];
    p = put32(tail, crc);
    if (done < length) {
      p = chunk_head(p, "IDAT", static_cast<uint32_t>(std::min(length - done, kIdatBytes)), &crc);
    } else {
      p = chunk_head(p, "IEND", 0, &crc);
      p = put32(p, crc);
    }
    if (error == 0) error = out->write(tail, static_cast<size_t>(p - tail));
  }
  return error;
}

}  // namespace mrvconvert
