// Files, folders, lock files held across processes, text-file readers, byte
// order marks, content sniffing and child processes.
#include <gtest/gtest.h>

#include <apr_file_io.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "CommonFiles.h"
#include "CommonProcess.h"
#include "CommonTextFile.h"
#include "LogCapture.h"

namespace {

apr_file_t *open_read(apr_pool_t *pool, const std::string &path) {
  apr_file_t *file = nullptr;
  EXPECT_EQ(apr_file_open(&file, path.c_str(), APR_FOPEN_READ | APR_FOPEN_BINARY,
                          APR_FPROT_OS_DEFAULT, pool),
            0);
  return file;
}

// All lines text_read_line gives for content, with the given buffer size.
std::vector<std::string> read_lines(const std::string &content, int size, int skip) {
  TestPool pool;
  TempDir dir;
  write_file(dir.file("t.txt"), content);
  apr_file_t *file = open_read(pool, dir.file("t.txt"));
  std::vector<std::string> lines;
  std::vector<char> buffer(static_cast<std::size_t>(size));
  while (text_read_line(file, buffer.data(), size, skip)) lines.emplace_back(buffer.data());
  return lines;
}

using Lines = std::vector<std::string>;

TEST(FileQuestions, ExistsStatAndSizes) {
  TestPool apr;  // the helpers make pools of their own
  TempDir dir;
  write_file(dir.file("a.bin"), "12345");
  ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0700), 0);
  write_file(dir.file("sub/b.bin"), "123");
  EXPECT_EQ(file_exists(dir.file("a.bin").c_str()), 1);
  EXPECT_EQ(file_exists(dir.file("none").c_str()), 0);
  apr_off_t size = 0;
  apr_time_t mtime = 0;
  EXPECT_EQ(file_stat(dir.file("a.bin").c_str(), &size, &mtime), 0);
  EXPECT_EQ(size, 5);
  EXPECT_GT(mtime, 0);
  EXPECT_EQ(file_size(dir.file("a.bin").c_str()), 5);
  EXPECT_EQ(path_size(dir.path().c_str(), 0), 5);
  EXPECT_EQ(path_size(dir.path().c_str(), 1), 8);
  EXPECT_EQ(path_size(dir.file("a.bin").c_str(), 0), 5);
}

TEST(FileQuestions, FoldersAndMissingPathsAreReported) {
  TestPool apr;  // the helpers make pools of their own
  TempDir dir;
  LogCapture log;
  apr_off_t size = 7;
  apr_time_t mtime = 0;
  EXPECT_EQ(file_stat(dir.path().c_str(), &size, &mtime), APR_ENODIR);
  EXPECT_EQ(log.count("Common", 2, dir.path() + " is not a regular file (maybe it is a folder)"),
            1);
  EXPECT_EQ(size, 7);
  EXPECT_EQ(file_stat(dir.file("none").c_str(), &size, &mtime), APR_EGENERAL);
  EXPECT_EQ(file_size(dir.path().c_str()), 0);
  EXPECT_EQ(path_size(dir.file("none").c_str(), 1), 0);
  EXPECT_EQ(log.count("Common", 3, dir.file("none") + " is neither a file nor a folder"), 1);
  EXPECT_EQ(path_drive_letter("d:\\x"), 'd');
  EXPECT_EQ(path_drive_letter("/x"), 0);
  EXPECT_EQ(log.count("Common", 3, "Default path has no drive letter"), 1);
}

TEST(FileReadAll, ReadsUpToTheGivenSize) {
  TestPool apr;  // the helpers make pools of their own
  TempDir dir;
  write_file(dir.file("f"), "hello world");
  char buffer[64];
  std::size_t size = 5;
  ASSERT_EQ(file_read_all(dir.file("f").c_str(), buffer, &size), 0);
  EXPECT_EQ(std::string(buffer, size), "hello");
  size = sizeof buffer;
  ASSERT_EQ(file_read_all(dir.file("f").c_str(), buffer, &size), 0);
  EXPECT_EQ(size, 11u);
  LogCapture log;
  EXPECT_NE(file_read_all(dir.file("none").c_str(), buffer, &size), 0);
  EXPECT_TRUE(log.contains("Unable to open file (" + dir.file("none") + ") for reading, reason: "));
}

