// Id path text helpers.
#include "MSDBIdPath.h"

#include <apr_strings.h>

#include <cstring>

#include "MSDBHelper.h"
#include "log4c.h"

namespace {
constexpr const char *kRootParent = "-1";
}  // namespace

void msdb_id_split(apr_pool_t *pool, const char *id_path, const char **parent, const char **oid) {
  const char *slash = std::strrchr(id_path, '/');
  if (oid != nullptr) *oid = slash == nullptr ? id_path : slash + 1;
  if (parent != nullptr) {
    *parent = slash == nullptr ? kRootParent : apr_pstrndup(pool, id_path, slash - id_path);
  }
}

const char *msdb_id_join(apr_pool_t *pool, const char *parent, const char *oid) {
  if (std::strcmp(parent, kRootParent) == 0) return oid;
  return apr_pstrcat(pool, parent, "/", oid, nullptr);
}

const char *msdb_id_up(apr_pool_t *pool, const char *id_path, int levels) {
  const char *path = id_path;
  for (int i = 0; i < levels && std::strcmp(path, kRootParent) != 0; ++i) {
    msdb_id_split(pool, path, &path, nullptr);
  }
  return path;
}

bool msdb_id_is_ancestor(const char *a, const char *b, bool or_equal) {
  if (std::strcmp(a, kRootParent) == 0) return true;
  std::size_t length = std::strlen(a);
  if (std::strncmp(a, b, length) != 0) return false;
  return b[length] == '/' || (or_equal && b[length] == '\0');
}

bool msdb_id_path_valid(const char *id_path) {
  if (id_path != nullptr && std::strcmp(id_path, kRootParent) == 0) return true;
  if (id_path == nullptr) return db_oid_valid(id_path);
  const char *segment = id_path;
  for (;;) {
    const char *slash = std::strchr(segment, '/');
    std::size_t length = slash == nullptr ? std::strlen(segment) : static_cast<std::size_t>(slash - segment);
    char buffer[32];
    if (length >= sizeof buffer) return db_oid_valid(id_path);
    std::memcpy(buffer, segment, length);
    buffer[length] = '\0';
    if (!db_oid_valid(buffer)) return false;
    // "007" would reach the same object as "7" under an id that no row
    // carries, so the documents written for it would name made-up ids.
    if (length > 1 && buffer[0] == '0') {
      log4c_fail(MSDB_MODULE, log4c_sprintf("Invalid object id \"%s\"", id_path));
      return false;
    }
    if (slash == nullptr) return true;
    segment = slash + 1;
  }
}
