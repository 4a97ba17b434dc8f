// Runs the built mrvhost.exe as a user would, in a child process, and gives
// tests temporary folders, file helpers and the 24-bit BMP files the tool
// reads and must write.
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

// The BMP file CONVERT must write for the Morvellane bitmap `morvellane`:
// a file header, then the header and pixel block of the independent model
// (tests/fixtures/reference_decode.h), as the plug-in hands them over.
std::vector<uint8_t> expected_bmp24(const std::vector<uint8_t>& morvellane);

// A 24-bit BMP with a `info_size`-byte information header (40 or larger);
// fill bytes are 0xAB so that reading them as pixels shows.
std::vector<uint8_t> make_bmp24(int32_t width, int32_t height, const std::vector<uint8_t>& bgr,
                                uint32_t info_size = 40);

bool contains(const std::string& text, const std::string& part);

}  // namespace tooltest

#endif
