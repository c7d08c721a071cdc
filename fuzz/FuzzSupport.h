// Shared by the fuzz targets: APR started once, a scratch file for readers
// that take a path, and a callback that reads every property it is given.
#pragma once

#include <apr_general.h>
#include <apr_hash.h>
#include <apr_pools.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "CommonMetaFile.h"

inline apr_pool_t *fuzz_pool() {
  static apr_pool_t *pool = [] {
    apr_initialize();
    apr_pool_t *created = nullptr;
    apr_pool_create(&created, nullptr);
    return created;
  }();
  return pool;
}

// A file of this process holding data, rewritten for every input.
inline std::string fuzz_write_input(const char *extension, const std::uint8_t *data, std::size_t size) {
  const char *folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string path = std::string(folder) + "/metafile-fuzz-" + std::to_string(getpid()) + "." + extension;
  if (FILE *file = std::fopen(path.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  return path;
}

// Touches every value, so that a dangling one shows under the sanitizers.
inline int fuzz_read_levels(const MetaFileLevels *levels, MetaFileParser *, void *) {
  std::size_t total = 0;
  for (int level = 1; level <= 3; ++level) {
    if (levels->list[level] == nullptr) continue;
    for (apr_hash_index_t *at = apr_hash_first(nullptr, levels->list[level]); at; at = apr_hash_next(at)) {
      const void *key = nullptr;
      apr_ssize_t length = 0;
      void *value = nullptr;
      apr_hash_this(at, &key, &length, &value);
      if (value != nullptr && std::string(static_cast<const char *>(key), length).find('/') != std::string::npos) {
        total += std::string(static_cast<const char *>(value)).size();
      }
    }
  }
  return total == static_cast<std::size_t>(-1) ? 1 : 0;
}
