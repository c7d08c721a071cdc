// The Linux stand-ins for the Windows drive list, path-name queries and the
// system code page; the status of a folder's entries by name.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "PlatformCodePage.h"
#include "PlatformDrives.h"
#include "PlatformFolderEntry.h"
#include "PlatformPathNames.h"
#include "ScopedLocale.h"
#include "LogCapture.h"

namespace {

TEST(PlatformDrives, RootListAndShortBuffer) {
  char buffer[8] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(platform_logical_drives(buffer, sizeof buffer), 2u);
  EXPECT_EQ(std::string(buffer, 3), std::string("/\0\0", 3));
  char tiny[2] = {'x', 'x'};
  EXPECT_EQ(platform_logical_drives(tiny, sizeof tiny), 3u) << "the needed capacity";
  EXPECT_EQ(tiny[0], 'x') << "nothing written";
}

TEST(PlatformPathNames, IdentityWithCapacityCheck) {
  char buffer[16];
  EXPECT_EQ(platform_long_path_name("/Music/A", buffer, sizeof buffer), 8u);
  EXPECT_STREQ(buffer, "/Music/A");
  EXPECT_EQ(platform_short_path_name("/Music/A", buffer, 8), 9u);
  EXPECT_EQ(platform_short_path_name(nullptr, buffer, sizeof buffer), 0u);
}

// Each entry's status equals the one read by full path, a link describes
// itself, and a missing name is reported as unreadable.
TEST(PlatformFolderEntry, StatusByNameMatchesStatusByPath) {
  TestPool pool;
  TempDir dir;
  const std::string folder = dir.path();
  std::ofstream(folder + "/song.mp3") << "abc";
  std::filesystem::create_directory(folder + "/sub");
  std::filesystem::create_directory_symlink(folder + "/sub", folder + "/link");
  std::filesystem::create_symlink(folder + "/gone", folder + "/dangling");
  apr_dir_t *open = nullptr;
  ASSERT_EQ(apr_dir_open(&open, folder.c_str(), pool), APR_SUCCESS);
  for (const char *name : {"song.mp3", "sub", "link", "dangling"}) {
    apr_finfo_t by_name;
    ASSERT_TRUE(platform_folder_entry_status(open, name, &by_name)) << name;
    apr_finfo_t by_path;
    apr_stat(&by_path, (folder + "/" + name).c_str(), APR_FINFO_MIN | APR_FINFO_IDENT | APR_FINFO_LINK, pool);
    EXPECT_EQ(by_name.filetype, by_path.filetype) << name;
    EXPECT_EQ(by_name.size, by_path.size) << name;
    EXPECT_EQ(by_name.mtime, by_path.mtime) << name;
    EXPECT_EQ(by_name.inode, by_path.inode) << name;
    EXPECT_EQ(by_name.device, by_path.device) << name;
    EXPECT_NE(by_name.valid & APR_FINFO_TYPE, 0) << name;
  }
  apr_finfo_t link;
  ASSERT_TRUE(platform_folder_entry_status(open, "link", &link));
  EXPECT_EQ(link.filetype, APR_LNK);
  apr_finfo_t missing;
  EXPECT_FALSE(platform_folder_entry_status(open, "missing.mp3", &missing));
  EXPECT_EQ(missing.valid, 0);
  apr_dir_close(open);
}

TEST(PlatformCodePage, LocaleCharsetAndLatin1ForPlainLocales) {
  {
    ScopedLocale plain("C");
    EXPECT_STREQ(platform_system_encoding(), "ISO-8859-1");
  }
  {
    ScopedLocale posix("POSIX");
    EXPECT_STREQ(platform_system_encoding(), "ISO-8859-1");
  }
  ScopedLocale utf8("C.UTF-8");
  EXPECT_STREQ(platform_system_encoding(), "UTF-8");
}

}  // namespace