TEST(LockFile, SecondAcquireInThisProcessFails) {
  TestPool pool;
  TempDir dir;
  std::string path = dir.file("zentoria.ZentoriaMediaLibLock");
  apr_file_t *held = nullptr;
  ASSERT_EQ(lock_file_acquire(pool, path.c_str(), &held), 0);
  LogCapture log;
  apr_file_t *other = nullptr;
  EXPECT_NE(lock_file_acquire(pool, path.c_str(), &other), 0);
  EXPECT_TRUE(log.contains("Unable to lock file (" + path + "), reason: "));
  EXPECT_EQ(lock_file_release(held), 0);
  ASSERT_EQ(lock_file_acquire(pool, path.c_str(), &other), 0);
  EXPECT_EQ(lock_file_release(other), 0);
}

TEST(LockFile, HeldLockMakesAnotherProcessFailAtOnce) {
  TestPool pool;
  TempDir dir;
  std::string path = dir.file("lock");
  apr_file_t *held = nullptr;
  ASSERT_EQ(lock_file_acquire(pool, path.c_str(), &held), 0);
  // The child exits 0 when it got the lock, 1 when it was refused; an alarm
  // kills it should the lock wait instead of failing.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(5);
    apr_pool_t *child_pool = nullptr;
    apr_pool_create(&child_pool, nullptr);
    apr_file_t *file = nullptr;
    _exit(lock_file_acquire(child_pool, path.c_str(), &file) == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child waited for the lock";
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(lock_file_release(held), 0);
}

TEST(TextReadLine, LineEndsOfEveryKind) {
  EXPECT_EQ(read_lines("a\nb\r\nc\rd", 64, 0), (Lines{"a", "b", "c", "d"}));
  EXPECT_EQ(read_lines("a\n\nb\n", 64, 0), (Lines{"a", "", "b"}));
  EXPECT_EQ(read_lines("", 64, 0), Lines{});
}

TEST(TextReadLine, SkipFlagAbsorbsBlankLinesIntoTheNextLine) {
  EXPECT_EQ(read_lines("a\n\n \r\nb\n", 64, 1), (Lines{"a", "\n \r\nb"}));
  EXPECT_EQ(read_lines("\n\n", 64, 1), (Lines{"\n\n"}));
}

TEST(TextReadLine, LongLineIsCutAndContinues) {
  LogCapture log;
  EXPECT_EQ(read_lines("abcdefg\nxy\n", 4, 0), (Lines{"abc", "def", "g", "xy"}));
  EXPECT_EQ(log.count("Common", 3, "Line is too long, only first 4 characters were processed"), 2);
  log.clear();
  EXPECT_EQ(read_lines("abc\nxy", 4, 0), (Lines{"abc", "xy"})) << "a line that just fits";
  EXPECT_EQ(log.events().size(), 0u);
}

TEST(TextReadBlock, ParagraphsSeparatedByBlankLines) {
  TestPool pool;
  TempDir dir;
  write_file(dir.file("t"), "\n\nTitle: x\r\nLength: 3\n\n  \nnext\n");
  apr_file_t *file = open_read(pool, dir.file("t"));
  char buffer[128];
  ASSERT_EQ(text_read_block(file, buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "Title: x\nLength: 3");
  ASSERT_EQ(text_read_block(file, buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "next");
  EXPECT_EQ(text_read_block(file, buffer, sizeof buffer), 0);
}

struct BomCase {
  std::string bytes;
  const char *encoding;
  std::string pending;
  std::string rest;
};

TEST(ByteOrderMark, CompleteAndPartialMarks) {
  const BomCase cases[] = {
      {"\xEF\xBB\xBFhi", "utf-8", "", "hi"},   {"\xFF\xFEh", "utf-16", "", "h"},
      {"\xFE\xFFh", "utf-16be", "", "h"},      {"plain", nullptr, "", "plain"},
      {"\xEF\xBBX", nullptr, "\xEF\xBB", "X"}, {"\xEFX", nullptr, "\xEF", "X"},
      {"\xFFX", nullptr, "\xFF", "X"},         {"\xFE", nullptr, "\xFE", ""},
  };
  for (const BomCase &c : cases) {
    TestPool pool;
    TempDir dir;
    write_file(dir.file("t"), c.bytes);
    apr_file_t *file = open_read(pool, dir.file("t"));
    const char *encoding = "unset";
    const char *pending = "unset";
    ASSERT_EQ(text_detect_bom(file, &encoding, &pending), 0) << c.bytes;
    EXPECT_STREQ(encoding, c.encoding) << c.bytes;
    EXPECT_EQ(pending != nullptr ? std::string(pending) : "", c.pending) << c.bytes;
    char rest[16] = {};
    apr_size_t length = sizeof rest - 1;
    apr_file_read(file, rest, &length);
    EXPECT_EQ(std::string(rest), c.rest) << c.bytes;
  }
}

TEST(ByteOrderMark, EmptyFileIsEndOfFile) {
  TestPool pool;
  TempDir dir;
  write_file(dir.file("t"), "");
  apr_file_t *file = open_read(pool, dir.file("t"));
  const char *encoding = nullptr;
  const char *pending = nullptr;
  EXPECT_EQ(text_detect_bom(file, &encoding, &pending), APR_EOF);
}

TEST(Sniffing, HtmlAndPlaylistMarks) {
  std::string page = "  <!doctype HTML><html>";
  EXPECT_EQ(text_is_html(page.data(), page.size(), 0, 1), 1);
  std::string late = std::string(250, ' ') + "<html>";
  EXPECT_EQ(text_is_html(late.data(), late.size(), 0, 0), 0) << "only 200 bytes without whole";
  EXPECT_EQ(text_is_html(late.data(), late.size(), 1, 0), 1);
  std::string binary = std::string("\x01\x02junk", 6) + "<rss version='2.0'>";
  EXPECT_EQ(text_is_playlist_xml(binary.data(), binary.size(), 0, 0), 1);
  EXPECT_EQ(text_is_playlist_xml(binary.data(), binary.size(), 0, 1), 0)
      << "strict wants text before";
  std::string smil = "<?xml version='1.0'?>\n<SMIL>";
  EXPECT_EQ(text_is_playlist_xml(smil.data(), smil.size(), 0, 1), 1);
}

TEST(Sniffing, FeedLinkOfAPage) {
  TestPool pool;
  const char *page =
      "<head><link rel='stylesheet' type='text/css' href='s.css'>"
      "<LINK REL=\"Alternate\" TYPE=\"application/atom+xml\" href=\"atom.xml\">"
      "<link rel=\"alternate\" type='APPLICATION/RSS+XML' title='x' href=\"/feed.rss\"></head>";
  EXPECT_STREQ(html_find_feed_link(pool, page), "/feed.rss");
  EXPECT_EQ(html_find_feed_link(pool, "<link rel='alternate' href='x'>"), nullptr);
}

TEST(Processes, RunWaitAndPoll) {
  TestPool pool;
  TempDir dir;
  const char *args[] = {"sh", "-c", "pwd > where.txt; exit 3", nullptr};
  int code = -1;
  ASSERT_NE(process_run(pool, "sh", args, dir.path().c_str(), 1, &code), nullptr);
  EXPECT_EQ(code, 3);
  EXPECT_EQ(read_file(dir.file("where.txt")), dir.path() + "\n");
  const char *sleeper[] = {"sleep", "1", nullptr};
  EXPECT_EQ(process_run_simple("sleep", sleeper, nullptr, 0), 0) << "still running is a success";
  const char *exit_five[] = {"sh", "-c", "exit 5", nullptr};
  EXPECT_EQ(process_run_simple("sh", exit_five, nullptr, 1), 5);
  LogCapture log;
  EXPECT_EQ(process_run_simple("/no/such/program", nullptr, nullptr, 1), -1);
  EXPECT_EQ(log.count("Common", 3, "Could not create process"), 1);
}

}  // namespace
