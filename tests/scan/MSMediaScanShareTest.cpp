// Sharing and scanning folders end to end: first scan, rescans, replaced and
// deleted files, what never becomes an item, source kinds and tags.
#include <apr_strings.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <fstream>
#include <sstream>

#include "DbColumn.h"
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

// Subtitle pairings of unchanged videos across a rescan: one kept as it is
// (its row not written again, odd bytes in its URI included), one added and
// one renamed. A row written again gets a new oid, above the sentinel's.
TEST_F(Scan, RescanPairsSubtitlesOfUnchangedVideosAndKeepsUnchangedPairings) {
  struct Case {
    const char *video;
    const char *srt_before;  // beside the video at the first scan, or null
    const char *srt_after;   // at the rescan, or null
    bool rewritten;
  };
  const Case cases[] = {
      {"clip.mp4", "clip.srt", "clip.srt", false},
      {"it's \"odd\" %20.mp4", "it's \"odd\" %20.srt", "it's \"odd\" %20.srt", false},
      {"late.mp4", nullptr, "late.srt", true},
      {"case.mp4", "case.srt", "CASE.SRT", true},
  };
  const std::string first = video("Films/first.mp4");
  auto uri = [&](const char *name) { return "file://" + media_ + "/Films/" + name; };
  for (const Case &c : cases) {
    std::filesystem::copy_file(first, media_ + "/Films/" + c.video);
    if (c.srt_before != nullptr) text(std::string("Films/") + c.srt_before, "1\n");
  }
  const std::string source = share(media_);
  ASSERT_EQ(scan(source).status, 0);
  ASSERT_EQ(msdb_uri_prop_set(pool_, db_, "file:///sentinel", 0, "zentoria:subtitles", "file:///s.srt", nullptr, nullptr), 0);
  auto oids = [&] {
    const char *names[] = {"zentoria:subtitles"};
    apr_hash_t *map = nullptr;
    EXPECT_EQ(cds_get_uris_by_props(db_, pool_, names, 1, &map), 0);
    std::map<std::string, long> by_uri;
    for (apr_hash_index_t *it = apr_hash_first(pool_, map); it != nullptr; it = apr_hash_next(it)) {
      const void *oid = nullptr;
      void *row_uri = nullptr;
      apr_hash_this(it, &oid, nullptr, &row_uri);
      by_uri[static_cast<const char *>(row_uri)] = std::stol(static_cast<const char *>(oid));
    }
    return by_uri;
  };
  const std::map<std::string, long> before = oids();
  const long sentinel = before.at("file:///sentinel");
  for (const Case &c : cases) {
    if (c.srt_before != nullptr && std::strcmp(c.srt_before, c.srt_after) != 0) {
      std::filesystem::rename(media_ + "/Films/" + c.srt_before, media_ + "/Films/" + c.srt_after);
    } else if (c.srt_before == nullptr) {
      text(std::string("Films/") + c.srt_after, "1\n");
    }
  }
  ScanCounts again = scan(source);
  ASSERT_EQ(again.status, 0);
  EXPECT_EQ(again.added, 0);
  const std::map<std::string, long> after = oids();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.video);
    const char *value = nullptr;
    ASSERT_EQ(msdb_uri_prop_get(pool_, db_, uri(c.video).c_str(), 0, nullptr, nullptr, "zentoria:subtitles", &value), 0);
    EXPECT_STREQ(value, uri(c.srt_after).c_str());
    ASSERT_EQ(after.count(uri(c.video)), 1u);
    EXPECT_EQ(after.at(uri(c.video)) > sentinel, c.rewritten);
  }
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

std::string file_bytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// This thread's medialib connection may grow the file by pages more pages
// (a disk with that much room left), or without limit again.
void limit_growth(apr_pool_t *pool, MediaLibraryDB *db, int pages) {
  DBThreadConnection *conn = msdb_thread_connection(db);
  ASSERT_NE(conn, nullptr);
  const std::string now = db_column(pool, db, "PRAGMA page_count").at(0);
  const long limit = pages < 0 ? 1073741823L : std::stol(now) + pages;
  const char *set = nullptr;
  ASSERT_EQ(db_select_value(pool, conn->medialib, apr_psprintf(pool, "PRAGMA max_page_count = %ld", limit), &set,
                            nullptr),
            0);
}

// A full disk used to fail one file's writes, which the scan skipped while
// SQLite had ended the transaction, so that the rest of the scan was written
// outside any transaction and the library was left corrupt. Now the scan
// stops, rolls back and fails, and the library file is what it was.
TEST_F(Scan, DiskFullEndsTheScanAndLeavesTheLibraryAsItWas) {
  make_library();
  const std::string source = share(media_);
  ASSERT_EQ(scan(source).status, 0);
  for (int i = 1; i <= 8; ++i) {
    mp3("New Band/New Album/" + std::to_string(i) + ".mp3", "New " + std::to_string(i), "New Band", "New Album", i);
  }
  const std::string medialib = install_ + "/data/medialib.db";
  const std::string before = file_bytes(medialib);
  ASSERT_FALSE(before.empty());
  limit_growth(pool_, db_, 0);
  log_.clear();
  const ScanCounts full = scan(source);
  EXPECT_EQ(full.status, 20014);
  EXPECT_EQ(full.added, 0);
  EXPECT_TRUE(log_.contains("database or disk is full"));
  EXPECT_TRUE(file_bytes(medialib) == before) << "the library file changed";
  EXPECT_EQ(mlcheck(), "");

  limit_growth(pool_, db_, -1);
  const ScanCounts room = scan(source);
  EXPECT_EQ(room.status, 0);
  EXPECT_EQ(room.added, 8);
  EXPECT_EQ(items_of(source), 12);
  EXPECT_EQ(mlcheck(), "");
}

// A device, a FIFO or a socket used to be recorded and then fail every
// refresh; it is refused before it is recorded.
TEST_F(Scan, PathThatIsNeitherFileNorFolderIsNotRecorded) {
  const std::string fifo = media_ + "/pipe.mp3";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string socket_path = media_ + "/sock";
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket_path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  for (const std::string &path : {std::string("/dev/zero"), fifo, socket_path}) {
    MediaSource request{};
    request.name = path.c_str();
    request.url = path.c_str();
    request.lookfor_audio = request.lookfor_video = request.lookfor_photo = 1;
    request.is_recursive = 1;
    request.transcode_when = "";
    int added = -1, removed = -1;
    EXPECT_EQ(msms_share_path(pool_, &request, 1, 0, &added, &removed), 20014) << path;
    MediaSource found{};
    EXPECT_EQ(msms_find_media_source(pool_, path.c_str(), &found), nullptr) << path;
    EXPECT_TRUE(log_.contains("The file path \"" + path + "\" is not pointing to a file or a folder")) << path;
  }
  close(fd);
}

// Names reach the terminal on the progress line: their control characters
// (an escape sequence that clears the screen, a carriage return) are
// printed escaped.
TEST_F(Scan, ProgressLinePrintsControlCharactersEscaped) {
  mp3("evil\x1b[2J\rname.mp3", "Evil");
  const std::string source = share(media_);
  testing::internal::CaptureStdout();
  int added = 0, removed = 0;
  EXPECT_EQ(msms_refresh_media_source(source.c_str(), 1, 1, &added, &removed, nullptr, nullptr), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(added, 1);
  EXPECT_NE(out.find("evil\\x1b[2J\\x0dname.mp3"), std::string::npos) << out;
  EXPECT_EQ(out.find('\x1b'), std::string::npos);
}

}  // namespace
