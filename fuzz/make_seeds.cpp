// Writes the seed corpus of the fuzz targets, made by the fixture builder:
// valid pictures of small odd and even widths, bottom-up and top-down, each
// named defect, and files cut short. Makes the folder if it is missing.
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/fixtures/case_tables.h"
#include "tests/fixtures/files.h"
#include "tests/fixtures/morvellane_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s OUTPUT_DIRECTORY\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  mkdir(dir.c_str(), 0777);  // an existing folder is fine; a failure shows when writing
  int written = 0;
  bool ok = true;
  auto put = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
    ok = fixtures::write_file(dir + "/" + name, bytes) && ok;
    ++written;
  };

  struct Size {
    int32_t width, height;
  };
  // Widths 1 to 5 cover every fill length of a 24-bit row.
  const Size sizes[] = {{1, 1}, {2, 3}, {3, -2}, {4, 4}, {5, -3}, {7, 2}, {0, 0}, {0, 5}, {6, 0}};
  for (const Size& s : sizes) {
    const std::vector<uint8_t> file = fixtures::colour_chart(s.width, s.height).build();
    const std::string base = "valid_" + std::to_string(s.width) + "x" + std::to_string(s.height);
    put(base, file);
    // One row or one byte missing.
    if (file.size() > 66)
      put(base + "_short_byte", std::vector<uint8_t>(file.begin(), file.end() - 1));
  }

  int index = 0;
  for (const fixtures::AcceptanceCase& c : fixtures::kAcceptanceCases) {
    if (c.accepted) continue;
    fixtures::MorvellaneBuilder b = fixtures::colour_chart(3, 2);
    b.defect(c.defect);
    put("defect_" + std::to_string(index++), b.build());
  }

  // Header-only files that declare pictures far larger than they hold, and
  // the sizes at the edges of 32-bit arithmetic.
  const Size huge[] = {{0x7FFFFFFF, 1},
                       {1, 0x7FFFFFFF},
                       {1, INT32_MIN},
                       {-1, 1},
                       {0x55555556, 1},
                       {0x2AAAAAAB, 2},
                       {65536, 65536},
                       {1, -0x7FFFFFFF},
                       // Width 0: an empty block at any height, with no row to walk.
                       {0, 0x7FFFFFFF},
                       {0, -0x7FFFFFFF}};
  index = 0;
  for (const Size& s : huge)
    put("declares_" + std::to_string(index++), fixtures::header_only(s.width, s.height).build());

  // The header cut at the size fields and at the acceptance fields.
  const std::vector<uint8_t> small = fixtures::colour_chart(2, 2).build();
  for (size_t cut :
       {size_t{0}, size_t{25}, size_t{26}, size_t{37}, size_t{38}, size_t{54}, size_t{66}})
    put("cut_" + std::to_string(cut), std::vector<uint8_t>(small.begin(), small.begin() + cut));

  if (!ok) {
    fprintf(stderr, "could not write every seed into %s\n", dir.c_str());
    return 1;
  }
  printf("%d seeds in %s\n", written, dir.c_str());
  return 0;
}
