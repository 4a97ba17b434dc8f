// The two kinds of run: one file, or a folder (with -r a tree).
#ifndef MRVLN_TOOLS_MRVCONVERT_RUN_H
#define MRVLN_TOOLS_MRVCONVERT_RUN_H

#include "tools/mrvconvert/options.h"

namespace mrvconvert {

// Each returns the exit code; a run stopped by a signal ends the process by
// that signal once its outputs are wound down.
int run_file(const Options& options);
int run_folder(const Options& options);

}  // namespace mrvconvert

#endif
