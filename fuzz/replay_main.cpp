// Runs a fuzz target over files and directories of inputs without libFuzzer,
// so that the corpus and the regression files are replayed on every test run
// under the same sanitizers.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/fixtures/files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool replay_file(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!fixtures::read_file(path, &bytes)) {
    fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  // An empty vector has no data pointer worth passing; give a valid one.
  static const uint8_t none = 0;
  LLVMFuzzerTestOneInput(bytes.empty() ? &none : bytes.data(), bytes.size());
  return true;
}

// Replays `path` (a file, or every regular file of a directory); returns the
// number of inputs run, or -1 when something could not be read.
long replay(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    fprintf(stderr, "no such input: %s\n", path.c_str());
    return -1;
  }
  if (!S_ISDIR(st.st_mode)) return replay_file(path) ? 1 : -1;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return -1;
  long count = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    // Dot files (such as the placeholder that keeps an empty folder) are not inputs.
    if (name.empty() || name[0] == '.') continue;
    const long ran = replay(path + "/" + name);
    if (ran < 0) {
      closedir(dir);
      return -1;
    }
    count += ran;
  }
  closedir(dir);
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s FILE_OR_DIRECTORY...\n", argv[0]);
    return 2;
  }
  long total = 0;
  for (int i = 1; i < argc; ++i) {
    const long ran = replay(argv[i]);
    if (ran < 0) return 1;
    printf("%s: %ld inputs\n", argv[i], ran);
    total += ran;
  }
  // An empty corpus would make the replay prove nothing.
  if (total == 0) {
    fprintf(stderr, "no inputs replayed\n");
    return 1;
  }
  printf("replayed %ld inputs, none failed\n", total);
  return 0;
}
