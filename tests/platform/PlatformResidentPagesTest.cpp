// Giving back the clean pages of read-only file mappings: they leave the
// resident set and read the same after; a private copy in a read-only
// mapping (a library's relocated constant data) is kept.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "LogCapture.h"
#include "PlatformResidentPages.h"

namespace {

constexpr std::size_t kPage = 4096;
constexpr std::size_t kPages = 8;

// The resident KiB of the mapping that starts at address.
long resident_kib(const void *address) {
  char start[32];
  std::snprintf(start, sizeof start, "%lx-", reinterpret_cast<unsigned long>(address));
  std::ifstream smaps("/proc/self/smaps");
  bool found = false;
  for (std::string line; std::getline(smaps, line);) {
    if (line.rfind(start, 0) == 0) found = true;
    if (found && line.rfind("Rss:", 0) == 0) return std::stol(line.substr(4));
  }
  return -1;
}

unsigned char *map(int fd, int protection) {
  void *pages = mmap(nullptr, kPages * kPage, protection, MAP_PRIVATE, fd, 0);
  return pages == MAP_FAILED ? nullptr : static_cast<unsigned char *>(pages);
}

TEST(PlatformResidentPages, CleanPagesGoPrivateCopiesStay) {
  TempDir dir;
  const std::string path = dir.file("pages");
  std::string content(kPages * kPage, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i % 251);
  std::ofstream(path, std::ios::binary) << content;
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  unsigned char *clean = map(fd, PROT_READ);
  unsigned char *copied = map(fd, PROT_READ | PROT_WRITE);
  close(fd);
  ASSERT_TRUE(clean && copied);
  const volatile unsigned char *touch = clean;
  for (std::size_t i = 0; i < kPages; ++i) (void)touch[i * kPage];
  copied[kPage + 1] = 7;
  ASSERT_EQ(mprotect(copied, kPages * kPage, PROT_READ), 0);
  ASSERT_GT(resident_kib(clean), 0);

  platform_release_clean_file_pages();

  EXPECT_EQ(resident_kib(clean), 0);
  EXPECT_GT(resident_kib(copied), 0);
  EXPECT_EQ(copied[kPage + 1], 7) << "the private copy was dropped";
  EXPECT_EQ(std::string(reinterpret_cast<char *>(clean), content.size()), content);
  munmap(clean, kPages * kPage);
  munmap(copied, kPages * kPage);
}

}  // namespace
