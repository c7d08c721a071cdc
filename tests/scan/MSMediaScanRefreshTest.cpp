// Unsharing; refresh of all sources in the library's order; listing.
#include <filesystem>

#include "DbColumn.h"
#include "ShareFixture.h"

namespace {

class Sources : public ShareTest {};

TEST_F(Sources, UnshareLeavesNoObjectOfTheSourceAndNoEmptyContainer) {
  const int skeleton = count("select count(*) from object");
  mp3("u/a.mp3", "A", "Someone", "Something", 1);
  jpg("u/pic.jpg");
  video("u/v.mp4");
  const std::string source = share(media_);
  ASSERT_EQ(scan(source).status, 0);
  ASSERT_GT(count("select count(*) from object"), skeleton + 3);
  ASSERT_EQ(msms_remove_media_source(pool_, media_.c_str(), 1, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(count("select count(*) from objms where sourceOid=" + source), 0);
  EXPECT_LE(count("select count(*) from object"), skeleton);
  EXPECT_EQ(count("select count(*) from prop join propName on propName.oid=prop.nameOid join propValue on "
                  "propValue.oid=prop.valueOid where propName.name='dc:title' and propValue.value in "
                  "('Someone','Something','/u')"),
            0);
  MediaSource gone{};
  EXPECT_EQ(msms_find_media_source(pool_, media_.c_str(), &gone), nullptr);
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(Sources, UnshareOfAnUnknownOrEmptyUrlFails) {
  EXPECT_NE(msms_remove_media_source(pool_, "/not/shared", 1, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(log_.count("MSMediaScan", 2, "Could not find the media source"), 1);
  EXPECT_NE(msms_remove_media_source(pool_, "", 1, nullptr, nullptr, nullptr), 0);
  EXPECT_TRUE(log_.contains("Invalid media source url"));
}

TEST_F(Sources, RefreshAllTakesFilesBeforeFoldersAndNamesVanishedSourcesAsFailures) {
  const std::string file = mp3("one/file.mp3", "File");
  mp3("two/a.mp3", "A");
  const std::string gone = media_ + "/gone";
  std::filesystem::create_directories(gone);
  ASSERT_FALSE(share(media_ + "/two").empty());
  ASSERT_FALSE(share(gone).empty());
  ASSERT_FALSE(share(file).empty());
  std::filesystem::remove(gone);
  log_.clear();
  int added = -1, removed = -1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(msms_refresh_all(&added, &removed, nullptr, nullptr), 20014);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("\nCould not refresh " + gone + "\n"), std::string::npos);
  EXPECT_EQ(added, 2);
  EXPECT_EQ(removed, 0);
  std::vector<std::string> order;
  for (const LoggedEvent &event : log_.events()) {
    if (event.message.rfind("Refreshing Media Source", 0) == 0) order.push_back(event.message);
  }
  ASSERT_EQ(order.size(), 3u);
  EXPECT_EQ(order[0], "Refreshing Media Source \"" + file + "\"");
  EXPECT_TRUE(log_.contains("Path " + gone + " does not exist for existing media source, skipping..."));
  EXPECT_TRUE(log_.contains("Failed to refresh " + gone + ", skipping..."));
}

TEST_F(Sources, RefreshAllGoesOnPastUrlSourcesItCannotReach) {
  mp3("f/a.mp3", "A");
  ASSERT_FALSE(share(media_ + "/f").empty());
  MediaSource url{};
  url.name = "radio";
  url.type = "audurl";
  url.url = "http://127.0.0.1:9/stream.mp3";
  url.tags = "";
  url.is_public = 1;
  url.transcode_when = "";
  ASSERT_EQ(msdb_admin_begin(db_), 0);
  ASSERT_EQ(msdb_add_media_source(pool_, db_, &url), 0);
  ASSERT_EQ(msdb_admin_commit(db_), 0);
  int added = -1, removed = -1;
  EXPECT_EQ(msms_refresh_all(&added, &removed, nullptr, nullptr), 20014);
  EXPECT_EQ(added, 1);
  EXPECT_TRUE(log_.contains("Failed to refresh http://127.0.0.1:9/stream.mp3, skipping..."));
}

TEST_F(Sources, RefreshAllWithoutSourcesCountsNothing) {
  int added = -1, removed = -1;
  EXPECT_EQ(msms_refresh_all(&added, &removed, nullptr, nullptr), 0);
  EXPECT_EQ(added, 0);
  EXPECT_EQ(removed, 0);
}

TEST_F(Sources, ListPrintsEveryUrlOnItsOwnLine) {
  const std::string a = media_ + "/a";
  const std::string b = mp3("b.mp3", "B");
  std::filesystem::create_directories(a);
  ASSERT_FALSE(share(a).empty());
  ASSERT_FALSE(share(b).empty());
  testing::internal::CaptureStdout();
  EXPECT_EQ(msms_list_media_sources(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), b + "\n" + a + "\n");
}

// A library that cannot be written (a read-only file or folder) used to be
// refreshed "successfully": every source now fails, named on the console,
// and the run fails.
TEST_F(Sources, RefreshThatCannotWriteFailsAndNamesEachSource) {
  const std::string a = media_ + "/a", b = media_ + "/b";
  mp3("a/one.mp3", "One");
  mp3("b/two.mp3", "Two");
  ASSERT_FALSE(share(a).empty());
  ASSERT_FALSE(share(b).empty());
  DBThreadConnection *conn = msdb_thread_connection(db_);
  ASSERT_NE(conn, nullptr);
  ASSERT_EQ(db_exec(conn->medialib, "PRAGMA query_only = 1", nullptr), 0);
  int added = -1, removed = -1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(msms_refresh_all(&added, &removed, nullptr, nullptr), 20014);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("\nCould not refresh " + a + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\nCould not refresh " + b + "\n"), std::string::npos) << out;
  EXPECT_EQ(added, 0);
  ASSERT_EQ(db_exec(conn->medialib, "PRAGMA query_only = 0", nullptr), 0);
  EXPECT_EQ(msms_refresh_all(&added, &removed, nullptr, nullptr), 0);
  EXPECT_EQ(added, 2);
  EXPECT_EQ(mlcheck(), "");
}

}  // namespace
