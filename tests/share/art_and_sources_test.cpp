// Album art pairs and album-specific names; unsharing; refresh of all
// sources in the library's order; listing.
#include <filesystem>

#include "MSMediaScanAlbumArt.h"
#include "ShareFixture.h"

namespace {

class AlbumArtNames : public ::testing::Test {};

TEST_F(AlbumArtNames, NamesAreAlbumArtIgnoringCase) {
  for (const char *name : {"folder.jpg", "Folder.JPG", "cover.JPG", "albumartsmall.gif", "AlbumArt.My Album.jpg",
                           "albumart_{abc}_large.jpg", "thumb.gif"}) {
    EXPECT_TRUE(msms_is_album_art(name)) << name;
  }
  for (const char *name : {"cover.gif", "albumart.x.gif", "folder.png", "holiday.jpg", "folder", "folder.jpg.txt"}) {
    EXPECT_FALSE(msms_is_album_art(name)) << name;
  }
}

TEST_F(AlbumArtNames, AlbumKeyReplacesWhatFileNamesCannotHold) {
  TestPool pool;
  EXPECT_STREQ(msms_album_key(pool, "AC/DC: \"Live\" <1992>?*|\\"), "ac-dc- 'live' (1992)___-");
}

// A folder's listing handed over by the walk stands for reading the folder:
// this one is nowhere on disk.
TEST_F(AlbumArtNames, ListingGivenByTheWalkIsUsedForItsFolderOnly) {
  TestPool pool;
  apr_hash_t *cache = apr_hash_make(pool);
  const char *names[] = {"Folder.JPG", "01 Song.mp3", "AlbumArt.Live.jpg", "notes.txt"};
  msms_art_cache_fill(cache, "/nowhere/Band", names, 4);
  const char *other[] = {"folder.jpg"};
  msms_art_cache_fill(cache, "/nowhere/Band/", other, 1);  // already listed: kept as it was
  AlbumArt art = msms_find_album_art(pool, cache, "/nowhere/Band/01 Song.mp3", "Live", nullptr);
  EXPECT_STREQ(art.large, "file:///nowhere/Band/AlbumArt.Live.jpg");
  EXPECT_EQ(art.small, nullptr);
  art = msms_find_album_art(pool, cache, "/nowhere/Band/02 Other.mp3", "Studio", nullptr);
  EXPECT_STREQ(art.large, "file:///nowhere/Band/Folder.JPG");
  art = msms_find_album_art(pool, cache, "/nowhere/Band/Live/01 Song.mp3", "Live", nullptr);
  EXPECT_EQ(art.large, nullptr);
}

class AlbumArt : public ShareTest {};

TEST_F(AlbumArt, FolderPairGivesBothArtsToEveryTrackAndItsAlbum) {
  const std::string a = mp3("x/a.mp3", "A", "Artist", "Pairs", 1);
  const std::string b = mp3("x/b.mp3", "B", "Artist", "Pairs", 2);
  const std::string large = jpg("x/folder.jpg");
  const std::string small = jpg("x/AlbumArtSmall.jpg");
  ASSERT_EQ(scan(share(media_)).status, 0);
  for (const std::string &track : {a, b}) {
    EXPECT_EQ(prop(item(track), "zentoria:artLarge"), "file://" + large);
  }
  // Names match ignoring case, even on a case-sensitive file system.
  EXPECT_EQ(prop(item(a), "zentoria:artSmall"), "file://" + small);
  EXPECT_EQ(item(large), "");
  EXPECT_EQ(item(small), "");
  // and the album's containers in the views
  EXPECT_GT(count("select count(*) from prop join propName on propName.oid=prop.nameOid join propValue on "
                  "propValue.oid=prop.valueOid where propName.name='zentoria:artLarge' and propValue.value='file://" +
                  large + "' and prop.objectOid not in (" + item(a) + "," + item(b) + ")"),
            0);
}

TEST_F(AlbumArt, AlbumSpecificNameWinsOverTheFixedNames) {
  const std::string track = mp3("y/t.mp3", "T", "Artist", "My Album", 1);
  const std::string own = jpg("y/albumart.my album.jpg");
  jpg("y/folder.jpg");
  ASSERT_EQ(scan(share(media_)).status, 0);
  EXPECT_EQ(prop(item(track), "zentoria:artLarge"), "file://" + own);
  EXPECT_EQ(prop(item(track), "zentoria:artSmall"), "");
}

TEST_F(AlbumArt, TrackWithoutAlbumStillGetsFolderJpgAndLaterArtReachesUpToDateItems) {
  const std::string track = mp3("z/t.mp3", "T");
  const std::string source = share(media_);
  ASSERT_EQ(scan(source).status, 0);
  EXPECT_EQ(prop(item(track), "zentoria:artLarge"), "");
  const std::string cover = jpg("z/folder.jpg");
  ScanCounts counts = scan(source);
  ASSERT_EQ(counts.status, 0);
  EXPECT_EQ(counts.added, 0);
  EXPECT_EQ(prop(item(track), "zentoria:artLarge"), "file://" + cover);
  EXPECT_TRUE(log_.contains("Audio file up to date, but album art changed. Modifying. File: " + track));
}

TEST_F(AlbumArt, UpperCaseCoverIsArtNotAPhotoAndReachesTheTrack) {
  const std::string cover = jpg("w/cover.JPG");
  const std::string track = mp3("w/t.mp3", "T", "Artist", "Album", 1);
  const std::string source = share(media_);
  ASSERT_EQ(scan(source).status, 0);
  EXPECT_EQ(item(cover), "");
  EXPECT_EQ(items_of(source), 1);
  EXPECT_EQ(prop(item(track), "zentoria:artLarge"), "file://" + cover);
}

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

TEST_F(Sources, RefreshAllTakesFilesBeforeFoldersAndSkipsVanishedSources) {
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
  ASSERT_EQ(msms_refresh_all(&added, &removed, nullptr, nullptr), 0);
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

TEST_F(Sources, RefreshAllGoesOnPastUrlSourcesItCannotFetchYet) {
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
  EXPECT_EQ(msms_refresh_all(&added, &removed, nullptr, nullptr), 0);
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

}  // namespace
