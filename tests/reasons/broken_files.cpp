// Writes the broken files that every front end must refuse for the same
// reason, in the same words, and the table of what each must say:
//   DIR/NAME.bmp, and DIR/reasons.tsv with one line per file:
//   NAME<TAB>REASON<TAB>TEXT
// The texts are written out here by hand, apart from the core's own words.
// Usage: broken_files DIR
#include <stdio.h>

#include <string>
#include <vector>

#include "tests/fixtures/case_tables.h"
#include "tests/fixtures/files.h"
#include "tests/fixtures/morvellane_builder.h"

namespace {

using fixtures::MorvellaneBuilder;

std::vector<uint8_t> first_bytes(std::vector<uint8_t> file, size_t length) {
  file.resize(length);
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: broken_files DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  struct Broken {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* reason;
    const char* text;
  };
  const Broken files[] = {
      // Half of the 66 + 64 * 64 * 2 bytes.
      {"truncated", first_bytes(fixtures::colour_chart(64, 64).build(), 4129), "truncated",
       "truncated Morvellane bitmap: the file ends after 4129 of the 8258 bytes of its 64 x 64 "
       "pixels"},
      // Past the 256 MiB every front end is given, and past the plug-in's 32-bit block.
      {"too_large", fixtures::header_declaring(40000, 40000), "too-large",
       "Morvellane bitmap too large: 40000 x 40000 pixels, more than the limit of 256 MiB "
       "decoded"},
      {"cut_short", first_bytes(MorvellaneBuilder(4, 4).build(), 50), "header-cut-short",
       "Morvellane bitmap cut short: the file ends after 50 of the 66 bytes of its header"},
      {"negative_width", fixtures::header_declaring(-3, 2), "negative-width",
       "broken Morvellane bitmap: its width is negative (-3)"},
      {"no_pixels", fixtures::header_declaring(0, 5), "impossible-size",
       "broken Morvellane bitmap: it has no pixels (0 x 5)"},
      {"impossible_height", fixtures::header_declaring(1, INT32_MIN), "impossible-size",
       "broken Morvellane bitmap: its height is impossible (-2147483648)"},
      {"not_morvellane",
       MorvellaneBuilder(4, 4).defect(fixtures::Defect::kWrongBitCount).build(), "not-morvellane",
       "not a Morvellane bitmap"},
  };
  std::string table;
  for (const Broken& f : files) {
    const std::string path = dir + "/" + f.name + ".bmp";
    if (!fixtures::write_file(path, f.bytes)) {
      fprintf(stderr, "broken_files: cannot write %s\n", path.c_str());
      return 1;
    }
    table += std::string(f.name) + "\t" + f.reason + "\t" + f.text + "\n";
  }
  const std::vector<uint8_t> bytes(table.begin(), table.end());
  if (!fixtures::write_file(dir + "/reasons.tsv", bytes)) {
    fprintf(stderr, "broken_files: cannot write %s/reasons.tsv\n", dir.c_str());
    return 1;
  }
  return 0;
}
