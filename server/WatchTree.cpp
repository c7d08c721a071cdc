// The inotify watches of the shared folders.
#include "WatchTree.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstring>
#include <iterator>
#include <vector>

namespace {

struct UnreportedFs {
  unsigned long magic;
  const char *name;
};

// File systems whose changes made elsewhere never reach inotify.
constexpr UnreportedFs kUnreported[] = {
    {0x6969, "nfs"},       {0x517B, "smb"},        {0xFF534D42, "cifs"}, {0xFE534D42, "smb2"},
    {0x65735546, "fuse"},  {0x01021997, "9p"},     {0x73757245, "coda"}, {0x5346414F, "afs"},
    {0x00C36400, "ceph"},  {0x564C, "ncpfs"},
};

// The folders directly below folder (not following symbolic links).
std::vector<std::string> subfolders(const std::string &folder) {
  std::vector<std::string> found;
  DIR *dir = opendir(folder.c_str());
  if (dir == nullptr) return found;
  while (const dirent *entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    const std::string path = folder + "/" + entry->d_name;
    struct stat info {};
    if (entry->d_type == DT_DIR || (entry->d_type == DT_UNKNOWN && lstat(path.c_str(), &info) == 0 &&
                                    S_ISDIR(info.st_mode))) {
      found.push_back(path);
    }
  }
  closedir(dir);
  return found;
}

WatchAdd watch_one(WatchTree &tree, const std::string &folder) {
  if (tree.limit > 0 && static_cast<int>(tree.paths.size()) >= tree.limit) return WatchAdd::limit;
  const int wd = inotify_add_watch(tree.fd, folder.c_str(), WATCH_TREE_MASK | IN_DONT_FOLLOW);
  if (wd >= 0) {
    tree.paths[wd] = folder;
    return WatchAdd::added;
  }
  return errno == ENOSPC ? WatchAdd::limit : WatchAdd::failed;
}

}  // namespace

bool path_within(const std::string &path, const std::string &folder) {
  if (path.compare(0, folder.size(), folder) != 0) return false;
  return path.size() == folder.size() || path[folder.size()] == '/' || folder == "/";
}

bool watch_tree_open(WatchTree &tree, int limit) {
  tree.fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  tree.limit = limit;
  return tree.fd >= 0;
}

void watch_tree_close(WatchTree &tree) {
  if (tree.fd >= 0) close(tree.fd);
  tree.fd = -1;
  tree.paths.clear();
}

WatchAdd watch_tree_add(WatchTree &tree, const std::string &folder) {
  const WatchAdd first = watch_one(tree, folder);
  if (first != WatchAdd::added) return first;
  std::vector<std::string> pending = subfolders(folder);
  while (!pending.empty()) {
    const std::string next = std::move(pending.back());
    pending.pop_back();
    const WatchAdd added = watch_one(tree, next);
    if (added == WatchAdd::limit) return added;
    if (added != WatchAdd::added) continue;  // gone meanwhile, or unreadable
    std::vector<std::string> below = subfolders(next);
    pending.insert(pending.end(), std::make_move_iterator(below.begin()), std::make_move_iterator(below.end()));
  }
  return WatchAdd::added;
}

void watch_tree_remove(WatchTree &tree, const std::string &folder) {
  for (auto it = tree.paths.begin(); it != tree.paths.end();) {
    if (path_within(it->second, folder)) {
      inotify_rm_watch(tree.fd, it->first);
      it = tree.paths.erase(it);
    } else {
      ++it;
    }
  }
}

const std::string *watch_tree_path(const WatchTree &tree, int wd) {
  const auto found = tree.paths.find(wd);
  return found == tree.paths.end() ? nullptr : &found->second;
}

const char *watch_tree_unreported_fs(const std::string &path) {
  struct statfs info {};
  if (statfs(path.c_str(), &info) != 0) return nullptr;
  for (const UnreportedFs &fs : kUnreported) {
    if (static_cast<unsigned long>(info.f_type) == fs.magic) return fs.name;
  }
  return nullptr;
}
