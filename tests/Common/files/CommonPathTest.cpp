// Canonical paths under both rules, the path and URL helpers, storage names
// and property strings.
#include <gtest/gtest.h>

#include <apr_hash.h>
#include <apr_strings.h>

#include <string>

#include "Common.h"
#include "CommonFiles.h"
#include "CommonPath.h"
#include "CommonText.h"
#include "CommonUserMessage.h"
#include "LogCapture.h"
#include "PlatformExecutable.h"
#include "ScopedLocale.h"

namespace {

class CanonicalPath : public ::testing::Test {
 protected:
  std::string windows(const char *path) {
    return path_canonical_rule(pool_, path, PATH_RULE_WINDOWS);
  }
  std::string posix(const char *path) { return path_canonical_rule(pool_, path, PATH_RULE_POSIX); }
  TestPool pool_;
};

TEST_F(CanonicalPath, WindowsRuleFoldsCaseAndResolvesDots) {
  EXPECT_EQ(windows("C:\\Music\\.\\Rock\\..\\Pop\\\\song.MP3"), "c:/music/pop/song.mp3");
  EXPECT_EQ(windows("c:\\"), "c:") << "separator within the first three characters";
  EXPECT_EQ(windows("\\\\Server\\Share\\A"), "\\\\server/share/a");
  EXPECT_EQ(windows("c:\\a\\."), "c:/a");
  EXPECT_EQ(windows("c:\\a\\b\\.."), "c:/a");
  EXPECT_EQ(windows("c:\\..\\x"), "c:/x") << "'..' never removes the drive";
  EXPECT_EQ(windows("c:\\a\\..b\\"), "c:/a/..b");
}

TEST_F(CanonicalPath, UrlsKeepTheirSchemeSlashes) {
  EXPECT_EQ(windows("HTTP://Host.com//Dir/Feed.xml/"), "http://host.com/dir/feed.xml");
  EXPECT_EQ(posix("http://Host.com//Dir/Feed.xml/"), "http://Host.com/Dir/Feed.xml");
  EXPECT_EQ(posix("http://host/a/./b/../c"), "http://host/a/c");
  EXPECT_EQ(windows("FILE://\\\\Server\\X"), "FILE://\\\\server/x") << "prefix copied unchanged";
  EXPECT_EQ(posix("File:///home/Me/../You/"), "File:///home/You");
}

TEST_F(CanonicalPath, PosixRuleKeepsCaseAndBackslashes) {
  EXPECT_EQ(posix("/Music/./Rock/../Pop//Song.MP3"), "/Music/Pop/Song.MP3");
  EXPECT_EQ(posix("/a\\b/"), "/a\\b") << "a backslash is a file-name character on POSIX";
  EXPECT_EQ(posix("/"), "/") << "the root keeps its separator";
  EXPECT_EQ(posix("/a/.."), "/");
  EXPECT_EQ(posix("//srv///x"), "/srv/x");
  EXPECT_EQ(posix("/../x"), "/x");
  EXPECT_EQ(posix("rel/./x/"), "rel/x");
  EXPECT_EQ(std::string(path_canonical(pool_, "/Mixed/Case")), "/Mixed/Case");
  EXPECT_EQ(path_canonical(pool_, nullptr), nullptr);
}

TEST_F(CanonicalPath, CanonicalFormIsStableWhenCanonicalisedAgain) {
  // Found by fuzzing: slashes after a one-letter "scheme" (a drive) came out
  // doubled once and single the next time.
  for (const char *path : {"a:///x", ";:///music./A/.C", "http:///x", "x:///", "http://h//a"}) {
    for (PathRule rule : {PATH_RULE_POSIX, PATH_RULE_WINDOWS}) {
      const char *once = path_canonical_rule(pool_, path, rule);
      EXPECT_STREQ(path_canonical_rule(pool_, once, rule), once) << path;
    }
  }
  EXPECT_EQ(posix("a:///x"), "a:/x");
  EXPECT_EQ(posix("http:///x"), "http://x");
}

TEST(PathHelpers, AbsolutePaths) {
  EXPECT_TRUE(path_is_absolute("c:x"));
  EXPECT_FALSE(path_is_absolute("\\\\srv")) << "no separator on POSIX";
  EXPECT_TRUE(path_is_absolute("/x"));
  EXPECT_TRUE(path_is_absolute("rtsp://h"));
  EXPECT_FALSE(path_is_absolute("music/x"));
  EXPECT_FALSE(path_is_absolute(""));
  EXPECT_FALSE(path_is_absolute(nullptr));
}

TEST(PathHelpers, ComponentsDirnamesAndExtensions) {
  TestPool pool;
  EXPECT_STREQ(path_last_component("/a/b/song.mp3"), "song.mp3");
  EXPECT_STREQ(path_last_component("/a/b//"), "b//");
  EXPECT_STREQ(path_last_component("http://h/x.asp?u=/y"), "x.asp?u=/y");
  EXPECT_STREQ(path_last_component("name"), "name");
  EXPECT_STREQ(path_dirname(pool, "/a/b/song.mp3"), "/a/b/");
  EXPECT_STREQ(path_dirname(pool, "http://host/feed.xml"), "http://host/");
  EXPECT_STREQ(path_dirname(pool, "http://host"), "");
  EXPECT_STREQ(path_extension("/a.b/song.MP3", 0), "MP3");
  EXPECT_EQ(path_extension("/a.b/readme", 0), nullptr);
  EXPECT_STREQ(path_extension("http://h/x.mp3?a=b.c", 0), "c");
  EXPECT_STREQ(path_extension("http://h/x.mp3?a=b.c", 1), "mp3?a=b.c");
  EXPECT_EQ(path_extension("http://h/x?a=b.c", 1), nullptr);
}

TEST(PathHelpers, BackslashIsNotASeparatorOnPosix) {
  TestPool pool;
  EXPECT_STREQ(path_last_component("/music/AC\\DC - Back.mp3"), "AC\\DC - Back.mp3");
  EXPECT_STREQ(path_dirname(pool, "/music/AC\\DC - Back.mp3"), "/music/");
  EXPECT_STREQ(path_extension("/music/a.b\\c", 0), "b\\c");
  EXPECT_STREQ(path_join(pool, "/music/x\\", nullptr, "f.mp3"), "/music/x\\/f.mp3");
  EXPECT_STREQ(path_strip_extension(pool, "AC\\DC - Back.mp3"), "AC\\DC - Back");
  EXPECT_TRUE(path_is_separator('/'));
  EXPECT_FALSE(path_is_separator('\\'));
}

TEST(PathHelpers, JoinAndExecutableFolder) {
  TestPool pool;
  EXPECT_STREQ(path_join(pool, "/lib", "sub", "f.txt"), "/lib/sub/f.txt");
  EXPECT_STREQ(path_join(pool, "/lib", "", "f.txt"), "/lib/f.txt");
  EXPECT_STREQ(path_join(pool, "", "sub", "f.txt"), "sub/f.txt");
  EXPECT_STREQ(path_join(pool, "/", nullptr, "f.txt"), "/f.txt");
  char *current = nullptr;
  ASSERT_EQ(apr_filepath_get(&current, 0, pool), APR_SUCCESS);
  EXPECT_EQ(std::string(path_join(pool, nullptr, nullptr, "f.txt")),
            std::string(current) + "/f.txt");
  const char *argv[] = {"/opt/zen/bin/sharectl", nullptr};
  EXPECT_STREQ(exe_dir(pool, 1, argv), "/opt/zen/bin");
  const char *relative[] = {"tools/sharectl", nullptr};
  EXPECT_EQ(std::string(exe_dir(pool, 1, relative)), std::string(current) + "/tools");
  EXPECT_EQ(exe_dir(pool, 0, nullptr), common_empty_string);
  const char *bare[] = {"common_tests", nullptr};
  EXPECT_EQ(std::string(exe_dir(pool, 1, bare)) + "/common_tests", platform_executable_path(pool))
      << "a name found on PATH is not in the current folder";
}

TEST(SafeFileName, ReplacesUnsafeCharacters) {
  TestPool pool;
  EXPECT_STREQ(safe_file_name(pool, "http://a/b?c=<d>|\"*\\", "/dl", ".xml"),
               "/dl/http___a_b_c=_d_____.xml");
  EXPECT_STREQ(safe_file_name(pool, "x", "/dl/", nullptr), "/dl/x");
  EXPECT_STREQ(safe_file_name(pool, "x", nullptr, ".s"), "x.s");
}

TEST(SafeFileName, KeepsTheWholePathWithin206Characters) {
  TestPool pool;
  std::string folder(99, 'f');
  std::string fits(206 - 100 - 4, 'n');  // folder + "/" + name + ".mp3" = 206
  EXPECT_EQ(std::string(safe_file_name(pool, fits.c_str(), folder.c_str(), ".mp3")),
            folder + "/" + fits + ".mp3");
  std::string name = "head" + std::string(150, 'n') + "tail";
  char md5[33];
  ASSERT_EQ(common_md5_hex(md5, name.data(), name.size()), 0);
  std::string result = safe_file_name(pool, name.c_str(), folder.c_str(), ".mp3");
  EXPECT_EQ(result.size(), 206u);
  EXPECT_EQ(result.substr(0, 100 + 32), folder + "/" + md5);
  EXPECT_EQ(result.substr(result.size() - 8), "tail.mp3")
      << "the name loses its head, not its tail";
}

TEST(SafeFileName, RefusesFoldersWithoutRoom) {
  TestPool pool;
  LogCapture log;
  std::string folder(204, 'f');
  EXPECT_EQ(safe_file_name(pool, "x", folder.c_str(), ".mp3"), nullptr);
  EXPECT_EQ(log.count("Common", 3, INTERNAL_ERROR_TEXT), 1);
  std::string crowded(190, 'f');
  std::string long_name(40, 'n');
  EXPECT_EQ(safe_file_name(pool, long_name.c_str(), crowded.c_str(), nullptr), nullptr)
      << "a cut name needs room for its 32-digit digest";
  EXPECT_NE(safe_file_name(pool, "short", crowded.c_str(), nullptr), nullptr);
}

TEST(SafeFileName, NamesThatAreNotUtf8ReadInTheSystemEncoding) {
  TestPool pool;
  {
    ScopedLocale latin1("C");
    EXPECT_STREQ(safe_file_name(pool, "caf\xE9", "/dl", nullptr), "/dl/caf\xC3\xA9");
  }
  // In a UTF-8 locale the bytes cannot convert: the name's digest stands in.
  ScopedLocale utf8("C.UTF-8");
  char md5[33];
  ASSERT_EQ(common_md5_hex(md5, "caf\xE9", 4), 0);
  EXPECT_EQ(std::string(safe_file_name(pool, "caf\xE9", "/dl", nullptr)),
            std::string("/dl/") + md5);
}

TEST(PropertyString, PairsWithCanonicalKeys) {
  TestPool pool;
  apr_hash_t *hash = apr_hash_make(pool);
  ASSERT_EQ(property_string_parse(pool, "a=1&amp;B/./c=x=y&flag", hash), 0);
  EXPECT_STREQ(static_cast<const char *>(apr_hash_get(hash, "a", APR_HASH_KEY_STRING)), "1");
  EXPECT_STREQ(static_cast<const char *>(
                   apr_hash_get(hash, path_canonical(pool, "B/c"), APR_HASH_KEY_STRING)),
               "x=y");
  EXPECT_STREQ(static_cast<const char *>(apr_hash_get(hash, "flag", APR_HASH_KEY_STRING)), "");
}

TEST(PropertyString, PairOfOnlyEqualsFails) {
  TestPool pool;
  LogCapture log;
  apr_hash_t *hash = apr_hash_make(pool);
  EXPECT_EQ(property_string_parse(pool, "a=1&==", hash), APR_EGENERAL);
  EXPECT_EQ(log.count("Common", 3, "illegal property structure: '==' in 'a=1&=='"), 1);
}

TEST(Drives, RootListedInCanonicalForm) {
  TestPool pool;
  int count = 0;
  const char **drives = nullptr;
  ASSERT_EQ(drive_list(pool, &count, &drives), 0);
  ASSERT_EQ(count, 1);
  EXPECT_STREQ(drives[0], "/");
}

}  // namespace
