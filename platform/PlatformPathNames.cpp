#include "PlatformPathNames.h"

#include <cstring>

namespace {
std::size_t copy_path(const char *path, char *buffer, std::size_t capacity) {
  if (path == nullptr) return 0;
  std::size_t length = std::strlen(path);
  if (length + 1 > capacity) return length + 1;
  std::memcpy(buffer, path, length + 1);
  return length;
}
}  // namespace

std::size_t platform_short_path_name(const char *path, char *buffer, std::size_t capacity) {
  return copy_path(path, buffer, capacity);
}

std::size_t platform_long_path_name(const char *path, char *buffer, std::size_t capacity) {
  return copy_path(path, buffer, capacity);
}
