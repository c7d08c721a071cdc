#include "PlatformExecutable.h"

#include <apr_strings.h>

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <limits.h>
#include <unistd.h>

char *platform_executable_path(apr_pool_t *pool) {
  char buffer[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) return nullptr;
  return apr_pstrmemdup(pool, buffer, static_cast<apr_size_t>(length));
}

char *platform_data_file(apr_pool_t *pool, const char *name) {
  char *folder = platform_executable_path(pool);
  if (folder == nullptr) return nullptr;
  *(std::strrchr(folder, '/') + 1) = '\0';
  for (const char *relative : {"", ML_DATA_RELATIVE "/"}) {
    char *candidate = apr_pstrcat(pool, folder, relative, name, nullptr);
    if (access(candidate, R_OK) == 0) return candidate;
  }
  return nullptr;
}
