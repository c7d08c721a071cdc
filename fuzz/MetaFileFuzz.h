// What the metafile targets share: a callback that reads every property the
// reader hands it, so that a value left dangling shows under the sanitizers.
#pragma once

#include <apr_hash.h>

#include <cstddef>
#include <string>

#include "CommonMetaFile.h"
#include "FuzzSupport.h"

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
