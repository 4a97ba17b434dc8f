// PNG output: 8-bit RGB rows filtered with Paeth (png_filter.h), the whole
// picture compressed in one call by libdeflate, written as IHDR, IDAT
// chunks and IEND with their CRCs, nothing else. A writer keeps its
// compressor and buffers from one picture to the next: one per worker, so
// that a run allocates them once, at its largest picture's size.
#ifndef MRVLN_TOOLS_MRVCONVERT_PNG_WRITER_H
#define MRVLN_TOOLS_MRVCONVERT_PNG_WRITER_H

#include <stddef.h>
#include <stdint.h>

#include <QImage>

#include "tools/mrvconvert/output_file.h"

struct libdeflate_compressor;

namespace mrvconvert {

// libdeflate's level for each of mrvconvert's levels 0-9, chosen by
// measurement (bench/mrvconvert/run.sh): 0-6 as zlib's, then every other of
// the slower levels up to libdeflate's smallest, 12.
constexpr int kDeflateLevels[10] = {0, 1, 2, 3, 4, 5, 6, 8, 10, 12};

class PngWriter {
 public:
  PngWriter() = default;
  PngWriter(const PngWriter&) = delete;
  PngWriter& operator=(const PngWriter&) = delete;
  ~PngWriter();

  // Writes `image` (Format_RGB888) at mrvconvert's level `level` (0-9) into
  // `out`; 0 or the errno value of the failed write (EINVAL for another
  // format, ENOMEM when out of memory).
  int write(const QImage& image, int level, OutputFile* out);

 private:
  // A block that keeps the largest size asked of it, mapped with
  // transparent huge pages asked for: a picture's buffers then take a few
  // page faults, not one per 4 KiB.
  struct Buffer {
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer();
    uint8_t* get(size_t wanted);  // null when out of memory
    uint8_t* bytes = nullptr;
    size_t size = 0;
  };

  libdeflate_compressor* compressor_ = nullptr;
  int compressor_level_ = -1;
  Buffer filtered_, compressed_, zeros_;
};

}  // namespace mrvconvert

#endif
