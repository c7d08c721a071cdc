// Whole-file replacement: the new content or the old, and no temporary file
// left behind when the replacement fails.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "LogCapture.h"
#include "PlatformFileReplace.h"

namespace {

TEST(PlatformFileReplace, ReplacesContentAndCleansUpOnFailure) {
  TempDir dir;
  TestPool pool;
  const std::string target = dir.file("hive");
  ASSERT_EQ(platform_file_replace(pool, target.c_str(), "old", 3), 0);
  ASSERT_EQ(platform_file_replace(pool, target.c_str(), "newer", 5), 0);
  EXPECT_EQ(read_file(target), "newer");

  EXPECT_NE(platform_file_replace(pool, dir.file("missing/hive").c_str(), "x", 1), 0);
  // A folder in the way makes the final rename fail after the data was written.
  std::filesystem::create_directory(dir.file("busy"));
  write_file(dir.file("busy/inside"), "keep");
  EXPECT_NE(platform_file_replace(pool, dir.file("busy").c_str(), "x", 1), 0);
  int entries = 0;
  for (const auto &entry : std::filesystem::directory_iterator(dir.path())) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 2) << "only the hive and the folder";
  EXPECT_EQ(read_file(dir.file("busy/inside")), "keep");
}

// Hives and thumbnails were made 0666 whatever the umask: another user
// could rewrite the library path a hive names.
TEST(PlatformFileReplace, ReplacedFileWasWritableByEveryone) {
  TempDir dir;
  TestPool pool;
  const std::string target = dir.file("thumb.jpg");
  const mode_t old_mask = umask(0);
  apr_status_t status = platform_file_replace(pool, target.c_str(), "jpeg", 4);
  umask(old_mask);
  ASSERT_EQ(status, 0);
  struct stat info {};
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

}  // namespace
