// The temporary folder, MD5 sidecars and the folder synchronisation on their
// own, with files made by hand.
#include <apr_md5.h>
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

#include "CommonFolderSync.h"
#include "LibraryText.h"
#include "LogCapture.h"
#include "log4c.h"

namespace fs = std::filesystem;

namespace {

std::string upper(std::string text) {
  for (char &c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

constexpr const char *kDigest = "0123456789abcdef0123456789abcdef";

class FolderSync : public ::testing::Test {
 protected:
  FolderSync() {
    fs::create_directory(source());
    fs::create_directory(target());
  }
  std::string source() const { return dir.file("source"); }
  std::string target() const { return dir.file("target"); }
  // A file with a sidecar holding digest (by default the digest of text, as
  // the playlist writer makes it).
  static void put(const std::string &folder, const std::string &name, const std::string &text,
                  std::string digest = "") {
    if (digest.empty()) digest = md5_hex(text);
    write_file(folder + "/" + name, text);
    write_file(folder + "/" + name + ".md5", digest + " *" + folder + "/" + name + "\n");
  }
  apr_file_t *create(const std::string &path) {
    apr_file_t *file = nullptr;
    EXPECT_EQ(apr_file_open(&file, path.c_str(), APR_FOPEN_WRITE | APR_FOPEN_CREATE, APR_OS_DEFAULT, pool), 0);
    apr_md5_init(&md5);
    return file;
  }
  static fs::file_time_type age(const std::string &path) {
    auto old = fs::file_time_type::clock::now() - std::chrono::hours(1000);
    fs::last_write_time(path, old);
    return old;
  }

  TestPool pool;
  TempDir dir;
  LogCapture log;
  apr_md5_ctx_t md5;
};

}  // namespace

TEST_F(FolderSync, TemporaryFoldersAreFreshAndDiffer) {
  char *first = temp_folder_create(pool);
  char *second = temp_folder_create(pool);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_STRNE(first, second);
  std::string path = first;
  EXPECT_EQ(path.find((fs::temp_directory_path() / "Zentoria-").string()), 0u) << path;
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_TRUE(path.ends_with("/"));
  EXPECT_TRUE(fs::is_directory(path));
  EXPECT_EQ(folder_remove(nullptr, first), 0);
  EXPECT_EQ(folder_remove(pool, second), 0);
  EXPECT_FALSE(fs::exists(path));
}

// The sidecar named the file by the path it was written at, a temporary
// folder the run deletes, so "md5sum -c" failed on it: it names the file.
TEST_F(FolderSync, SidecarNamedTheDeletedTemporaryFolder) {
  std::string path = dir.file("list.pls");
  apr_file_t *file = create(path);
  apr_file_puts("abc", file);
  apr_md5_update(&md5, "abc", 3);
  ASSERT_EQ(md5_sidecar_write(pool, file, path.c_str(), &md5, 1), 0);
  EXPECT_EQ(read_file(path + ".md5"), "900150983cd24fb0d6963f7d28e17f72 *list.pls\n");
  char *digest = nullptr;
  ASSERT_EQ(md5_sidecar_read(pool, (path + ".md5").c_str(), &digest), 0);
  EXPECT_STREQ(digest, "900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(FolderSync, EmptyFileGetsNoSidecar) {
  std::string path = dir.file("empty.pls");
  apr_file_t *file = create(path);
  EXPECT_EQ(md5_sidecar_write(pool, file, path.c_str(), &md5, 0), 0);
  EXPECT_FALSE(fs::exists(path + ".md5"));
  EXPECT_EQ(log.count("Common", LOG4C_INFO, "not creating md5 for empty file file " + path), 1);
}

TEST_F(FolderSync, ShortOrMissingSidecarHasNoDigest) {
  write_file(dir.file("short.md5"), "0123456789");
  char *digest = reinterpret_cast<char *>(1);
  EXPECT_EQ(md5_sidecar_read(pool, dir.file("short.md5").c_str(), &digest), 20014);
  EXPECT_EQ(digest, nullptr);
  EXPECT_EQ(log.count("Common", LOG4C_ERROR, "could not read 32 bytes from file " + dir.file("short.md5")), 1);
  EXPECT_NE(md5_sidecar_read(pool, dir.file("none.md5").c_str(), &digest), 0);
  EXPECT_EQ(log.count("Common", LOG4C_ERROR, "could not open file " + dir.file("none.md5")), 1);
}

TEST_F(FolderSync, ListingHoldsRegularFilesOnly) {
  write_file(source() + "/a.pls", "a");
  fs::create_directory(source() + "/sub.pls");
  fs::create_symlink(source() + "/a.pls", source() + "/link.pls");
  apr_hash_t *files = nullptr;
  ASSERT_EQ(folder_list_files(pool, source().c_str(), &files), 0);
  EXPECT_EQ(apr_hash_count(files), 1u);
  EXPECT_NE(apr_hash_get(files, "a.pls", APR_HASH_KEY_STRING), nullptr);
  EXPECT_NE(folder_list_files(pool, dir.file("nowhere").c_str(), &files), 0);
}

TEST_F(FolderSync, OnlyChangedFilesAreCopied) {
  put(source(), "same.pls", "new same", md5_hex("old same"));
  put(target(), "same.pls", "old same", upper(md5_hex("old same")));
  put(source(), "changed.pls", "new changed", "ffffffffffffffffffffffffffffffff");
  put(target(), "changed.pls", "old changed");
  put(source(), "added.pls", "new added");
  fs::file_time_type kept = age(target() + "/same.pls");
  ASSERT_EQ(folder_sync(source().c_str(), target().c_str()), 0);
  EXPECT_EQ(read_file(target() + "/same.pls"), "old same") << "digests compare ignoring case";
  EXPECT_EQ(fs::last_write_time(target() + "/same.pls"), kept);
  EXPECT_EQ(read_file(target() + "/changed.pls"), "new changed");
  EXPECT_EQ(read_file(target() + "/changed.pls.md5").substr(0, 32), "ffffffffffffffffffffffffffffffff");
  EXPECT_EQ(read_file(target() + "/added.pls"), "new added");
  EXPECT_TRUE(fs::exists(target() + "/added.pls.md5"));
}

TEST_F(FolderSync, CopyKeepsTheSourcePermissions) {
  put(source(), "private.pls", "x");
  fs::permissions(source() + "/private.pls", fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_EQ(folder_sync(source().c_str(), target().c_str()), 0);
  EXPECT_EQ(fs::status(target() + "/private.pls").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(FolderSync, SourceFileWithoutSidecarIsNotCopied) {
  write_file(source() + "/bare.pls", "new");
  ASSERT_EQ(folder_sync(source().c_str(), target().c_str()), 0);
  EXPECT_FALSE(fs::exists(target() + "/bare.pls"));
  EXPECT_EQ(log.count("Common", LOG4C_WARN, "mo md5 file for " + source() + "/bare.pls - ignoring file (not copying)"), 1);
}

TEST_F(FolderSync, OnlyOwnPlaylistsAndTheirSidecarsAreDeleted) {
  put(target(), "gone.pls", "old");
  put(target(), "Shouted.PLS", "old");
  write_file(target() + "/song.mp3", "music");
  write_file(target() + "/sums.md5", kDigest);
  ASSERT_EQ(folder_sync(source().c_str(), target().c_str()), 0);
  for (const char *name : {"gone.pls", "gone.pls.md5", "Shouted.PLS", "Shouted.PLS.md5"})
    EXPECT_FALSE(fs::exists(target() + "/" + name)) << name;
  for (const char *name : {"song.mp3", "sums.md5"}) {
    EXPECT_TRUE(fs::exists(target() + "/" + name)) << name;
    EXPECT_EQ(log.count("Common", LOG4C_WARN, target() + "/" + name + " is not a playlist file - leaving it in dir"), 1);
  }
}

TEST_F(FolderSync, RemoveTakesNestedFoldersButNotHiddenOnes) {
  write_file(source() + "/a.pls", "a");
  fs::create_directories(source() + "/x/y");
  write_file(source() + "/x/y/b.pls", "b");
  ASSERT_EQ(folder_remove(pool, source().c_str()), 0);
  EXPECT_FALSE(fs::exists(source()));

  fs::create_directories(target() + "/.keep");
  EXPECT_NE(folder_remove(nullptr, target().c_str()), 0);
  EXPECT_TRUE(fs::exists(target() + "/.keep"));
  EXPECT_EQ(log.count("Common", LOG4C_ERROR, "could not remove dir " + target()), 1);
}

TEST_F(FolderSync, PlaylistsSyncDeletesPlsFilesItNeverWrote) {
  write_file(target() + "/MyOwn.pls", "mine");
  write_file(target() + "/Backup.PLS", "backup");
  write_file(target() + "/song.pls.md5", kDigest);
  put(target(), "edited.pls", "as written");
  write_file(target() + "/edited.pls", "edited by hand");
  put(target(), "forged.pls", "x", kDigest);
  ASSERT_EQ(folder_sync(source().c_str(), target().c_str()), 0);
  for (const char *name : {"MyOwn.pls", "Backup.PLS", "song.pls.md5", "edited.pls", "forged.pls"})
    EXPECT_TRUE(fs::exists(target() + "/" + name)) << name;
  EXPECT_EQ(log.count("Common", LOG4C_WARN, target() + "/MyOwn.pls is not a playlist written here - leaving it in dir"),
            1);
  EXPECT_EQ(log.count("Common", LOG4C_WARN, target() + "/song.pls.md5 is not a playlist file - leaving it in dir"), 1);
}

TEST_F(FolderSync, PlaylistsSyncOverwritesUserPlsWithoutSidecar) {
  write_file(target() + "/user.pls", "the user's own");
  put(target(), "mine.pls", "old mine");
  put(source(), "user.pls", "from the library");
  put(source(), "mine.pls", "new mine");
  ASSERT_EQ(folder_sync(source().c_str(), target().c_str()), 0);
  EXPECT_EQ(read_file(target() + "/user.pls"), "the user's own");
  EXPECT_FALSE(fs::exists(target() + "/user.pls.md5"));
  EXPECT_EQ(read_file(target() + "/mine.pls"), "new mine");
  EXPECT_EQ(log.count("Common", LOG4C_WARN, target() + "/user.pls is not a playlist written here - leaving it in dir"),
            1);
}
