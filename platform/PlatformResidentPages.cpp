// Read-only file mappings given back (see the header), found in
// /proc/self/smaps: each mapping's line (range, permissions, offset, device,
// inode) is followed by its counters, "Anonymous" among them.
#include "PlatformResidentPages.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

struct Mapping {
  unsigned long start = 0;
  unsigned long end = 0;
  bool clean_candidate = false;  // a read-only file mapping with pages resident
};

// True when line opens a mapping, which it then describes.
bool mapping_line(const std::string &line, Mapping *mapping) {
  // Read into locals: a counter's name ("Anonymous") can start like a hex number.
  unsigned long start = 0, end = 0, inode = 0;
  char permissions[8];
  if (std::sscanf(line.c_str(), "%lx-%lx %7s %*s %*s %lu", &start, &end, permissions, &inode) != 4) return false;
  *mapping = Mapping{start, end, inode != 0 && permissions[1] != 'w'};
  return true;
}

// The KiB of a counter line "Name:   N kB" when it is that counter.
bool counter(const std::string &line, const char *name, long *kib) {
  const std::size_t length = std::strlen(name);
  if (line.compare(0, length, name) != 0) return false;
  *kib = std::atol(line.c_str() + length);
  return true;
}

}  // namespace

void platform_release_clean_file_pages() {
  std::ifstream smaps("/proc/self/smaps");
  Mapping mapping;
  std::string line;
  long kib = 0;
  while (std::getline(smaps, line)) {
    if (mapping_line(line, &mapping)) continue;
    if (counter(line, "Rss:", &kib) && kib == 0) mapping.clean_candidate = false;
    if (counter(line, "Anonymous:", &kib) && mapping.clean_candidate && kib == 0) {
      madvise(reinterpret_cast<void *>(mapping.start), mapping.end - mapping.start, MADV_DONTNEED);
    }
  }
}
