// The tool's side of the plug-in: loading ifMrvln.spi with LoadLibraryA and
// using it only through its exports, as an image viewer does.
#ifndef MRVLN_HOST_PLUGIN_CLIENT_H
#define MRVLN_HOST_PLUGIN_CLIENT_H

#include <windows.h>

#include <string>

#include "spi_client/spi_client.h"

namespace mrvhost {

// Loads ifMrvln.spi from the folder of this program. False, with a message
// in *why, when it cannot be loaded or lacks an export.
bool load_plugin(spi::Plugin* p, std::string* why);

// IsSupported given an open handle, as a viewer browsing a folder asks:
// 1 accepted, 0 refused, -1 the file cannot be opened (*error set).
int verdict(const spi::Plugin& p, const std::string& path, unsigned long* error);

// The decoded picture: the two blocks GetPicture hands over, freed here.
class Decoded {
 public:
  Decoded() = default;
  ~Decoded();
  Decoded(const Decoded&) = delete;
  Decoded& operator=(const Decoded&) = delete;
  // Calls GetPicture in file mode; returns its result code.
  int32_t load(const spi::Plugin& p, const std::string& path);
  // Writes a BMP file: file header, the BITMAPINFOHEADER block as it came,
  // the pixel block. Returns a system error code, 0 on success.
  unsigned long write_bmp(const std::string& path) const;
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }

 private:
  HLOCAL info_ = nullptr;
  HLOCAL bits_ = nullptr;
  int32_t width_ = 0;
  int32_t height_ = 0;
};

// A system error code as text, without the trailing line break.
std::string system_message(unsigned long error);

}  // namespace mrvhost

#endif
