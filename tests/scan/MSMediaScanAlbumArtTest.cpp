// Album art pairs and album-specific names.
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

// The art found for one track is kept for the next of the same album in the
// same folder; another album, a GUID or a missing album asks again.
TEST_F(AlbumArtNames, ArtKeptForAnAlbumIsNotGivenToAnother) {
  TestPool pool;
  apr_hash_t *cache = apr_hash_make(pool);
  const char *names[] = {"folder.jpg", "AlbumArt.Live.jpg", "AlbumArt_{G1}_Small.jpg", "albumart.1.jpg"};
  msms_art_cache_fill(cache, "/nowhere/Mixed", names, 4);
  const auto large = [&](const char *album, const char *guid) {
    const char *url = msms_find_album_art(pool, cache, "/nowhere/Mixed/t.mp3", album, guid).large;
    return std::string(url != nullptr ? url : "-");
  };
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_EQ(large("Live", nullptr), "file:///nowhere/Mixed/AlbumArt.Live.jpg");
    EXPECT_EQ(large("Studio", nullptr), "file:///nowhere/Mixed/folder.jpg");
    EXPECT_EQ(large("1", nullptr), "file:///nowhere/Mixed/albumart.1.jpg");
    EXPECT_EQ(large(nullptr, "1"), "file:///nowhere/Mixed/folder.jpg");
    EXPECT_EQ(large("", nullptr), "file:///nowhere/Mixed/folder.jpg");
    EXPECT_STREQ(msms_find_album_art(pool, cache, "/nowhere/Mixed/t.mp3", "Studio", "g1").small,
                 "file:///nowhere/Mixed/AlbumArt_{G1}_Small.jpg");
  }
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

}  // namespace
