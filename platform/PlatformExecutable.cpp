#include "PlatformExecutable.h"

#include <apr_strings.h>

#include <cstddef>
#include <limits.h>
#include <unistd.h>

char *platform_executable_path(apr_pool_t *pool) {
  char buffer[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) return nullptr;
  return apr_pstrmemdup(pool, buffer, static_cast<apr_size_t>(length));
}
