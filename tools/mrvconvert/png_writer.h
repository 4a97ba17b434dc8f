// PNG output through libpng, with the compression level the user chose and
// a fixed Paeth filter: on photographs and on the samples it gave files as
// small as libpng's adaptive choice in less time (docs/qt-plugin.md).
#ifndef MRVLN_TOOLS_MRVCONVERT_PNG_WRITER_H
#define MRVLN_TOOLS_MRVCONVERT_PNG_WRITER_H

#include <QImage>

#include "tools/mrvconvert/output_file.h"

namespace mrvconvert {

// Writes `image` (Format_BGR888 or Format_RGB32) as an 8-bit RGB PNG at zlib
// level `level` (0-9) into `out`; 0 or the errno value of the failed write
// (EINVAL for an image libpng refuses, ENOMEM when out of memory).
int write_png(const QImage& image, int level, OutputFile* out);

}  // namespace mrvconvert

#endif
