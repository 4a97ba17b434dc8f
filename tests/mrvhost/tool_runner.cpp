#include "tool_runner.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "tests/fixtures/little_endian.h"
#include "tests/fixtures/reference_decode.h"

namespace tooltest {

namespace {

void remove_tree(const std::string& dir) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = dir + "\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        remove_tree(path);
      else
        DeleteFileA(path.c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(dir.c_str());
}

HANDLE capture_file(const std::string& path) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     &sa, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string slurp(const std::string& path) {
  std::vector<uint8_t> bytes;
  read_file(path, &bytes);
  std::string text(bytes.begin(), bytes.end());
  // The console runtime may write CR LF; tests compare lines.
  std::string plain;
  for (char c : text)
    if (c != '\r') plain += c;
  return plain;
}

}  // namespace

std::string bin_dir() {
  char exe[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string path(exe, n);
  path.resize(path.find_last_of("\\/"));
  return path;
}

Run run_tool(const std::vector<std::string>& args, const std::string& exe) {
  const std::string program = exe.empty() ? bin_dir() + "\\mrvhost.exe" : exe;
  std::string command = "\"" + program + "\"";
  for (const std::string& a : args) command += " \"" + a + "\"";
  TempDir capture;
  const std::string out_path = capture.file("out.txt"), err_path = capture.file("err.txt");
  HANDLE out = capture_file(out_path), err = capture_file(err_path);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi = {};
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  Run run;
  if (CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                     &pi)) {
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    run.exit_code = code;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  } else {
    run.err = "CreateProcess failed for " + program;
  }
  CloseHandle(out);
  CloseHandle(err);
  run.out = slurp(out_path);
  run.err += slurp(err_path);
  return run;
}

TempDir::TempDir() {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  static LONG counter = 0;
  char name[MAX_PATH];
  snprintf(name, sizeof name, "%smrvtool_%lu_%ld", dir, GetCurrentProcessId(),
           InterlockedIncrement(&counter));
  path_ = name;
  CreateDirectoryA(name, nullptr);
}

TempDir::~TempDir() {
  remove_tree(path_);
}

bool exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

const std::string& samples_dir() {
  static TempDir dir;
  static bool made = false;
  if (!made) {
    const Run r = run_tool({dir.path()}, bin_dir() + "\\make_samples.exe");
    if (r.exit_code != 0) fprintf(stderr, "make_samples failed: %s\n", r.err.c_str());
    made = true;
  }
  return dir.path();
}

std::vector<uint8_t> expected_bmp24(const std::vector<uint8_t>& morvellane) {
  const fixtures::ReferencePicture want = fixtures::reference_decode(morvellane);
  std::vector<uint8_t> f = {'B', 'M'};
  fixtures::put32(f, static_cast<uint32_t>(14 + want.header.size() + want.pixels.size()));
  fixtures::put32(f, 0);
  fixtures::put32(f, static_cast<uint32_t>(14 + want.header.size()));
  f.insert(f.end(), want.header.begin(), want.header.end());
  f.insert(f.end(), want.pixels.begin(), want.pixels.end());
  return f;
}

std::vector<uint8_t> make_bmp24(int32_t width, int32_t height, const std::vector<uint8_t>& bgr,
                                uint32_t info_size) {
  const size_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
  const size_t row = 3 * static_cast<size_t>(width), stride = (row + 3) & ~size_t(3);
  const uint32_t offset = 14 + info_size;
  std::vector<uint8_t> f(offset + stride * rows, 0xAB);
  auto put16 = [&f](size_t at, uint32_t v) { fixtures::set16(f, at, v); };
  auto put32 = [&f](size_t at, uint32_t v) { fixtures::set32(f, at, v); };
  memset(f.data(), 0, offset);
  f[0] = 'B';
  f[1] = 'M';
  put32(2, static_cast<uint32_t>(f.size()));
  put32(10, offset);
  put32(14, info_size);
  put32(18, static_cast<uint32_t>(width));
  put32(22, static_cast<uint32_t>(height));
  put16(26, 1);
  put16(28, 24);
  put32(34, static_cast<uint32_t>(stride * rows));
  put32(38, 3780);
  put32(42, 3780);
  for (size_t r = 0; r < rows; ++r) memcpy(&f[offset + r * stride], &bgr[r * row], row);
  return f;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace tooltest
