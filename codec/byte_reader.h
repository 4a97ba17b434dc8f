// The one place that reads the caller's bytes: every access is checked
// against the length of the view it goes through.
#ifndef MRVLN_CODEC_BYTE_READER_H
#define MRVLN_CODEC_BYTE_READER_H

#include <stdint.h>

namespace mrvln {

// A read-only window on bytes the plug-in does not own.
struct ByteView {
  const uint8_t* data;
  uint32_t size;
};

inline bool view_holds(ByteView view, uint32_t offset, uint32_t length) {
  return offset <= view.size && length <= view.size - offset;
}

// Little-endian 16-bit value at `offset`; false when it lies outside the view.
inline bool read_u16le(ByteView view, uint32_t offset, uint16_t* out) {
  if (!view_holds(view, offset, 2)) return false;
  const uint8_t* p = view.data + offset;
  *out = static_cast<uint16_t>(p[0] | (p[1] << 8));
  return true;
}

// Little-endian 32-bit value at `offset`; false when it lies outside the view.
inline bool read_u32le(ByteView view, uint32_t offset, uint32_t* out) {
  if (!view_holds(view, offset, 4)) return false;
  const uint8_t* p = view.data + offset;
  *out = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  return true;
}

// The sub-range [offset, offset + length) as a view of its own; false when it
// does not lie wholly inside `view`. Code that walks a span indexes only
// views obtained here.
inline bool sub_view(ByteView view, uint32_t offset, uint32_t length, ByteView* out) {
  if (!view_holds(view, offset, length)) return false;
  out->data = view.data + offset;
  out->size = length;
  return true;
}

// Stores a little-endian value into the plug-in's own output bytes.
inline void store_u16le(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void store_u32le(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace mrvln

#endif
