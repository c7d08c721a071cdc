// Whole-file replacement: the new content or the old, and no temporary file
// left behind when the replacement fails.
#include <gtest/gtest.h>

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

}  // namespace
