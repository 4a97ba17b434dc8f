// OutputFile::write for the tests' build of mrvconvert (mrvconvert_interruptible):
// with MRVLN_TEST_SIGNAL_AFTER="N SIGNAL" in the environment, the output
// after the first N is half written, then its thread raises SIGNAL (a
// number), as a run killed while writing would be.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include <mutex>
#include <set>
#include <string>

#include "tools/mrvconvert/output_file.h"

namespace mrvconvert {

namespace {

struct Interruption {
  Interruption() {
    const char* hook = getenv("MRVLN_TEST_SIGNAL_AFTER");
    if (hook == nullptr || sscanf(hook, "%ld %d", &after, &signal_number) != 2) after = -1;
  }
  long after = -1;
  int signal_number = 0;
  std::mutex mutex;
  std::set<std::string> outputs;  // the temporary files that got data
};

Interruption& interruption() {
  static Interruption i;
  return i;
}

}  // namespace

int OutputFile::write(const void* data, size_t size) {
  Interruption& i = interruption();
  bool interrupt = false;
  if (i.after >= 0) {
    // Counts the outputs that get data, not the probes of folders.
    std::lock_guard<std::mutex> lock(i.mutex);
    const bool first_piece = i.outputs.insert(temp_).second;
    interrupt = first_piece && i.outputs.size() == static_cast<size_t>(i.after) + 1;
  }
  if (!interrupt) return write_fully(fd_, data, size);
  write_fully(fd_, data, size / 2);
  // To this thread, so that the handler has run when write returns; sent to
  // the process, it may reach another thread a file later.
  raise(i.signal_number);
  return EINTR;
}

}  // namespace mrvconvert
