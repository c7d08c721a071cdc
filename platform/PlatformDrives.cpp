#include "PlatformDrives.h"

#include <cstring>

namespace {
// One root, its NUL and the list's closing NUL.
constexpr char kRoots[] = "/\0";
constexpr std::size_t kRootsLength = sizeof kRoots - 1;
}  // namespace

std::size_t platform_logical_drives(char *buffer, std::size_t capacity) {
  if (capacity < kRootsLength + 1) return kRootsLength + 1;
  std::memcpy(buffer, kRoots, kRootsLength + 1);
  return kRootsLength;
}
