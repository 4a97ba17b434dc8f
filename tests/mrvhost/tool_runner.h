// Runs the built mrvhost.exe as a user would, in a child process, and gives
// tests temporary folders, file helpers and an independent reader of the
// 24-bit BMP files the tool writes.
#ifndef MRVLN_TESTS_MRVHOST_TOOL_RUNNER_H
#define MRVLN_TESTS_MRVHOST_TOOL_RUNNER_H

#include <stdint.h>

#include <string>
#include <vector>

#include "tests/fixtures/files.h"

namespace tooltest {

// The folder holding this test program, mrvhost.exe and ifMrvln.spi.
std::string bin_dir();

struct Run {
  unsigned long exit_code = 0xFFFFFFFF;
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs `exe` (by default mrvhost.exe next to this program) with `args`, each
// passed as one argument, and waits for it.
Run run_tool(const std::vector<std::string>& args, const std::string& exe = "");

// A fresh folder under the temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

using fixtures::read_file;
using fixtures::write_file;
bool exists(const std::string& path);

// The folder of bundled sample pictures, written once by make_samples.exe.
const std::string& samples_dir();

// A standard BMP read back field by field, rows in stored order.
struct Bmp {
  uint32_t file_size = 0, pixel_offset = 0, info_size = 0;
  int32_t width = 0, height = 0;
  uint16_t planes = 0, bit_count = 0;
  uint32_t compression = 0;
  std::vector<uint8_t> bgr;  // |height| rows of width * 3 bytes, fill removed
};
// False, with a reason in *why, if `bytes` is not a complete 24-bit BMP.
bool read_bmp24(const std::vector<uint8_t>& bytes, Bmp* out, std::string* why);

// A 24-bit BMP with a `info_size`-byte information header (40 or larger);
// fill bytes are 0xAB so that reading them as pixels shows.
std::vector<uint8_t> make_bmp24(int32_t width, int32_t height, const std::vector<uint8_t>& bgr,
                                uint32_t info_size = 40);

bool contains(const std::string& text, const std::string& part);

}  // namespace tooltest

#endif
