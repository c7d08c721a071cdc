// The file cache: pruning to the budget oldest first, locked files, releases,
// files that cannot be deleted, and locking racing a cleanup pass. Files are
// sparse, so that a 120 MiB cache costs no disk.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <apr_file_io.h>
#include <apr_time.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CommonFileCache.h"
#include "CommonTimeout.h"
#include "LogCapture.h"

namespace fs = std::filesystem;

namespace {

constexpr apr_int64_t kMiB = 1048576;

class FileCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(timeout_init(pool_, nullptr, nullptr), 0);
    ASSERT_EQ(cache_init(pool_, 100 * kMiB, 80 * kMiB), 0);
    cache_add_folder(dir_.path().c_str());
    cache_set_observer(
        [](const char *const *paths, int count, void *self) {
          auto *seen = static_cast<std::set<std::string> *>(self);
          for (int i = 0; i < count; ++i) seen->insert(paths[i]);
        },
        &deleted_);
  }
  void TearDown() override {
    cache_term();
    timeout_stop();
  }
  // A sparse file of mib MiB last used age_seconds ago.
  std::string file(const std::string &name, int mib, int age_seconds) {
    std::string path = dir_.file(name);
    fs::create_directories(fs::path(path).parent_path());
    { std::ofstream touch(path); }
    fs::resize_file(path, static_cast<std::uintmax_t>(mib) * kMiB);
    apr_file_mtime_set(path.c_str(), apr_time_now() - apr_time_from_sec(age_seconds), pool_);
    return path;
  }
  std::set<std::string> present() {
    std::set<std::string> names;
    for (const auto &entry : fs::recursive_directory_iterator(dir_.path()))
      if (entry.is_regular_file()) names.insert(fs::relative(entry.path(), dir_.path()).string());
    return names;
  }

  TestPool pool_;
  TempDir dir_;
  LogCapture log_;
  std::set<std::string> deleted_;
};

TEST_F(FileCacheTest, PrunedOldestFirstToTheMinimum) {
  for (int i = 0; i < 6; ++i) file("f" + std::to_string(i), 20, 600 - i * 60);  // f0 is the oldest
  cache_cleanup();
  EXPECT_EQ(present(), (std::set<std::string>{"f2", "f3", "f4", "f5"})) << "120 MiB down to 80";
  EXPECT_EQ(deleted_, (std::set<std::string>{dir_.file("f0"), dir_.file("f1")}));
}

TEST_F(FileCacheTest, ACacheUnderItsMaximumIsLeftAlone) {
  for (int i = 0; i < 3; ++i) file("sub/f" + std::to_string(i), 30, 600 - i * 60);
  cache_cleanup();
  EXPECT_EQ(present().size(), 3u);
  EXPECT_TRUE(deleted_.empty());
}

TEST_F(FileCacheTest, ALockedFileIsNeverChosenEvenWhenOldest) {
  std::string oldest = file("oldest", 40, 6000);
  file("a", 40, 600);
  file("b", 40, 300);
  const char *locked[] = {oldest.c_str()};
  cache_lock(locked, 1);
  cache_lock(locked, 1);
  cache_cleanup();
  EXPECT_EQ(present(), (std::set<std::string>{"oldest", "b"}));
  cache_release(locked, 1);
  cache_set_limits(30 * kMiB, 0);
  cache_cleanup();
  EXPECT_EQ(present(), std::set<std::string>{"oldest"}) << "its second user still holds it";
  cache_release(locked, 1);
  cache_cleanup();
  EXPECT_EQ(present(), std::set<std::string>{}) << "released by both, it goes like any other";
}

TEST_F(FileCacheTest, ReleaseTouchesExistingFilesAndUnlocksMissingOnes) {
  std::string old = file("old", 1, 6000);
  std::string missing = dir_.file("missing");
  const char *paths[] = {old.c_str(), missing.c_str()};
  cache_lock(paths, 2);
  cache_release(paths, 2);
  apr_finfo_t info;
  ASSERT_EQ(apr_stat(&info, old.c_str(), APR_FINFO_MTIME, pool_), APR_SUCCESS);
  EXPECT_GT(info.mtime, apr_time_now() - apr_time_from_sec(60));
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_FALSE(log_.contains("Could not set the mtime"));
}

TEST_F(FileCacheTest, ASixthFolderIsIgnored) {
  for (int i = 0; i < 5; ++i) cache_add_folder(dir_.file("extra" + std::to_string(i)).c_str());
  EXPECT_EQ(log_.count("CommonFileCache", 3,
                       "Internal server error, unexpected software state encountered. It is recommended to close "
                       "the application."),
            1);
}

// Regression: a file the pass cannot delete was found as the oldest again and
// again, and the pass never ended.
TEST_F(FileCacheTest, UndeletableFileDoesNotStallThePass) {
  std::string stuck = file("stuck", 60, 6000);
  file("newer", 60, 60);
  bool immutable = std::system(("chattr +i '" + stuck + "' 2>/dev/null").c_str()) == 0;
  if (!immutable && geteuid() == 0) GTEST_SKIP() << "no way to make a file undeletable for root here";
  if (!immutable) chmod(dir_.path().c_str(), 0555);
  cache_cleanup();
  if (immutable)
    std::system(("chattr -i '" + stuck + "'").c_str());
  else
    chmod(dir_.path().c_str(), 0755);
  EXPECT_EQ(present(), std::set<std::string>{"stuck"}) << "the newer file went instead";
  EXPECT_TRUE(log_.contains("Could not delete cache file " + stuck));
}

TEST_F(FileCacheTest, LockedFilesSurviveConcurrentPasses) {
  cache_set_limits(1 * kMiB, 0);
  std::vector<std::string> files;
  for (int i = 0; i < 40; ++i) files.push_back(file("c" + std::to_string(i), 1, 1000 - i));
  std::atomic<bool> violated{false};
  std::vector<std::thread> lockers;
  for (int t = 0; t < 4; ++t)
    lockers.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round) {
        const std::string &path = files[static_cast<std::size_t>((t * 7 + round) % 40)];
        const char *p[] = {path.c_str()};
        cache_lock(p, 1);
        // A file present once it is locked must still be there later on.
        bool before = fs::exists(path);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (before && !fs::exists(path)) violated = true;
        cache_release(p, 1);
      }
    });
  for (int pass = 0; pass < 20; ++pass) cache_cleanup();
  for (std::thread &t : lockers) t.join();
  EXPECT_FALSE(violated.load()) << "a locked file was deleted";
}

}  // namespace
