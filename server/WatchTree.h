// WatchTree: the inotify watches of the shared folders, one per folder,
// added recursively and removed by path prefix, with a limit of its own
// below the kernel's (0: only the kernel's fs.inotify.max_user_watches).
// Also tells the file systems that report no changes to inotify (network
// and FUSE mounts). Used by the folder watch thread only; not thread-safe.
// The inotify descriptor lives from watch_tree_open to watch_tree_close.
#pragma once

#include <sys/inotify.h>

#include <map>
#include <string>

// What every watched folder reports: creation, deletion, moves, writes.
inline constexpr unsigned WATCH_TREE_MASK = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                            IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_ONLYDIR;

enum class WatchAdd { added, limit, failed };

struct WatchTree {
  int fd = -1;
  int limit = 0;
  std::map<int, std::string> paths;  // by watch descriptor
};

// Opens the inotify descriptor (non-blocking). Returns false when inotify is
// not available.
bool watch_tree_open(WatchTree &tree, int limit);
void watch_tree_close(WatchTree &tree);

// Watches folder and every folder below it (symbolic links not followed).
// limit: the kernel refused (ENOSPC) or the tree's own limit is reached;
// failed: folder could not be watched at all. Folders that vanish meanwhile
// are skipped.
WatchAdd watch_tree_add(WatchTree &tree, const std::string &folder);

// Removes the watches of folder and of everything below it.
void watch_tree_remove(WatchTree &tree, const std::string &folder);

// The folder a watch descriptor stands for, or null.
const std::string *watch_tree_path(const WatchTree &tree, int wd);

// The name of the file system of path when it does not report changes
// (nfs, smb, cifs, fuse...), else null.
const char *watch_tree_unreported_fs(const std::string &path);

// True when path is folder or lies below it.
bool path_within(const std::string &path, const std::string &folder);
