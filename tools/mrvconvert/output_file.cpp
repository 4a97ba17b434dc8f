#include "tools/mrvconvert/output_file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mrvconvert {

namespace {

const char kTempPrefix[] = ".mrvconvert-";
const char kTempSuffix[] = ".tmp";
mode_t g_output_mode = 0644;

std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The PID in a temporary file's name, or -1 when the name is not one of ours.
long temp_owner(const char* name) {
  const size_t prefix = sizeof kTempPrefix - 1, suffix = sizeof kTempSuffix - 1;
  const size_t length = strlen(name);
  // PREFIX, digits, '-', six characters, SUFFIX
  if (length < prefix + 1 + 1 + 6 + suffix || strncmp(name, kTempPrefix, prefix) != 0 ||
      strcmp(name + length - suffix, kTempSuffix) != 0)
    return -1;
  char* end = nullptr;
  const long pid = strtol(name + prefix, &end, 10);
  if (end == name + prefix || *end != '-' || end + 1 + 6 != name + length - suffix) return -1;
  return pid;
}

bool process_alive(long pid) {
  return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

}  // namespace

void init_output_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  g_output_mode = 0666 & ~mask;
}

OutputFile::~OutputFile() {
  abandon();
}

int OutputFile::open(const std::string& target) {
  target_ = target;
  std::string name =
      folder_of(target) + "/" + kTempPrefix + std::to_string(getpid()) + "-XXXXXX" + kTempSuffix;
  fd_ = mkostemps(&name[0], static_cast<int>(sizeof kTempSuffix - 1), O_CLOEXEC);
  if (fd_ < 0) return errno;
  temp_ = name;
  if (fchmod(fd_, g_output_mode) != 0) {
    const int error = errno;
    abandon();
    return error;
  }
  return 0;
}

int write_fully(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

int OutputFile::commit() {
  if (fd_ < 0) return EBADF;
  // The data reaches the disk before the name does, so that a crash after
  // the rename cannot show an empty or partial file.
  if (fsync(fd_) != 0 || close(fd_) != 0) {
    const int error = errno;
    fd_ = -1;
    abandon();
    return error;
  }
  fd_ = -1;
  if (rename(temp_.c_str(), target_.c_str()) != 0) {
    const int error = errno;
    abandon();
    return error;
  }
  temp_.clear();
  return 0;
}

void OutputFile::abandon() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temp_.empty()) unlink(temp_.c_str());
  temp_.clear();
}

size_t remove_stale_temps(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return 0;
  size_t removed = 0;
  const long self = getpid();
  while (const dirent* e = readdir(d)) {
    const long owner = temp_owner(e->d_name);
    // This process has written nothing yet: a temporary file with its PID
    // is an earlier process's.
    if (owner < 0 || (owner != self && process_alive(owner))) continue;
    if (unlinkat(dirfd(d), e->d_name, 0) == 0) ++removed;
  }
  closedir(d);
  return removed;
}

std::string make_folder(const std::string& dir) {
  struct stat st;
  if (stat(dir.c_str(), &st) == 0)
    return S_ISDIR(st.st_mode) ? "" : dir + " is a file, not a folder";
  // From the top down, so that the message names the part that fails.
  for (size_t at = 1;; ++at) {
    at = dir.find('/', at);
    const std::string part = dir.substr(0, at);
    const std::string parent = folder_of(part);
    if (stat(part.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) return part + " is a file, not a folder";
    } else if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
      switch (errno) {
        case EACCES:
        case EPERM:
          return "no permission to make folders in " + parent;
        case EROFS:
          return parent + " is on a read-only disk";
        case ENOSPC:
        case EDQUOT:
          return "the disk of " + parent + " is full";
        default:
          return std::string("cannot make ") + part + ": " + strerror(errno);
      }
    }
    if (at == std::string::npos) return "";
  }
}

void sync_folder(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

bool stops_the_run(int error) {
  return error == ENOSPC || error == EDQUOT || error == EROFS || error == EACCES || error == EPERM;
}

}  // namespace mrvconvert
