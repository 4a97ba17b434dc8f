// Result codes returned by the plug-in's exports. Every code the plug-in can
// return is named here and nowhere else.
#ifndef MRVLN_CODEC_RESULT_H
#define MRVLN_CODEC_RESULT_H

#include <stdint.h>

namespace mrvln {

typedef int32_t Result;

// The call did what was asked.
constexpr Result RESULT_SUCCESS = 0;
// The preview export, or a source mode other than file and memory.
constexpr Result RESULT_NOT_IMPLEMENTED = -1;
// The data does not hold what its header declares: too short for the header,
// too short for the pixel rows, a negative width, or the most negative height.
constexpr Result RESULT_BROKEN_DATA = 3;
// A block could not be allocated, or the picture or file is larger than any
// block a 32-bit process can hold.
constexpr Result RESULT_OUT_OF_MEMORY = 4;
// A block was allocated but could not be locked for writing.
constexpr Result RESULT_MEMORY_ERROR = 5;
// The named file could not be opened, or reading it failed or came up short.
constexpr Result RESULT_FILE_ERROR = 6;

}  // namespace mrvln

#endif
