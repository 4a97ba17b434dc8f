// What a person sees during a folder run: on a terminal one line that
// updates in place (done of total, files per second, time left); in a log,
// a line every hundred files or two seconds; nothing with --quiet.
// Used from one thread only.
#ifndef MRVLN_TOOLS_MRVCONVERT_PROGRESS_H
#define MRVLN_TOOLS_MRVCONVERT_PROGRESS_H

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "tools/common/run_status.h"

namespace mrvconvert {

uint64_t now_ms();

class Progress {
 public:
  Progress(bool quiet, bool terminal);
  // `total` files in the run, `pictures` of them to convert.
  void start(size_t total, size_t pictures);
  // After each file, in order; `converted` counts the pictures finished.
  void file_done(size_t done, size_t pictures_done, const mrvln_tools::FolderTally& tally);
  void tick();  // redraws the terminal line
  // A problem, on its own line on standard error.
  void problem(const std::string& text);
  void finish();  // clears the terminal line

 private:
  std::string rate_text() const;
  void draw();
  void clear();

  bool quiet_, terminal_;
  size_t total_ = 0, pictures_ = 0, done_ = 0, pictures_done_ = 0;
  uint64_t start_ms_ = 0, drawn_ms_ = 0;
  bool drawn_ = false;
  mrvln_tools::ProgressCadence cadence_;
};

}  // namespace mrvconvert

#endif
