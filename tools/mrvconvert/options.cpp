#include "tools/mrvconvert/options.h"

#include <errno.h>
#include <getopt.h>
#include <libdeflate.h>
#include <sched.h>
#include <stdlib.h>

#include <QtGlobal>

#include "codec/reader.h"

namespace mrvconvert {

namespace {

// Every line within 80 columns.
const char kHelp[] =
    "usage: mrvconvert [OPTION]... IN OUT\n"
    "\n"
    "Converts the Morvellane bitmap IN into OUT, in the format its suffix names\n"
    "(PNG, or any format Qt writes). If OUT is a folder, the file keeps its name\n"
    "there, ending in .png. If IN is a folder, every Morvellane bitmap in it is\n"
    "converted into the folder OUT, made if missing, as NAME.png; other files are\n"
    "counted and left alone, and a summary ends the run.\n"
    "\n"
    "  -r, --recursive      convert subfolders too, mirrored under OUT; symbolic\n"
    "                       links to folders, or out of IN, are not followed\n"
    "  -j, --jobs=N         convert N files at a time (default: one per processor\n"
    "                       this process may use, here %u)\n"
    "  -u, --update         leave outputs that are not older than their input, so\n"
    "                       that a run again after an interruption does the rest\n"
    "  -c, --compression=N  PNG compression, 0 (none) to 9 (smallest): libdeflate's\n"
    "                       levels 0-6, 8, 10 and 12; default %d, the fastest level\n"
    "                       whose PNGs of photographs are no larger than those of\n"
    "                       mrvconvert 2.0.0 (zlib level 5)\n"
    "      --limit=MIB      refuse a picture whose pixels take more than MIB MiB\n"
    "                       decoded (4 bytes a pixel, 3 for PNG; 0: no limit);\n"
    "                       default %ld, 16384 x 16384 pixels. Each of the -j\n"
    "                       workers holds one picture at a time, and up to twice\n"
    "                       as much again while it writes a PNG.\n"
    "  -q, --quiet          no progress, no summary: only problems\n"
    "      --version        show the version\n"
    "  -h, --help           show this help\n"
    "\n"
    "Every output is written to a temporary file (.mrvconvert-*.tmp) in its\n"
    "folder and renamed into place when complete, so an interrupted run leaves\n"
    "no half-written file and an existing file is replaced only by a complete\n"
    "one; the next run removes what an interrupted one left. A full disk or a\n"
    "folder that cannot be written stops the run.\n"
    "\n"
    "Exit codes:\n"
    "  0  done\n"
    "  1  a file is not a Morvellane bitmap, or a picture was refused\n"
    "  2  wrong arguments, or an output format Qt cannot write\n"
    "  4  a file cannot be found, read or written\n"
    "A run over a folder ends with the highest code it met.\n";

const option kLongOptions[] = {
    {"recursive", no_argument, nullptr, 'r'},
    {"jobs", required_argument, nullptr, 'j'},
    {"update", no_argument, nullptr, 'u'},
    {"compression", required_argument, nullptr, 'c'},
    {"quiet", no_argument, nullptr, 'q'},
    {"version", no_argument, nullptr, 'V'},
    {"help", no_argument, nullptr, 'h'},
    {"limit", required_argument, nullptr, 'L'},
    {nullptr, 0, nullptr, 0},
};

// A whole decimal number within [low, high].
bool parse_number(const char* text, long low, long high, long* value) {
  char* end = nullptr;
  errno = 0;
  const long v = strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

}  // namespace

Parsed parse_options(int argc, char** argv, Options* o, std::string* error) {
  opterr = 0;  // our own messages
  optind = 1;
  int c;
  long n = 0;
  while ((c = getopt_long(argc, argv, ":rj:uc:qh", kLongOptions, nullptr)) != -1) {
    switch (c) {
      case 'r':
        o->recursive = true;
        break;
      case 'u':
        o->update = true;
        break;
      case 'q':
        o->quiet = true;
        break;
      case 'j':
        if (!parse_number(optarg, 1, kMaxJobs, &n)) {
          *error = std::string("--jobs takes a number from 1 to ") + std::to_string(kMaxJobs) +
                   ", not \"" + optarg + "\"";
          return Parsed::kError;
        }
        o->jobs = static_cast<unsigned>(n);
        break;
      case 'c':
        if (!parse_number(optarg, 0, 9, &n)) {
          *error = std::string("--compression takes a level from 0 to 9, not \"") + optarg + "\"";
          return Parsed::kError;
        }
        o->compression = static_cast<int>(n);
        break;
      case 'L':
        if (!parse_number(optarg, 0, kMaxLimitMib, &n)) {
          *error = std::string("--limit takes a number of MiB from 0 (no limit) to ") +
                   std::to_string(kMaxLimitMib) + ", not \"" + optarg + "\"";
          return Parsed::kError;
        }
        o->limit_mib = n;
        break;
      case 'V':
        return Parsed::kVersion;
      case 'h':
        return Parsed::kHelp;
      case ':':
        *error = std::string("the option ") + argv[optind - 1] + " needs a value";
        return Parsed::kError;
      default:
        *error = std::string("unknown option ") + argv[optind - 1];
        return Parsed::kError;
    }
  }
  if (argc - optind != 2) {
    *error = "takes a source and a target";
    return Parsed::kError;
  }
  o->in = argv[optind];
  o->out = argv[optind + 1];
  return Parsed::kRun;
}

uint64_t Options::limit() const {
  return limit_mib == 0 ? mrvln::NO_OUTPUT_LIMIT : static_cast<uint64_t>(limit_mib) << 20;
}

unsigned available_processors() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int n = CPU_COUNT(&set);
  return n < 1 ? 1 : static_cast<unsigned>(n);
}

void print_help(FILE* to) {
  fprintf(to, kHelp, available_processors(), kDefaultCompression, kDefaultLimitMib);
}

void print_version(FILE* to) {
  fprintf(to, "mrvconvert %s\nQt %s, libdeflate %s\n", MRVLN_VERSION, qVersion(),
          LIBDEFLATE_VERSION_STRING);
}

}  // namespace mrvconvert
