// What mrvhost (Windows) and mrvconvert (Linux) share about a run over many
// files: the exit codes, the tally of what became of each file, the summary
// line and when a progress line is due. No platform header here.
#ifndef MRVLN_TOOLS_COMMON_RUN_STATUS_H
#define MRVLN_TOOLS_COMMON_RUN_STATUS_H

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace mrvln_tools {

// Exit codes; a run over several files ends with the highest one it met.
enum ExitCode {
  EXIT_DONE = 0,
  EXIT_REFUSED = 1,     // not a Morvellane bitmap, or a picture refused
  EXIT_USAGE = 2,       // wrong command or arguments
  EXIT_NO_PLUGIN = 3,   // ifMrvln.spi cannot be loaded (mrvhost only)
  EXIT_FILE_ERROR = 4,  // a file cannot be found, read or written
};

// What became of one file of a folder run.
enum class Outcome {
  kConverted,
  kUpToDate,     // its output is not older than it (mrvconvert -u)
  kSkipped,      // not a Morvellane bitmap
  kFailed,       // reported on its own line
  kNotFollowed,  // a symbolic link to a folder, or out of the source folder
  kNotDone,      // the run stopped before it
};

struct FolderTally {
  size_t converted = 0;
  size_t up_to_date = 0;
  size_t skipped = 0;
  size_t failed = 0;
  size_t not_followed = 0;
  size_t not_done = 0;
  int status = EXIT_DONE;  // the highest exit code met

  size_t files() const {
    return converted + up_to_date + skipped + failed + not_followed + not_done;
  }
};

// Counts one file and keeps the highest exit code.
void record(FolderTally* tally, Outcome outcome, int code);

// "3 converted, 1 skipped (not Morvellane bitmaps), 1 failed; 5 files in DIR",
// with "N up to date", "N links not followed" and "N not done" only where
// they are not zero.
std::string summary_text(const FolderTally& tally, const std::string& folder);

// "100 of 205 files: 98 converted, 1 skipped, 1 failed"
std::string progress_text(size_t done, size_t total, const FolderTally& tally);

// A progress line is due every hundred files, and at least every two seconds
// on slow pictures, but never for the last file: the summary ends the run.
class ProgressCadence {
 public:
  explicit ProgressCadence(uint64_t now_ms) : last_ms_(now_ms) {}
  bool due(size_t done, size_t total, uint64_t now_ms);

 private:
  uint64_t last_ms_;
};

}  // namespace mrvln_tools

#endif
