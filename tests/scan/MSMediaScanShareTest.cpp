// Sharing and scanning folders end to end: first scan, rescans, replaced and
// deleted files, what never becomes an item, source kinds and tags.
#include <apr_strings.h>

#include <filesystem>

#include "MSDBURIProps.h"
#include "ShareFixture.h"

namespace {

class Scan : public ShareTest {
 protected:
  // An artist/album folder with two tracks and a cover, a photo, a video
  // with its subtitles, and files that are never items.
  void make_library() {
    track1_ = mp3("The Band/My Album/01 One.mp3", "Song One", "The Band", "My Album", 1);
    track2_ = mp3("The Band/My Album/02 Two.mp3", "Song Two", "The Band", "My Album", 2);
    cover_ = jpg("The Band/My Album/folder.jpg");
    photo_ = jpg("Holiday/beach.jpg", 40, 30);
    clip_ = video("Films/clip.mp4");
    text("Films/clip.srt", "1\n00:00:00,000 --> 00:00:01,000\nhello\n");
    text("Films/empty.mp3", "");
    text("Films/README", "no extension");
  }
  std::string track1_, track2_, cover_, photo_, clip_;
};

TEST_F(Scan, FirstScanCreatesOneItemPerMediaFileWithItsProperties) {
  make_library();
  const std::string source = share(media_);
  ASSERT_FALSE(source.empty());
  ScanCounts counts = scan(source);
  ASSERT_EQ(counts.status, 0);
  EXPECT_EQ(counts.added, 4);  // two tracks, one photo, one video
  EXPECT_EQ(counts.removed, 0);
  EXPECT_EQ(items_of(source), 4);

  const std::string one = item(track1_);
  ASSERT_FALSE(one.empty());
  EXPECT_EQ(prop(one, "upnp:class"), "object.item.audioItem.musicTrack");
  EXPECT_EQ(prop(one, "dc:title"), "Song One");
  EXPECT_EQ(prop(one, "upnp:artist"), "The Band");
  EXPECT_EQ(prop(one, "upnp:album"), "My Album");
  EXPECT_EQ(prop(one, "upnp:originalTrackNumber"), "0000000001");
  EXPECT_EQ(prop(one, "upnp:genre"), "Unknown Genre");
  EXPECT_EQ(prop(one, "res@protocolInfo"), "http-get:*:audio/mpeg:*");
  EXPECT_EQ(prop(one, "zentoria:folder"), "/The Band/My Album");
  EXPECT_EQ(prop(one, "zentoria:filename"), "01 One");
  EXPECT_EQ(prop(one, "zentoria:artLarge"), "file://" + cover_);
  EXPECT_EQ(prop(one, "res@audioCodec"), "MP3");
  EXPECT_EQ(prop(one, "res@nrAudioChannels"), "1");
  EXPECT_FALSE(prop(one, "res@duration").empty());
  EXPECT_EQ(prop(one, "zentoria:systagLibView"), "Zentoria.Audio.Music Indexes.All");
  EXPECT_FALSE(column("select signature from object where oid=" + one).at(0).empty());

  const std::string clip = item(clip_);
  EXPECT_EQ(prop(clip, "upnp:class"), "object.item.videoItem");
  EXPECT_EQ(prop(clip, "res@resolution"), "64x48");
  EXPECT_EQ(prop(clip, "dc:publisher"), "Unknown publisher");
  const char *subtitles = nullptr;
  const std::string clip_url = "file://" + clip_;
  ASSERT_EQ(msdb_uri_prop_get(pool_, db_, clip_url.c_str(), 0, nullptr, nullptr, "zentoria:subtitles", &subtitles), 0);
  EXPECT_STREQ(subtitles, ("file://" + media_ + "/Films/clip.srt").c_str());

  const std::string photo = item(photo_);
  EXPECT_EQ(prop(photo, "upnp:class"), "object.item.imageItem.photo");
  EXPECT_EQ(prop(photo, "res@resolution"), "40x30");
  EXPECT_EQ(prop(photo, "upnp:album"), "Holiday");
  EXPECT_FALSE(prop(photo, "zentoria:date_year").empty());
  // A photo in an album view has no track number to sort by: no fault.
  EXPECT_FALSE(log_.contains("Can't get value for property"));

  EXPECT_EQ(item(cover_), "");  // album art stays out of the photos
  EXPECT_EQ(item(media_ + "/Films/clip.srt"), "");
  EXPECT_EQ(item(media_ + "/Films/empty.mp3"), "");
  EXPECT_EQ(item(media_ + "/Films/README"), "");
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(Scan, UnchangedRescanAddsNothingAndRemovesNothing) {
  make_library();
  const std::string source = share(media_);
  ASSERT_EQ(scan(source).status, 0);
  const int objects = count("select count(*) from object");
  const std::string one = item(track1_);
  ScanCounts again = scan(source);
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.added, 0);
  EXPECT_EQ(again.removed, 0);
  EXPECT_EQ(count("select count(*) from object"), objects);
  EXPECT_EQ(item(track1_), one);
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(Scan, TouchedFileIsReplacedAndItsSuccessorKeepsParentsAndSources) {
  make_library();
  const std::string source = share(media_);
  ASSERT_EQ(scan(source).status, 0);
  const std::string old_oid = item(track2_);
  const int parents = count("select count(*) from edge where objectOid=" + old_oid);
  ASSERT_GT(parents, 0);
  touch(track2_, 60);
  ScanCounts counts = scan(source);
  ASSERT_EQ(counts.status, 0);
  EXPECT_EQ(counts.added, 1);
  EXPECT_EQ(counts.removed, 0);
  const std::string new_oid = item(track2_);
  ASSERT_FALSE(new_oid.empty());
  EXPECT_NE(new_oid, old_oid);
  EXPECT_EQ(count("select count(*) from object where oid=" + old_oid), 0);
  EXPECT_EQ(count("select count(*) from edge where objectOid=" + new_oid), parents);
  EXPECT_EQ(count("select count(*) from objms where objectOid=" + new_oid + " and sourceOid=" + source), 1);
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(Scan, DeletedFileIsRemovedAndItsEmptyContainersGo) {
  make_library();
  const std::string source = share(media_);
  ASSERT_EQ(scan(source).status, 0);
  std::filesystem::remove(photo_);
  ScanCounts counts = scan(source);
  ASSERT_EQ(counts.status, 0);
  EXPECT_EQ(counts.removed, 1);
  EXPECT_EQ(item(photo_), "");
  EXPECT_EQ(count("select count(*) from propValue join prop on prop.valueOid=propValue.oid where value='Holiday'"), 0);
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(Scan, AudioOnlySourceIgnoresVideosAndPhotos) {
  make_library();
  const std::string source = share(media_, 1, 0, 0);
  ScanCounts counts = scan(source);
  ASSERT_EQ(counts.status, 0);
  EXPECT_EQ(counts.added, 2);
  EXPECT_EQ(item(clip_), "");
  EXPECT_EQ(item(photo_), "");
}

TEST_F(Scan, NonRecursiveSourceIgnoresMediaInSubfolders) {
  mp3("top.mp3", "Top");
  mp3("sub/below.mp3", "Below");
  const std::string source = share(media_, 1, 1, 1, 0);
  ScanCounts counts = scan(source);
  ASSERT_EQ(counts.status, 0);
  EXPECT_EQ(counts.added, 1);
  EXPECT_EQ(item(media_ + "/sub/below.mp3"), "");
  EXPECT_EQ(prop(item(media_ + "/top.mp3"), "zentoria:folder"), "/");
}

TEST_F(Scan, UntaggedFilesGetUnknownTagsAndTheirNameAsTitle) {
  const std::string song = mp3("plain/no tags.mp3", "");
  ASSERT_EQ(scan(share(media_)).status, 0);
  const std::string oid = item(song);
  EXPECT_EQ(prop(oid, "dc:title"), "No Tags");  // prettyTags is on in the example configuration
  EXPECT_EQ(prop(oid, "upnp:artist"), "Unknown Artist");
  EXPECT_EQ(prop(oid, "zentoria:albumArtist"), "Unknown Artist");
  EXPECT_EQ(prop(oid, "upnp:album"), "Unknown Album");
  EXPECT_EQ(prop(oid, "res@duration"), "00:00:01.000");
}

TEST_F(Scan, PhotoAtTheSourceRootHasNoEmptyAlbum) {
  const std::string photo = jpg("root.jpg");
  ASSERT_EQ(scan(share(media_)).status, 0);
  EXPECT_TRUE(props(item(photo), "upnp:album").empty());
  EXPECT_EQ(count("select count(*) from propValue join prop on prop.valueOid=propValue.oid where value=''"), 0);
}

TEST_F(Scan, SingleFileSourceScansThatFile) {
  const std::string path = mp3("alone/single.mp3", "Single");
  mp3("alone/other.mp3", "Other");
  const std::string source = share(path);
  ScanCounts counts = scan(source);
  ASSERT_EQ(counts.status, 0);
  EXPECT_EQ(counts.added, 1);
  EXPECT_FALSE(item(path).empty());
  EXPECT_EQ(item(media_ + "/alone/other.mp3"), "");
}

TEST_F(Scan, SourceTagsAndViewTagsReachItemsAndFollowTheSource) {
  const std::string path = mp3("tagged.mp3", "Tagged");
  const std::string source = share(media_, 1, 1, 1, 1, " party , _zentoria.libview.Favourites");
  ASSERT_EQ(scan(source).status, 0);
  const std::string oid = item(path);
  EXPECT_EQ(props(oid, "zentoria:tag"), std::vector<std::string>{"Party"});  // prettyTags tidies
  EXPECT_EQ(props(oid, "zentoria:tagLibView"), std::vector<std::string>{"Favourites"});

  MediaSource stored{};
  ASSERT_NE(msms_find_media_source(pool_, media_.c_str(), &stored), nullptr);
  stored.tags = "party, dance";
  stored.type = nullptr;
  ASSERT_EQ(msms_update_media_source(pool_, &stored, nullptr), 0);
  ScanCounts counts = scan(source);
  ASSERT_EQ(counts.status, 0);
  // The view tag left the source, so the item was rebuilt with the new tags only.
  EXPECT_EQ(counts.added, 1);
  const std::string rebuilt = item(path);
  std::vector<std::string> tags = props(rebuilt, "zentoria:tag");
  std::sort(tags.begin(), tags.end());
  EXPECT_EQ(tags, (std::vector<std::string>{"Dance", "Party"}));
  EXPECT_TRUE(props(rebuilt, "zentoria:tagLibView").empty());
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(Scan, TranscodeSettingFollowsTheSourceWithoutRebuildingItems) {
  const std::string path = mp3("t.mp3", "T");
  const std::string source = share(media_);
  ASSERT_EQ(scan(source).status, 0);
  const std::string oid = item(path);
  EXPECT_TRUE(props(oid, "zentoria:transcodeWhen").empty());
  MediaSource stored{};
  ASSERT_NE(msms_find_media_source(pool_, media_.c_str(), &stored), nullptr);
  stored.transcode_when = "always";
  stored.type = nullptr;
  ASSERT_EQ(msms_update_media_source(pool_, &stored, nullptr), 0);
  EXPECT_EQ(scan(source).added, 0);
  EXPECT_EQ(item(path), oid);
  EXPECT_EQ(prop(oid, "zentoria:transcodeWhen"), "always");
}

TEST_F(Scan, SharingAnAlreadySharedPathFails) {
  ASSERT_FALSE(share(media_).empty());
  EXPECT_EQ(share(media_ + "/"), "");
  EXPECT_TRUE(log_.contains("Pathname " + media_ + " already exists in the media library."));
}

TEST_F(Scan, RelativePathsAndUrlsAreNotFolderSources) {
  EXPECT_EQ(share("relative/music"), "");
  EXPECT_EQ(share("http://example.invalid/x.mp3"), "");
  EXPECT_TRUE(log_.contains("Invalid pathname \"relative/music\"."));
  // The engine says why with its status and leaves the advice to its caller.
  MediaSource source{};
  source.url = "file:///srv/music";
  testing::internal::CaptureStdout();
  EXPECT_EQ(msms_add_media_source(pool_, &source, nullptr), APR_EBADPATH);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(Scan, RequestedTypeMustMatchThePath) {
  MediaSource source{};
  source.url = media_.c_str();
  source.name = "m";
  source.tags = "";
  source.type = "file";
  source.transcode_when = "";
  EXPECT_NE(msms_add_media_source(pool_, &source, nullptr), 0);
  EXPECT_TRUE(log_.contains("Pathname \"" + media_ + "\" is not a \"file\"."));
}

TEST_F(Scan, SharingAPathAgainKeepsItsSourceAndTakesTheNewNameAndGivenTags) {
  mp3("s/a.mp3", "A");
  const std::string path = media_ + "/s";
  MediaSource request{};
  request.name = "first";
  request.url = path.c_str();
  request.lookfor_audio = 1;
  request.is_recursive = 1;
  request.transcode_when = "";
  int added = -1, removed = -1;
  ASSERT_EQ(msms_share_path(pool_, &request, 1, 0, &added, &removed), 0);
  EXPECT_EQ(added, 1);
  MediaSource stored{};
  ASSERT_NE(msms_find_media_source(pool_, path.c_str(), &stored), nullptr);
  const std::string oid = stored.oid;
  EXPECT_STREQ(stored.tags, "");
  EXPECT_STREQ(stored.type, "folder");

  // The kinds of a shared path stay; new tags reach its item without a rebuild.
  request.name = "second";
  request.tags = "Family";
  request.lookfor_video = 1;
  ASSERT_EQ(msms_share_path(pool_, &request, 1, 0, &added, &removed), 0);
  EXPECT_EQ(added, 0);
  ASSERT_NE(msms_find_media_source(pool_, path.c_str(), &stored), nullptr);
  EXPECT_EQ(stored.oid, oid);
  EXPECT_STREQ(stored.name, "second");
  EXPECT_STREQ(stored.tags, "Family");
  EXPECT_EQ(stored.lookfor_video, 0);
  EXPECT_EQ(props(item(media_ + "/s/a.mp3"), "zentoria:tag"), std::vector<std::string>{"Family"});

  // No tags given keeps the stored ones; without a scan nothing is counted.
  request.name = "third";
  request.tags = nullptr;
  ASSERT_EQ(msms_share_path(pool_, &request, 0, 0, &added, &removed), 0);
  EXPECT_EQ(added, 0);
  ASSERT_NE(msms_find_media_source(pool_, path.c_str(), &stored), nullptr);
  EXPECT_STREQ(stored.name, "third");
  EXPECT_STREQ(stored.tags, "Family");

  request.url = "relative/s";
  EXPECT_EQ(msms_share_path(pool_, &request, 1, 0, &added, &removed), APR_EBADPATH);
}

}  // namespace
