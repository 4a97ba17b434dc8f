// mrvhost: a console tool that reads Morvellane bitmaps through ifMrvln.spi,
// loaded as an image viewer loads it and used only through its exports, and
// that writes Morvellane bitmaps with its own encoder. `mrvhost /?` explains.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "bitmap_files.h"
#include "codec/reader.h"
#include "codec/result.h"
#include "plugin/client/spi_client.h"
#include "tools/common/run_status.h"

// Lets the C runtime expand wildcards such as *.bmp, which cmd.exe leaves to
// the program.
extern "C" {
int _dowildcard = -1;
}

using namespace mrvhost;
using mrvln_tools::FolderTally;
using mrvln_tools::Outcome;
using mrvln_tools::progress_text;
using mrvln_tools::ProgressCadence;
using mrvln_tools::record;
using mrvln_tools::summary_text;
using spi::Decoded;
using spi::system_message;
using spi::verdict;

namespace {

constexpr int kDone = mrvln_tools::EXIT_DONE;
constexpr int kRefused = mrvln_tools::EXIT_REFUSED;
constexpr int kUsage = mrvln_tools::EXIT_USAGE;
constexpr int kNoPlugin = mrvln_tools::EXIT_NO_PLUGIN;
constexpr int kFileError = mrvln_tools::EXIT_FILE_ERROR;

const char kHelp[] =
    "Reads Morvellane bitmaps through the ifMrvln.spi plug-in and converts them to\n"
    "standard 24-bit BMP files; makes Morvellane bitmaps from 24-bit BMP files.\n"
    "\n"
    "MRVHOST INFO file [...]\n"
    "MRVHOST CONVERT source target\n"
    "MRVHOST ENCODE source target\n"
    "MRVHOST ABOUT\n"
    "\n"
    "  INFO      Shows for each file whether the plug-in reads it as a Morvellane\n"
    "            bitmap, and its width, height and delivered depth. Wildcards\n"
    "            such as *.bmp are allowed.\n"
    "  CONVERT   Decodes the Morvellane bitmap source into the 24-bit BMP file\n"
    "            target. If target is a folder, the file keeps its name there.\n"
    "            If source is a folder, every Morvellane bitmap in it (not in its\n"
    "            subfolders) is converted into the folder target, which is made\n"
    "            if missing; other files are skipped and counted, a file the\n"
    "            plug-in refuses is reported and skipped, and a summary ends\n"
    "            the run. Names that do not end in .bmp get .bmp appended.\n"
    "  ENCODE    Writes a Morvellane bitmap from the uncompressed 24-bit BMP\n"
    "            file source, each channel reduced to the nearest 5-6-5 value.\n"
    "  ABOUT     Shows the plug-in's file, version and information strings.\n"
    "  /?        Shows this help (also -h or --help).\n"
    "\n"
    "Commands may be typed in any case. ifMrvln.spi is loaded from the folder that\n"
    "holds mrvhost.exe. An existing target file is replaced.\n"
    "\n"
    "Exit codes:\n"
    "  0  done\n"
    "  1  a file is not a Morvellane bitmap, or a picture was refused\n"
    "  2  wrong command or arguments\n"
    "  3  ifMrvln.spi cannot be loaded\n"
    "  4  a file cannot be found, read or written\n"
    "\n"
    "Examples:\n"
    "  mrvhost info photo.bmp scans\\*.bmp\n"
    "  mrvhost convert photo.bmp photo-24bit.bmp\n"
    "  mrvhost convert C:\\Pictures\\Morvellane C:\\Pictures\\Converted\n"
    "  mrvhost encode chart.bmp chart-morvellane.bmp\n";

// The core reader's words for a file that is not a Morvellane bitmap.
std::string not_morvellane() {
  char text[mrvln::REFUSAL_TEXT_SIZE];
  mrvln::refusal_text(mrvln::Refusal{mrvln::REASON_NOT_MORVELLANE, 0, 0, 0, 0}, text, sizeof text);
  return text;
}

int usage_error(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  fputs("mrvhost: ", stderr);
  vfprintf(stderr, fmt, args);
  va_end(args);
  fputs("\nType \"mrvhost /?\" for help.\n", stderr);
  return kUsage;
}

void report(const std::string& file, const std::string& text) {
  fprintf(stderr, "mrvhost: %s: %s\n", file.c_str(), text.c_str());
}

bool is_help(const char* arg) {
  return strcmp(arg, "/?") == 0 || strcmp(arg, "-?") == 0 || strcmp(arg, "-h") == 0 ||
         strcmp(arg, "--help") == 0 || _stricmp(arg, "/help") == 0;
}

bool is_directory(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  const char last = dir[dir.size() - 1];
  if (last == '\\' || last == '/') return dir + name;
  // Keeps the separator the user wrote, for readable messages.
  const bool slashes = dir.find('/') != std::string::npos && dir.find('\\') == std::string::npos;
  return dir + (slashes ? "/" : "\\") + name;
}

std::string base_name(const std::string& path) {
  const size_t slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The converted file's name: the same name, ending in .bmp.
std::string bmp_name(const std::string& name) {
  const bool has_bmp = name.size() >= 4 && _stricmp(name.c_str() + name.size() - 4, ".bmp") == 0;
  return has_bmp ? name : name + ".bmp";
}

bool same_file(const std::string& a, const std::string& b) {
  char fa[MAX_PATH], fb[MAX_PATH];
  if (GetFullPathNameA(a.c_str(), MAX_PATH, fa, nullptr) == 0 ||
      GetFullPathNameA(b.c_str(), MAX_PATH, fb, nullptr) == 0)
    return false;
  std::string sa = fa, sb = fb;
  while (sa.size() > 3 && (sa.back() == '\\' || sa.back() == '/')) sa.pop_back();
  while (sb.size() > 3 && (sb.back() == '\\' || sb.back() == '/')) sb.pop_back();
  return _stricmp(sa.c_str(), sb.c_str()) == 0;
}

int cmd_about(const spi::Plugin& p) {
  printf("plug-in: %s\n", p.path.c_str());
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(p.path.c_str(), &ignored);
  std::vector<uint8_t> block(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (size != 0 && GetFileVersionInfoA(p.path.c_str(), 0, size, block.data()) &&
      VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) &&
      length >= sizeof(VS_FIXEDFILEINFO)) {
    printf("version: %u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
           HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
  } else {
    printf("version: (no version information)\n");
  }
  for (int32_t i = 0; i < 4; ++i) {
    char text[256];
    p.GetPluginInfo(i, text, sizeof text);
    printf("information %d: %s\n", i, text);
  }
  return kDone;
}

int cmd_info(const spi::Plugin& p, int count, char** files) {
  int status = kDone;
  for (int i = 0; i < count; ++i) {
    const std::string file = files[i];
    if (is_directory(file)) {
      report(file, "is a folder; name its files, for example " + join(file, "*.bmp"));
      status = std::max(status, kFileError);
      continue;
    }
    unsigned long error = 0;
    const int v = verdict(p, file, &error);
    if (v < 0) {
      report(file, "cannot open: " + system_message(error));
      status = std::max(status, kFileError);
      continue;
    }
    if (v == 0) {
      printf("%s: %s\n", file.c_str(), not_morvellane().c_str());
      status = std::max(status, kRefused);
      continue;
    }
    PictureInfoRecord r;
    const int32_t result = p.GetPictureInfo(file.c_str(), 0, SOURCE_FILE, &r);
    if (result != mrvln::RESULT_SUCCESS) {
      printf("%s: Morvellane bitmap, information refused: %s (code %d)\n", file.c_str(),
             spi::result_meaning(result), result);
      status = std::max(status, kRefused);
      continue;
    }
    const bool top_down = r.height < 0;
    printf("%s: Morvellane bitmap, %ld x %lld%s, %d bits per pixel when decoded\n", file.c_str(),
           static_cast<long>(r.width), top_down ? -static_cast<long long>(r.height) : r.height,
           top_down ? " (top row first)" : "", r.bit_depth);
  }
  return status;
}

// Writes a BMP file: file header, the BITMAPINFOHEADER block as it came, the
// pixel block. Returns a system error code, 0 on success.
unsigned long write_decoded_bmp(const Decoded& picture, const std::string& path) {
  const HLOCAL info = picture.info_block();
  const HLOCAL bits = picture.pixel_block();
  const uint32_t header_size = static_cast<uint32_t>(LocalSize(info));
  const uint32_t pixel_size = static_cast<uint32_t>(LocalSize(bits));
  uint8_t file_header[14] = {'B', 'M'};
  const uint32_t offset = 14 + header_size;
  const uint32_t total = offset + pixel_size;
  memcpy(file_header + 2, &total, 4);
  memcpy(file_header + 10, &offset, 4);
  const void* h = LocalLock(info);
  // An empty block may lock to null; it has nothing to write.
  const void* b = pixel_size != 0 ? LocalLock(bits) : nullptr;
  unsigned long error = ERROR_NOT_ENOUGH_MEMORY;
  if (h != nullptr && (b != nullptr || pixel_size == 0)) {
    const Piece pieces[] = {{file_header, 14}, {h, header_size}, {b, pixel_size}};
    error = write_whole_file(path, pieces, 3);
  }
  if (b != nullptr) LocalUnlock(bits);
  if (h != nullptr) LocalUnlock(info);
  return error;
}

// Converts one accepted file; reports problems and returns an exit code.
int convert_one(const spi::Plugin& p, const std::string& in, const std::string& out, bool verbose) {
  Decoded picture;
  const int32_t result = picture.load(p, in);
  if (result != mrvln::RESULT_SUCCESS) {
    report(in, spi::refusal_reason(in, result));
    return result == mrvln::RESULT_FILE_ERROR ? kFileError : kRefused;
  }
  // Programs refuse BMP files without pixels, so none is written.
  if (picture.width() == 0 || picture.height() == 0) {
    report(in, spi::refusal_reason(in, result));
    return kRefused;
  }
  const unsigned long error = write_decoded_bmp(picture, out);
  if (error != 0) {
    report(out, "cannot write: " + system_message(error));
    return kFileError;
  }
  if (verbose) {
    const int32_t h = picture.height();
    printf("%s -> %s: %ld x %ld, 24 bits per pixel\n", in.c_str(), out.c_str(),
           static_cast<long>(picture.width()), static_cast<long>(h < 0 ? -h : h));
  }
  return kDone;
}

int cmd_convert_file(const spi::Plugin& p, const std::string& in, std::string out) {
  if (is_directory(out)) out = join(out, bmp_name(base_name(in)));
  if (same_file(in, out)) return usage_error("%s: source and target are the same file", in.c_str());
  unsigned long error = 0;
  const int v = verdict(p, in, &error);
  if (v < 0) {
    report(in, "cannot open: " + system_message(error));
    return kFileError;
  }
  if (v == 0) {
    report(in, not_morvellane());
    return kRefused;
  }
  return convert_one(p, in, out, true);
}

// The names of the files (not folders) in `dir`, in the order a user sees
// them listed; false, reported, when the folder cannot be listed.
bool list_files(const std::string& dir, std::vector<std::string>* names) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(join(dir, "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND) {
    report(dir, "cannot list the folder: " + system_message(GetLastError()));
    return false;
  }
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        names->push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  std::sort(names->begin(), names->end(), [](const std::string& a, const std::string& b) {
    return _stricmp(a.c_str(), b.c_str()) < 0;
  });
  return true;
}

// Converts one file of a folder run to `target`, or skips it.
Outcome convert_listed(const spi::Plugin& p, const std::string& source, const std::string& target,
                       int* code) {
  unsigned long error = 0;
  const int v = verdict(p, source, &error);
  if (v < 0) {
    report(source, "cannot open: " + system_message(error) + "; skipped");
    *code = kFileError;
    return Outcome::kFailed;
  }
  if (v == 0) {
    *code = kDone;
    return Outcome::kSkipped;
  }
  *code = convert_one(p, source, target, false);
  return *code == kDone ? Outcome::kConverted : Outcome::kFailed;
}

int cmd_convert_folder(const spi::Plugin& p, const std::string& in, const std::string& out) {
  if (same_file(in, out))
    return usage_error("%s: the target folder must differ from the source folder", in.c_str());
  std::vector<std::string> names;
  if (!list_files(in, &names)) return kFileError;
  if (!is_directory(out) && !CreateDirectoryA(out.c_str(), nullptr)) {
    report(out, "cannot make the folder: " + system_message(GetLastError()));
    return kFileError;
  }
  FolderTally tally;
  ProgressCadence progress(GetTickCount());
  for (size_t i = 0; i < names.size(); ++i) {
    int code = kDone;
    const Outcome outcome =
        convert_listed(p, join(in, names[i]), join(out, bmp_name(names[i])), &code);
    record(&tally, outcome, code);
    if (progress.due(i + 1, names.size(), GetTickCount()))
      fprintf(stderr, "mrvhost: %s\n", progress_text(i + 1, names.size(), tally).c_str());
  }
  printf("%s\n", summary_text(tally, in).c_str());
  return tally.status;
}

int cmd_encode(const std::string& in, const std::string& out) {
  if (same_file(in, out)) return usage_error("%s: source and target are the same file", in.c_str());
  std::vector<uint8_t> file;
  if (is_directory(in)) {
    report(in, "is a folder, not a BMP file");
    return kFileError;
  }
  const unsigned long read_error = read_whole_file(in, &file);
  if (read_error != 0) {
    report(in, "cannot read: " + system_message(read_error));
    return kFileError;
  }
  Picture24 picture;
  std::vector<uint8_t> encoded;
  std::string why;
  if (!parse_bmp24(file, &picture, &why) || !encode_morvellane(picture, &encoded, &why)) {
    report(in, why);
    return kRefused;
  }
  const Piece piece = {encoded.data(), static_cast<uint32_t>(encoded.size())};
  const unsigned long write_error = write_whole_file(out, &piece, 1);
  if (write_error != 0) {
    report(out, "cannot write: " + system_message(write_error));
    return kFileError;
  }
  printf("%s -> %s: Morvellane bitmap, %ld x %lu, %lu bytes\n", in.c_str(), out.c_str(),
         static_cast<long>(picture.width), static_cast<unsigned long>(picture.rows),
         static_cast<unsigned long>(encoded.size()));
  return kDone;
}

int run(int argc, char** argv) {
  if (argc < 2) return usage_error("no command given");
  for (int i = 1; i < argc; ++i) {
    if (is_help(argv[i])) {
      fputs(kHelp, stdout);
      return kDone;
    }
  }
  std::string command = argv[1];
  for (char& c : command) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  const int args = argc - 2;
  if (command == "help") {
    fputs(kHelp, stdout);
    return kDone;
  }
  if (command == "encode") {
    if (args != 2) return usage_error("ENCODE takes a source and a target file");
    return cmd_encode(argv[2], argv[3]);
  }
  if (command != "about" && command != "info" && command != "convert")
    return usage_error("unknown command \"%s\"", argv[1]);
  if (command == "about" && args != 0) return usage_error("ABOUT takes no arguments");
  if (command == "info" && args < 1) return usage_error("INFO needs at least one file");
  if (command == "convert" && args != 2) return usage_error("CONVERT takes a source and a target");

  spi::Plugin p;
  std::string why;
  if (!spi::load_beside_program(&p, &why)) {
    fprintf(stderr, "mrvhost: %s\n", why.c_str());
    return kNoPlugin;
  }
  if (command == "about") return cmd_about(p);
  if (command == "info") return cmd_info(p, args, argv + 2);
  if (is_directory(argv[2])) return cmd_convert_folder(p, argv[2], argv[3]);
  return cmd_convert_file(p, argv[2], argv[3]);
}

}  // namespace

int main(int argc, char** argv) {
  // Results and reports interleave in the order they happen, even in a pipe.
  setvbuf(stdout, nullptr, _IONBF, 0);
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    fputs("mrvhost: not enough memory\n", stderr);
    return kRefused;
  }
}
