// mrvconvert's command line: the options, the help and the version.
#ifndef MRVLN_TOOLS_MRVCONVERT_OPTIONS_H
#define MRVLN_TOOLS_MRVCONVERT_OPTIONS_H

#include <stdint.h>
#include <stdio.h>

#include <string>

namespace mrvconvert {

// The PNG level (png_writer.h maps it onto libdeflate's), chosen by
// measurement (bench/mrvconvert/run.sh, docs/qt-plugin.md): the fastest
// whose PNGs of photographs are within 2 % of mrvconvert 2.0.0's default
// (zlib level 5) and no larger.
constexpr int kDefaultCompression = 5;
constexpr unsigned kMaxJobs = 256;
// The most memory a picture's pixels may take decoded, in MiB, unless
// --limit says otherwise: 16384 x 16384 pixels, more than any camera makes,
// and each of the -j workers holds one picture.
constexpr long kDefaultLimitMib = 1024;
constexpr long kMaxLimitMib = 1L << 20;

struct Options {
  std::string in, out;
  bool recursive = false;
  bool update = false;  // keep outputs that are not older than their input
  bool quiet = false;
  unsigned jobs = 0;  // 0: the processors this process may use
  int compression = kDefaultCompression;
  long limit_mib = kDefaultLimitMib;  // 0: no limit

  // The limit in bytes, as the reader takes it.
  uint64_t limit() const;
};

enum class Parsed { kRun, kHelp, kVersion, kError };

// Reads the arguments; on kError, `error` says what is wrong.
Parsed parse_options(int argc, char** argv, Options* options, std::string* error);

// The processors this process may run on (its affinity mask), at least 1.
unsigned available_processors();

void print_help(FILE* to);
void print_version(FILE* to);

}  // namespace mrvconvert

#endif
