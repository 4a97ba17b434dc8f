// Loads a whole named file into one fixed local-memory block.
#ifndef MRVLN_CODEC_FILE_LOADER_H
#define MRVLN_CODEC_FILE_LOADER_H

#include <stdint.h>

#include "codec/result.h"

namespace mrvln {

// On success *image_out is a fixed block (free it with LocalFree) holding all
// *size_out bytes of the file, and the file is closed. On failure nothing is
// left open or allocated and *image_out is null.
Result load_file_image(const char* path, uint8_t** image_out, uint32_t* size_out);

}  // namespace mrvln

#endif
