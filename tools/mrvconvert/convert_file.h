// One conversion: a Morvellane bitmap read with the handler built in, written
// whole or not at all.
#ifndef MRVLN_TOOLS_MRVCONVERT_CONVERT_FILE_H
#define MRVLN_TOOLS_MRVCONVERT_CONVERT_FILE_H

#include <stdint.h>

#include <QByteArray>
#include <string>

#include "tools/common/run_status.h"

namespace mrvconvert {

struct Job {
  std::string source;  // as the user named it, for messages too
  std::string target;
  QByteArray format;  // "png", or a format QImageWriter writes
};

struct JobResult {
  mrvln_tools::Outcome outcome = mrvln_tools::Outcome::kNotDone;
  int code = mrvln_tools::EXIT_DONE;
  std::string message;     // "PATH: what happened", for a failure
  bool stops_run = false;  // no further file can be written either
  int width = 0, height = 0;
};

// Whether the file holds a Morvellane bitmap's header: 1 yes, 0 no, -1 it
// cannot be opened or read (`error` is then its errno value).
int holds_morvellane(const std::string& path, int* error);

// Converts the job, refusing a picture whose pixels take more than `limit`
// bytes decoded, unless a stop is requested before its output is in place.
JobResult convert_file(const Job& job, int compression, uint64_t limit, bool (*stop_requested)());

// The user's words for an errno value.
std::string error_text(int error);

}  // namespace mrvconvert

#endif
