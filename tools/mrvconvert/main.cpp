// mrvconvert IN OUT: converts Morvellane bitmaps, one or a whole tree of
// them, to PNG or any format Qt writes, on every processor, with nothing
// half-written. Reads only with the Morvellane handler built in, never with
// Qt's BMP reader, so a picture is either exact or refused.
#include <stdio.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <string>

#include "tools/common/run_status.h"
#include "tools/mrvconvert/convert_file.h"
#include "tools/mrvconvert/options.h"
#include "tools/mrvconvert/output_file.h"
#include "tools/mrvconvert/run.h"
#include "tools/mrvconvert/stop.h"

using namespace mrvconvert;

int main(int argc, char** argv) {
  // A core application: writing pictures needs no display, and so no
  // platform plug-in and no runtime folder.
  QCoreApplication app(argc, argv);
  Options options;
  std::string error;
  switch (parse_options(argc, argv, &options, &error)) {
    case Parsed::kHelp:
      print_help(stdout);
      return mrvln_tools::EXIT_DONE;
    case Parsed::kVersion:
      print_version(stdout);
      return mrvln_tools::EXIT_DONE;
    case Parsed::kError:
      fprintf(stderr, "mrvconvert: %s\nTry \"mrvconvert --help\" for more information.\n",
              error.c_str());
      return mrvln_tools::EXIT_USAGE;
    case Parsed::kRun:
      break;
  }
  struct stat source;
  if (stat(options.in.c_str(), &source) != 0) {
    fprintf(stderr, "mrvconvert: %s: cannot open: %s\n", options.in.c_str(),
            error_text(errno).c_str());
    return mrvln_tools::EXIT_FILE_ERROR;
  }
  init_output_mode();
  install_stop_handlers();
  return S_ISDIR(source.st_mode) ? run_folder(options) : run_file(options);
}
