// The walk's entry rules and the chain of open folders.
#include "MSMediaScanEntries.h"

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
