// The walk's entry rules and the chain of open folders.
#include "MSMediaScanEntries.h"

#include "PlatformFolderEntry.h"

#include <cstring>

WalkChain walk_chain_start(apr_pool_t *pool, const char *root) {
  WalkChain chain;
  apr_finfo_t info;
  if (apr_stat(&info, root, APR_FINFO_INODE | APR_FINFO_DEV, pool) == APR_SUCCESS) {
    chain.push_back({info.device, info.inode});
  }
  return chain;
}

bool walkable_entry(const apr_finfo_t &info) {
  return (info.valid & APR_FINFO_NAME) != 0 && std::strcmp(info.name, ".") != 0 && std::strcmp(info.name, "..") != 0;
}

namespace {

// Whether the folder relative lies below the folder outer.
bool holds(const std::string &outer, const std::string &relative) {
  return relative.size() > outer.size() && relative[outer.size()] == '/' &&
         relative.compare(0, outer.size(), outer) == 0;
}

}  // namespace

OpenFolders::~OpenFolders() {
  close_loose();
  for (const auto &[relative, fd] : path_) platform_folder_close(fd);
}

void OpenFolders::close_loose() {
  if (loose_ >= 0) platform_folder_close(loose_);
  loose_ = -1;
}

int OpenFolders::open(const std::string &relative) {
  close_loose();
  while (!path_.empty() && !holds(path_.back().first, relative)) {
    platform_folder_close(path_.back().second);
    path_.pop_back();
  }
  const int fd = path_.empty() ? platform_folder_open(PLATFORM_FOLDER_HERE, (root_ + relative).c_str())
                               : platform_folder_open(path_.back().second,
                                                      relative.c_str() + path_.back().first.size() + 1);
  if (fd < 0) return fd;
  if (path_.size() < OPEN_FOLDERS_DEPTH) {
    path_.emplace_back(relative, fd);
  } else {
    loose_ = fd;
  }
  return fd;
}
