#include "tools/mrvconvert/tree.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>

#include "tools/mrvconvert/convert_file.h"

namespace mrvconvert {

namespace {

struct Walk {
  bool recursive;
  dev_t skip_device;
  ino_t skip_inode;
  std::string root;       // as the user named it
  std::string real_root;  // resolved, for links
  Tree* tree;
};

bool inside(const std::string& real_root, const std::string& path) {
  return path.size() > real_root.size() && path.compare(0, real_root.size(), real_root) == 0 &&
         (real_root == "/" || path[real_root.size()] == '/');
}

void walk(const Walk& w, const std::string& relative);

void add_entry(const Walk& w, const std::string& relative, const std::string& source) {
  struct stat st;
  if (lstat(source.c_str(), &st) != 0) {
    w.tree->problems.push_back(source + ": cannot examine: " + error_text(errno));
    return;
  }
  Entry e{source, relative, EntryKind::kFile};
  if (S_ISLNK(st.st_mode)) {
    char real[PATH_MAX];
    struct stat target;
    const bool resolved = realpath(source.c_str(), real) != nullptr && stat(real, &target) == 0;
    // Without -r, a link to a folder is a folder: not part of the run.
    if (resolved && S_ISDIR(target.st_mode) && !w.recursive) return;
    if (!resolved)
      e.why_not_followed = "a symbolic link that leads nowhere";
    else if (S_ISDIR(target.st_mode))
      e.why_not_followed = "a symbolic link to a folder";
    else if (!inside(w.real_root, real))
      e.why_not_followed = "a symbolic link out of the source folder";
    if (e.why_not_followed != nullptr) {
      e.kind = EntryKind::kNotFollowed;
      w.tree->entries.push_back(e);
      return;
    }
    st = target;
  }
  if (S_ISDIR(st.st_mode)) {
    if (w.recursive && !(st.st_dev == w.skip_device && st.st_ino == w.skip_inode))
      walk(w, relative);
    return;
  }
  e.kind = S_ISREG(st.st_mode) ? EntryKind::kFile : EntryKind::kOther;
  e.device = st.st_dev;
  e.inode = st.st_ino;
  e.mtime = st.st_mtim;
  w.tree->entries.push_back(e);
}

void walk(const Walk& w, const std::string& relative) {
  const std::string dir = relative.empty() ? w.root : join_path(w.root, relative);
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) {
    w.tree->problems.push_back(dir + ": cannot list the folder: " + error_text(errno));
    return;
  }
  w.tree->folders.push_back(relative);
  std::vector<std::string> names;
  while (const dirent* e = readdir(d))
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string rel = relative.empty() ? name : relative + "/" + name;
    add_entry(w, rel, join_path(w.root, rel));
  }
}

}  // namespace

std::string join_path(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

Tree list_tree(const std::string& in, bool recursive, dev_t skip_device, ino_t skip_inode) {
  Tree tree;
  char real[PATH_MAX];
  const std::string real_root = realpath(in.c_str(), real) != nullptr ? real : in;
  walk(Walk{recursive, skip_device, skip_inode, in, real_root, &tree}, "");
  return tree;
}

}  // namespace mrvconvert
