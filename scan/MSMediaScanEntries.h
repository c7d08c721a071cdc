// MSMediaScanEntries: what a walk reads of a folder's entries, which of
// them it walks, and the folders open on its current path, shared by the
// walk, its listings and the tree reader. No state but an OpenFolders,
// which belongs to one walk on one thread.
#pragma once

#include <apr_file_info.h>
#include <apr_pools.h>

#include <string>
#include <utility>
#include <vector>

// A folder entry that is no link to one.
inline bool real_folder(const apr_finfo_t &info) {
  return (info.valid & APR_FINFO_TYPE) != 0 && info.filetype == APR_DIR;
}

// The folders open on a walk's current path: a folder met again on it
// (through a link or a bind mount to an ancestor) is not entered again.
struct FolderId {
  apr_dev_t device;
  apr_ino_t inode;
};
using WalkChain = std::vector<FolderId>;

inline bool on_walk_chain(const WalkChain &chain, const apr_finfo_t &info) {
  for (const FolderId &id : chain) {
    if (id.device == info.device && id.inode == info.inode) return true;
  }
  return false;
}

// The chain of a walk that starts at root: the root alone, or nothing when
// its status cannot be read.
WalkChain walk_chain_start(apr_pool_t *pool, const char *root);

// False for an entry a folder read gives that is no entry to walk: "." and
// "..", which are only named, never looked at.
bool walkable_entry(const apr_finfo_t &info);

// The status a listing reads of each entry.
inline constexpr apr_int32_t LISTING_WANTED = APR_FINFO_TYPE | APR_FINFO_NAME | APR_FINFO_SIZE | APR_FINFO_MTIME |
                                              APR_FINFO_INODE | APR_FINFO_DEV;

// The folders open on a depth-first walk's current path below its root,
// each opened by its name within its parent's descriptor: opening by full
// path makes the system walk every component of it again for each folder.
// Past OPEN_FOLDERS_DEPTH levels a folder is opened by its path from the
// deepest one kept. The descriptors are closed as the walk leaves their
// folders, and all of them with the OpenFolders.
inline constexpr std::size_t OPEN_FOLDERS_DEPTH = 64;
class OpenFolders {
 public:
  explicit OpenFolders(std::string root) : root_(std::move(root)) {}
  ~OpenFolders();
  OpenFolders(const OpenFolders &) = delete;
  OpenFolders &operator=(const OpenFolders &) = delete;

  // The folder relative below the root ("" for the root, else "/a/b")
  // opened, leaving the folders that do not hold it; its descriptor stays
  // the OpenFolders' until the walk leaves it. -1 when it cannot be opened.
  int open(const std::string &relative);

 private:
  void close_loose();

  std::string root_;
  std::vector<std::pair<std::string, int>> path_;  // relative, descriptor
  int loose_ = -1;  // the last folder opened past OPEN_FOLDERS_DEPTH
};
