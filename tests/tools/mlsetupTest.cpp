// mlsetup and mlcheck run as programs on a temporary installation folder.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "ProgramRun.h"

namespace {

struct Result {
  int status;
  std::string output;
};

// Runs the program without a shell, so that a temporary folder's name with
// spaces stays one argument; output holds what it printed on both streams.
Result run(const char *program, const std::vector<std::string> &args, const std::string &cwd) {
  ProgramResult ran = run_program(program, args, cwd);
  return {ran.status, ran.out + ran.err};
}

void sql(const std::string &path, const char *statement) {
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, statement, nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

}  // namespace

TEST(ToolsTest, SetupMakesACleanLibraryAndCheckFindsDamage) {
  TempDir dir;
  std::string install = dir.file("install");
  Result setup = run(MLSETUP_PATH, {install}, dir.path());
  ASSERT_EQ(setup.status, 0) << setup.output;
  for (const char *file : {"/config.xml", "/data/db/admin.db", "/data/medialib.db"}) {
    EXPECT_FALSE(read_file(install + file).empty()) << file;
  }
  Result check = run(MLCHECK_PATH, {}, install);
  EXPECT_EQ(check.status, 0) << check.output;
  sql(install + "/data/medialib.db", "delete from edge where objectOid=2");
  check = run(MLCHECK_PATH, {}, install);
  EXPECT_EQ(check.status, 1);
  EXPECT_NE(check.output.find("object 0: @childCount is 3 but it has 2 child edges"), std::string::npos) << check.output;
  EXPECT_NE(check.output.find("ancestor rows not backed by edges: 0 above 2 by path 0/"), std::string::npos);
}

TEST(ToolsTest, SetupRefusesAnExistingLibrary) {
  TempDir dir;
  std::string install = dir.file("install");
  ASSERT_EQ(run(MLSETUP_PATH, {install}, dir.path()).status, 0);
  std::string before = read_file(install + "/data/medialib.db");
  Result again = run(MLSETUP_PATH, {install}, dir.path());
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.output.find("already holds a library"), std::string::npos) << again.output;
  EXPECT_EQ(read_file(install + "/data/medialib.db"), before);
}

// A configuration mlsetup could not read left config.xml behind, so that
// the retry with a good one was refused as an existing library.
TEST(ToolsTest, SetupWithABadConfigurationLeftItBehind) {
  TempDir dir;
  write_file(dir.file("bad.xml"), "<configuration><unclosed>");
  const struct {
    const char *config;
    bool folder_existed;
  } cases[] = {{"bad.xml", false}, {"bad.xml", true}, {"missing.xml", false}};
  for (const auto &c : cases) {
    std::string install = dir.file("install");
    if (c.folder_existed) std::filesystem::create_directory(install);
    Result bad = run(MLSETUP_PATH, {install, dir.file(c.config)}, dir.path());
    EXPECT_EQ(bad.status, 1) << c.config;
    EXPECT_EQ(std::filesystem::exists(install), c.folder_existed) << c.config;
    if (c.folder_existed) {
      EXPECT_TRUE(std::filesystem::is_empty(install)) << c.config;
    }
    Result retry = run(MLSETUP_PATH, {install}, dir.path());
    EXPECT_EQ(retry.status, 0) << retry.output;
    std::filesystem::remove_all(install);
  }
}

TEST(ToolsTest, CheckOutsideAnInstallationFails) {
  TempDir dir;
  Result check = run(MLCHECK_PATH, {}, dir.path());
  EXPECT_EQ(check.status, 2) << check.output;
}

TEST(ToolsTest, SetupCreatesAccountSecretsForTheOwnerOnly) {
  TempDir dir;
  std::string install = dir.file("install");
  const mode_t old_mask = umask(022);
  Result setup = run(MLSETUP_PATH, {install}, dir.path());
  umask(old_mask);
  ASSERT_EQ(setup.status, 0) << setup.output;
  auto mode = [&](const char *path) {
    struct stat info {};
    EXPECT_EQ(stat((install + path).c_str(), &info), 0) << path;
    return info.st_mode & 0777;
  };
  EXPECT_EQ(mode("/data/db/admin.db"), 0600u);
  EXPECT_EQ(mode("/data/medialib.db"), 0600u);
  EXPECT_EQ(mode("/data"), 0700u);
  EXPECT_EQ(mode("/data/db"), 0700u);
}
