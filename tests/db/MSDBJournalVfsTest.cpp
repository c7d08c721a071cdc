// Journal writes held back in memory must never let a database page reach
// the file before the old contents it replaces are in the journal: a
// transaction that does not finish, because its process was killed or the
// disk filled, leaves the database as of its last commit, even when SQLite
// had written changed pages to the database file (a page cache of a few
// pages spills them).
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>

#include "LogCapture.h"
#include "MSDBConnection.h"

namespace {

sqlite3 *open_database(const std::string &path) {
  sqlite3 *db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "PRAGMA synchronous = OFF; PRAGMA cache_size = 8", nullptr, nullptr, nullptr);
  return db;
}

std::string answer(sqlite3 *db, const char *sql) {
  sqlite3_stmt *statement = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) return sqlite3_errmsg(db);
  std::string text;
  if (sqlite3_step(statement) == SQLITE_ROW) {
    for (int i = 0; i < sqlite3_column_count(statement); ++i) {
      const unsigned char *value = sqlite3_column_text(statement, i);
      text += std::string(value != nullptr ? reinterpret_cast<const char *>(value) : "null") + "|";
    }
  }
  sqlite3_finalize(statement);
  return text;
}

std::string contents(sqlite3 *db) {
  return answer(db, "select count(*), sum(length(v)), sum(unicode(v)), max(v) from t") +
         answer(db, "PRAGMA integrity_check");
}

std::string file_bytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Changes every page of the table, in place.
constexpr const char *kChange = "BEGIN; UPDATE t SET v = upper(v)";

// The bytes free on the file system of path's folder.
unsigned long free_bytes(const std::string &path) {
  struct statvfs disk {};
  EXPECT_EQ(statvfs(std::filesystem::path(path).parent_path().c_str(), &disk), 0);
  return disk.f_bavail * disk.f_frsize;
}

// A transaction that spills pages to the database file and grows it, on a
// disk filled to leave more and more room: wherever the disk fills, in the
// journal or in the pages, it fails and leaves the last commit. The first
// that has room commits, and is undone by hand.
void change_and_grow_on_a_filling_disk(const std::string &path) {
  const std::string bytes = file_bytes(path);
  sqlite3 *db = open_database(path);
  const std::string before = contents(db);
  sqlite3_close(db);
  const std::string filler = std::filesystem::path(path).parent_path() / "filler";
  const unsigned long free_at_start = free_bytes(path);
  for (unsigned long room = 8 * 1024; room < free_at_start; room += 8 * 1024) {
    SCOPED_TRACE(room);
    std::ofstream(filler, std::ios::binary) << std::string(free_bytes(path) - room, 'x');
    db = open_database(path);
    sqlite3_exec(db, "PRAGMA cache_size = 24", nullptr, nullptr, nullptr);
    const int rc = sqlite3_exec(db,
                                "BEGIN; UPDATE t SET v = upper(v) WHERE k % 100 = 0;"
                                "INSERT INTO t SELECT k + 100000, v FROM t WHERE k <= 400; COMMIT",
                                nullptr, nullptr, nullptr);
    sqlite3_close(db);
    std::filesystem::remove(filler);
    if (rc == SQLITE_OK) {
      std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
      return;
    }
    ASSERT_EQ(rc, SQLITE_FULL);
    db = open_database(path);
    const std::string after = contents(db);
    sqlite3_close(db);
    ASSERT_EQ(after, before);
  }
}

}  // namespace

TEST(JournalVfsTest, AnUnfinishedTransactionLeavesTheLastCommit) {
  msdb_sqlite_configure();
  struct Case {
    const char *name;
    bool small_disk;
    // Runs the transaction that does not finish, on a closed database.
    std::function<void(const std::string &path)> unfinished;
  };
  const Case cases[] = {
      {"killed in the middle", false,
       [](const std::string &path) {
         const pid_t child = fork();
         if (child == 0) {
           sqlite3 *db = open_database(path);
           if (sqlite3_exec(db, kChange, nullptr, nullptr, nullptr) == SQLITE_OK) raise(SIGKILL);
           _exit(1);
         }
         int status = 0;
         ASSERT_EQ(waitpid(child, &status, 0), child);
         ASSERT_TRUE(WIFSIGNALED(status)) << "the change failed";
       }},
      {"disk full", true,
       [](const std::string &path) {
         sqlite3 *db = open_database(path);
         int rc = sqlite3_exec(db, kChange, nullptr, nullptr, nullptr);
         if (rc == SQLITE_OK) rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
         EXPECT_EQ(rc, SQLITE_FULL);
         sqlite3_close(db);
       }},
      {"disk full at any point of commits that grow the file", true, change_and_grow_on_a_filling_disk},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::string folder = dir.path();
    if (c.small_disk) {
      folder = dir.file("small");
      std::filesystem::create_directories(folder);
      // Room for the table, not for its journal as well.
      if (mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=640k") != 0) {
        std::cout << "cannot mount a small tmpfs here\n";
        continue;
      }
    }
    const std::string path = folder + "/library.db";
    sqlite3 *db = open_database(path);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE t(k INTEGER PRIMARY KEY, v TEXT);"
                           "WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < 2000) "
                           "INSERT INTO t SELECT k, lower(hex(randomblob(100))) FROM n",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const std::string before = contents(db);
    sqlite3_close(db);
    const std::string bytes_before = file_bytes(path);

    c.unfinished(path);
    if (!c.small_disk) {
      EXPECT_NE(file_bytes(path), bytes_before) << "no changed page reached the database file";
    }
    db = open_database(path);
    EXPECT_EQ(contents(db), before);
    sqlite3_close(db);
    if (c.small_disk) umount(folder.c_str());
  }
}
