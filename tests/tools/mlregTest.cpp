// mlreg as a person uses it on a hive file: values set, read back and
// removed, and the registry's refusals reported with its status.
#include <apr_file_io.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "LogCapture.h"
#include "PlatformFileLock.h"
#include "PlatformRegistryHive.h"
#include "ProgramRun.h"

namespace {

TEST(Mlreg, SetGetAndDeleteThroughTheHiveFile) {
  TempDir dir;
  const std::string mlreg = built_program("tools/mlreg");
  const std::string hive = dir.file("HKEY_CLASSES_ROOT");
  const std::string key = "CLSID\\{1}\\InProcServer32";
  EXPECT_EQ(run_program(mlreg, {hive, "set", key, "", "/opt/lib & co.so"}, "/").status, 0);
  ProgramResult got = run_program(mlreg, {hive, "get", key}, "/");
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.out, "/opt/lib & co.so\n");

  ProgramResult refused = run_program(mlreg, {hive, "delete", "CLSID"}, "/");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("registry status 720005"), std::string::npos) << "a key with sub-keys";
  EXPECT_EQ(run_program(mlreg, {hive, "delete", key, ""}, "/").status, 0);
  EXPECT_EQ(run_program(mlreg, {hive, "get", key}, "/").status, 1);
  EXPECT_EQ(run_program(mlreg, {hive, "delete", key}, "/").status, 0);
  EXPECT_EQ(run_program(mlreg, {hive, "get", key}, "/").err,
            "mlreg: get " + key + ": registry status 720002\n");
  EXPECT_EQ(run_program(mlreg, {hive, "set", key}, "/").status, 2);
}

// A hive that was a link to /dev/zero was read until bad_alloc, a FIFO
// blocked the reader for ever, and a huge file was read whole.
TEST(Mlreg, HiveThatIsNoRegularFileWasReadForever) {
  TempDir dir;
  const std::string mlreg = built_program("tools/mlreg");
  const std::string hive = dir.file("HKEY_CLASSES_ROOT");
  const std::string key = "CLSID\\{1}\\InProcServer32";
  using Make = void (*)(const std::string &);
  const struct {
    const char *what;
    Make make;
  } cases[] = {
      {"link to /dev/zero", [](const std::string &path) { std::filesystem::create_symlink("/dev/zero", path); }},
      {"FIFO", [](const std::string &path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }},
      {"huge file", [](const std::string &path) {
         write_file(path, "ZentoriaRegistryHive 1\n");
         std::filesystem::resize_file(path, REG_HIVE_MAX_BYTES + 1);
       }},
  };
  for (const auto &c : cases) {
    c.make(hive);
    ProgramResult get = run_program(mlreg, {hive, "get", key}, "/");
    EXPECT_EQ(get.status, 1) << c.what;
    EXPECT_NE(get.err.find("registry status 721016"), std::string::npos) << c.what << get.err;
    EXPECT_EQ(get.err.find("log4cxx"), std::string::npos) << "run outside an installation: " << get.err;
    EXPECT_EQ(run_program(mlreg, {hive, "set", key, "", "/x.so"}, "/").status, 1) << c.what;
    std::filesystem::remove(hive);
  }
}

// The hive and its lock were made 0666 and 0644 whatever the umask, so that
// another user could rewrite a library path, or hold the lock and make every
// writer wait for ever.
TEST(Mlreg, HiveAndItsLockWereOpenToOtherUsers) {
  TempDir dir;
  const std::string mlreg = built_program("tools/mlreg");
  const std::string hive = dir.file("HKEY_CLASSES_ROOT");
  const std::string key = "CLSID\\{1}\\InProcServer32";
  const mode_t old_mask = umask(022);
  ProgramResult set = run_program(mlreg, {hive, "set", key, "", "/x.so"}, "/");
  umask(old_mask);
  ASSERT_EQ(set.status, 0) << set.err;
  for (const std::string &path : {hive, hive + ".lock"}) {
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0) << path;
    EXPECT_EQ(info.st_mode & 077, 0u) << path;
  }

  TestPool pool;
  apr_file_t *held = nullptr;
  ASSERT_EQ(apr_file_open(&held, (hive + ".lock").c_str(), APR_FOPEN_WRITE, APR_FPROT_OS_DEFAULT, pool), 0);
  ASSERT_EQ(platform_file_lock(held), 0);
  ProgramResult waited = run_program(mlreg, {hive, "set", key, "", "/y.so"}, "/");
  EXPECT_EQ(waited.status, 1);
  EXPECT_NE(waited.err.find("registry status 721016"), std::string::npos) << waited.err;
  platform_file_unlock(held);
  ProgramResult got = run_program(mlreg, {hive, "get", key}, "/");
  EXPECT_EQ(got.out, "/x.so\n");
}

}  // namespace
