// The tool's own bitmap handling, independent of the plug-in: reading a
// standard 24-bit BMP, writing a Morvellane bitmap from it, and whole-file
// reading and writing.
#ifndef MRVLN_TOOLS_MRVHOST_BITMAP_FILES_H
#define MRVLN_TOOLS_MRVHOST_BITMAP_FILES_H

#include <stdint.h>

#include <string>
#include <vector>

namespace mrvhost {

// An uncompressed 24-bit picture with its rows in stored order.
struct Picture24 {
  int32_t width = 0;
  int32_t height = 0;  // as stored; negative means the top row comes first
  uint32_t rows = 0;   // |height|
  int32_t x_pels_per_meter = 0;
  int32_t y_pels_per_meter = 0;
  std::vector<uint8_t> bgr;  // rows * width * 3 bytes, blue, green, red
};

// Reads a standard BMP file held in `file`. False, with the reason in *why,
// unless it is an uncompressed 24-bit picture whose rows are all present.
bool parse_bmp24(const std::vector<uint8_t>& file, Picture24* out, std::string* why);

// One 8-bit channel reduced to the nearest of `max` + 1 evenly spaced levels.
inline uint32_t nearest_level(uint32_t value, uint32_t max) {
  return (value * max + 127) / 255;
}

// The Morvellane bitmap of `picture`: header, masks, unaligned 5-6-5 rows in
// the same order and orientation. False when its sizes do not fit the format.
bool encode_morvellane(const Picture24& picture, std::vector<uint8_t>* out, std::string* why);

// Whole-file helpers over the Windows file functions. On failure they return
// the system error code (never 0).
unsigned long read_whole_file(const std::string& path, std::vector<uint8_t>* out);
// Writes the pieces one after another; a partly written file is removed.
struct Piece {
  const void* data;
  uint32_t size;
};
unsigned long write_whole_file(const std::string& path, const Piece* pieces, int count);

}  // namespace mrvhost

#endif
