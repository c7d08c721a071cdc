// The inotify watches of shared folders (recursion, the limit, moves out of
// the tree) and the JSON strings of the web page.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "WatchTree.h"
#include "WebPage.h"

namespace {

namespace fs = std::filesystem;

class WatchTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/watchtree-XXXXXX";
    top_ = mkdtemp(pattern);
    for (const char *folder : {"a/b/c", "a/d", "e"}) fs::create_directories(top_ + "/" + folder);
    fs::create_symlink(top_ + "/e", top_ + "/a/link");
  }
  void TearDown() override {
    watch_tree_close(tree_);
    fs::remove_all(top_);
  }
  std::set<std::string> watched() const {
    std::set<std::string> paths;
    for (const auto &[wd, path] : tree_.paths) paths.insert(path.substr(top_.size()));
    return paths;
  }

  std::string top_;
  WatchTree tree_;
};

TEST_F(WatchTreeTest, WatchesEveryFolderBelowButNotSymbolicLinks) {
  ASSERT_TRUE(watch_tree_open(tree_, 0));
  EXPECT_EQ(watch_tree_add(tree_, top_ + "/a"), WatchAdd::added);
  EXPECT_EQ(watched(), (std::set<std::string>{"/a", "/a/b", "/a/b/c", "/a/d"}));
  watch_tree_remove(tree_, top_ + "/a/b");
  EXPECT_EQ(watched(), (std::set<std::string>{"/a", "/a/d"}));
  EXPECT_EQ(watch_tree_add(tree_, top_ + "/missing"), WatchAdd::failed);
}

TEST_F(WatchTreeTest, StopsAtTheLimit) {
  ASSERT_TRUE(watch_tree_open(tree_, 3));
  EXPECT_EQ(watch_tree_add(tree_, top_ + "/a"), WatchAdd::limit);
  EXPECT_EQ(tree_.paths.size(), 3u);
  EXPECT_EQ(watch_tree_add(tree_, top_ + "/e"), WatchAdd::limit);
}

TEST_F(WatchTreeTest, ReportsTheEventsOfANewFolderOnceWatched) {
  ASSERT_TRUE(watch_tree_open(tree_, 0));
  ASSERT_EQ(watch_tree_add(tree_, top_ + "/e"), WatchAdd::added);
  fs::create_directories(top_ + "/e/new/deeper");
  ASSERT_EQ(watch_tree_add(tree_, top_ + "/e/new"), WatchAdd::added);
  std::ofstream(top_ + "/e/new/deeper/file") << "x";
  alignas(inotify_event) char buffer[4096];
  std::set<std::string> seen;
  for (ssize_t n; (n = read(tree_.fd, buffer, sizeof buffer)) > 0;) {
    for (ssize_t at = 0; at < n;) {
      const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
      if (const std::string *folder = watch_tree_path(tree_, event->wd); folder && event->len > 0) {
        seen.insert(folder->substr(top_.size()) + "/" + event->name);
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  EXPECT_TRUE(seen.count("/e/new")) << "the creation in the watched folder";
  EXPECT_TRUE(seen.count("/e/new/deeper/file")) << "a file written in the new folder's subfolder";
}

TEST(WatchTree, PathWithinAndLocalFileSystems) {
  const struct {
    const char *path, *folder;
    bool within;
  } cases[] = {{"/srv/media", "/srv/media", true},   {"/srv/media/a.mp3", "/srv/media", true},
               {"/srv/media2/a.mp3", "/srv/media", false}, {"/srv", "/srv/media", false},
               {"/anything", "/", true}};
  for (const auto &c : cases) EXPECT_EQ(path_within(c.path, c.folder), c.within) << c.path << " in " << c.folder;
  EXPECT_EQ(watch_tree_unreported_fs("/tmp"), nullptr) << "a local file system reports its changes";
}

TEST(WebPage, JsonStringsAreInertText) {
  const struct {
    std::string text, json;
  } cases[] = {
      {"plain", "\"plain\""},
      {"say \"hi\" \\ bye", "\"say \\\"hi\\\" \\\\ bye\""},
      {"</script><script>alert(1)</script>", "\"\\u003c/script\\u003e\\u003cscript\\u003ealert(1)\\u003c/script\\u003e\""},
      {"a & b\n\t\x01", "\"a \\u0026 b\\u000a\\u0009\\u0001\""},
      {"caf\xc3\xa9", "\"caf\xc3\xa9\""},
  };
  for (const auto &c : cases) EXPECT_EQ(json_string(c.text), c.json) << c.text;
}

}  // namespace
