#include "PlatformExecutable.h"

#include <apr_strings.h>

#include <cstddef>
#include <cstring>
#include <limits.h>
#include <unistd.h>

char *platform_executable_path(apr_pool_t *pool) {
  char buffer[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) return nullptr;
  return apr_pstrmemdup(pool, buffer, static_cast<apr_size_t>(length));
}

char *platform_beside_executable(apr_pool_t *pool, const char *const *places, int count, int mode) {
  char *folder = platform_executable_path(pool);
  if (folder == nullptr) return nullptr;
  *(std::strrchr(folder, '/') + 1) = '\0';
  for (int i = 0; i < count; ++i) {
    char *candidate = apr_pstrcat(pool, folder, places[i], nullptr);
    if (access(candidate, mode) == 0) return candidate;
  }
  return nullptr;
}

char *platform_data_file(apr_pool_t *pool, const char *name) {
  const char *places[] = {name, apr_pstrcat(pool, ML_DATA_RELATIVE "/", name, nullptr)};
  return platform_beside_executable(pool, places, 2, R_OK);
}
