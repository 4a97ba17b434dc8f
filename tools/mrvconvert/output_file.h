// Outputs that appear whole or not at all: each is written to a temporary
// file in its target folder, flushed to the disk and renamed into place, so
// an interrupted run never leaves a half-written file under the final name
// and an existing file is replaced only by a complete one. Temporary files
// are named .mrvconvert-PID-XXXXXX.tmp; a later run removes those whose
// process is gone.
#ifndef MRVLN_TOOLS_MRVCONVERT_OUTPUT_FILE_H
#define MRVLN_TOOLS_MRVCONVERT_OUTPUT_FILE_H

#include <stddef.h>

#include <string>

namespace mrvconvert {

// Reads the process's umask once, before any thread starts: new outputs get
// the permissions a plain open(2) would give them.
void init_output_mode();

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();  // removes the temporary file unless committed

  // Creates the temporary file beside `target`; 0 or an errno value.
  int open(const std::string& target);
  // 0 or an errno value (ENOSPC on a full disk). In output_write.cpp, apart,
  // so that the tests' build of mrvconvert can link one that stops halfway.
  int write(const void* data, size_t size);
  // Flushes the file to the disk and renames it to the target.
  int commit();
  // Removes the temporary file.
  void abandon();

 private:
  int fd_ = -1;
  std::string temp_, target_;
};

// Removes the temporary files that runs no longer alive left in `dir`; the
// number removed.
size_t remove_stale_temps(const std::string& dir);

// Makes the folder `dir` and its missing parents; "" when it is there, or
// why not ("PARENT is a file, not a folder", ...).
std::string make_folder(const std::string& dir);

// Flushes a folder's entries (the renames into it) to the disk.
void sync_folder(const std::string& dir);

// Whether the error means that no further file can be written there either:
// a full disk, a quota, a read-only disk or no permission.
bool stops_the_run(int error);

// Writes all `size` bytes to `fd`; 0 or an errno value.
int write_fully(int fd, const void* data, size_t size);

}  // namespace mrvconvert

#endif
