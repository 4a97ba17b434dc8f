// The files of a folder run: the source folder's entries in name order (with
// -r its subfolders' too, in place), each with where its output goes.
#ifndef MRVLN_TOOLS_MRVCONVERT_TREE_H
#define MRVLN_TOOLS_MRVCONVERT_TREE_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace mrvconvert {

enum class EntryKind {
  kFile,        // a regular file, or a link to one inside the source folder
  kOther,       // a device, pipe or socket: never opened
  kNotFollowed  // a link to a folder, or one leading out of the source folder
};

struct Entry {
  std::string source;    // IN/relative/path
  std::string relative;  // relative/path
  EntryKind kind;
  dev_t device = 0;
  ino_t inode = 0;
  struct timespec mtime = {0, 0};
  const char* why_not_followed = nullptr;  // for kNotFollowed
};

struct Tree {
  std::vector<Entry> entries;
  std::vector<std::string> folders;   // relative paths of the folders seen, "" first
  std::vector<std::string> problems;  // "PATH: what", folders that cannot be listed
};

// Lists `in`. With `recursive`, descends into subfolders, never into a link
// and never into the folder (device, inode) `skip`, the target folder when
// it lies inside the source.
Tree list_tree(const std::string& in, bool recursive, dev_t skip_device, ino_t skip_inode);

// "a/b" joined: `dir` + "/" + `name`, without doubling a trailing slash.
std::string join_path(const std::string& dir, const std::string& name);

}  // namespace mrvconvert

#endif
