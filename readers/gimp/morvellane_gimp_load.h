// The GIMP plug-in's reading, apart from libgimp: the header through the
// core's reader, then the rows from the core into a strip that the caller
// puts into the layer, a strip at a time. A GIMP 3 port changes only the
// caller (file-morvellane.cpp): how the procedure is registered, the image
// made and a strip put.
#ifndef MRVLN_READERS_GIMP_MORVELLANE_GIMP_LOAD_H
#define MRVLN_READERS_GIMP_MORVELLANE_GIMP_LOAD_H

#include <stdint.h>
#include <stdio.h>

#include "codec/reader.h"

namespace mrvln_gimp {

enum Verdict {
  VERDICT_PICTURE,  // a Morvellane bitmap, planned: its rows are next
  VERDICT_OTHER,    // not one (or not readable here): GIMP's BMP loader's
  VERDICT_REFUSED,  // a Morvellane bitmap that cannot be read: `refusal` says why
};

struct Load {
  FILE* file;
  mrvln::Reader reader;
  mrvln::Refusal refusal;
};

// Opens `filename` and reads its header. A header alone allocates nothing:
// the size is checked against `limit` and the file's length first.
Verdict load_begin(Load* load, const char* filename, uint64_t limit);

// Where a strip goes: `rows` output rows from `top` on, top first, each
// `stride` bytes of RGB (8 bits a channel, no padding).
struct StripSink {
  void (*put)(void* context, uint32_t top, uint32_t rows, const uint8_t* pixels, uint32_t stride);
  void* context;
};

// Converts the rows, a strip of up to `strip_rows` stored rows at a time,
// and hands each complete strip to `sink`, then `progress` with the share
// done. The refusal when rows are missing or memory is short.
mrvln::Refusal load_rows(Load* load, uint32_t strip_rows, const StripSink& sink,
                         void (*progress)(double done));

void load_end(Load* load);

}  // namespace mrvln_gimp

#endif
