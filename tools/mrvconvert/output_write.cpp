#include "tools/mrvconvert/output_file.h"

namespace mrvconvert {

int OutputFile::write(const void* data, size_t size) {
  return write_fully(fd_, data, size);
}

}  // namespace mrvconvert
