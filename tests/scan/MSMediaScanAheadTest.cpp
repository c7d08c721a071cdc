// Files inspected ahead of the walk on the inspection worker: the library
// must be the one a scan inspecting every file at its turn makes, rescans of
// unchanged files must inspect nothing, and cancels and files vanishing
// after the listing must end as they do without the worker.
#include <cstdio>
#include <filesystem>
#include <thread>

#include "MSMediaScanAhead.h"
#include "MSMediaScanListing.h"
#include "ShareFixture.h"

namespace fs = std::filesystem;

namespace {

class Ahead : public ShareTest {
 protected:
  void TearDown() override {
    ShareTest::TearDown();
    msms_ahead_enable(true);
  }

  // Several folders of more files than the look-ahead window, mixed with
  // subfolders, art, subtitles, untagged and broken files.
  void make_library() {
    for (int i = 1; i <= 7; ++i) {
      mp3("Band/Album/0" + std::to_string(i) + " Song.mp3", "Song " + std::to_string(i), "Band", "Album", i);
    }
    jpg("Band/Album/folder.jpg");
    mp3("Band/Album/Bonus/untagged.mp3", "");
    text("Band/Album/broken.mp3", "<html><body>not a song</body></html>\n");
    text("Band/Album/notes.txt", "liner notes");
    for (int i = 1; i <= 6; ++i) jpg("Photos/" + std::to_string(2000 + i) + "/img" + std::to_string(i) + ".jpg", 8 * i, 6 * i);
    jpg("Photos/beach.jpg", 40, 30);
    text("Photos/fake.jpg", "GIF89a but not really");
    video("Films/clip.mp4");
    text("Films/clip.srt", "1\n00:00:00,000 --> 00:00:01,000\nhello\n");
    text("Films/empty.mp3", "");
  }

  void expect_cancelled_at(const std::string &source, int stop);

  // A new installation over the same media folder, scanning ahead or not.
  void fresh_install(bool ahead) {
    reinstall();
    msms_ahead_enable(ahead);
  }

  // Shares and scans the media folder in a fresh installation.
  std::string first_scan(bool ahead) {
    fresh_install(ahead);
    const std::string source = share(media_);
    EXPECT_EQ(scan(source).status, 0);
    EXPECT_EQ(mlcheck(), "");
    return library_and_log();
  }
};

TEST_F(Ahead, LibraryAndScanLogAreTheSameWhetherFilesAreInspectedAheadOrAtTheirTurn) {
  make_library();
  const std::string at_turn = first_scan(false);
  const std::string ahead = first_scan(true);
  EXPECT_NE(at_turn.find("Could not get image information for " + media_ + "/Photos/fake.jpg"), std::string::npos);
  EXPECT_EQ(ahead, at_turn);
}

// Trees whose folders are read ahead across their boundaries: count files
// (or, for a pattern ending in "/", empty folders) per row, numbered from 100.
struct TreeRow {
  const char *tree;
  const char *pattern;
  int count;
};

const TreeRow kTrees[] = {
    {"artists", "A/long/%d.mp3", 2 * AHEAD_WINDOW + 3},  // more files than the window
    {"artists", "A/one/%d.mp3", 3},
    {"artists", "A/one/folder%d.jpg", 1},
    {"artists", "A/two/%d.mp3", 2},
    {"artists", "A/wide/%d.txt", 2 * AHEAD_WINDOW},  // more entries than a listing reads ahead
    {"artists", "A/wide/%d.mp3", 8},
    {"artists", "B/wide/%d.txt", 2 * AHEAD_WINDOW},
    {"artists", "B/wide/%d.mp3", 8},
    {"artists", "B/three/%d.mp3", 3},
    {"nested", "0/empty%d/", 1},
    {"nested", "1/2/3/4/5/%d.mp3", 2},
    {"nested", "1/2/3/4/5/6/%d/", 1},
    {"nested", "1/2/3/%d.jpg", 1},
    {"nested", "2/%d.mp3", 1},
    {"many", "day %d/a/p.jpg", LISTINGS_AHEAD + 9},  // more folders than may be opened ahead
    {"many", "z/%d.mp3", 1},
    {"link", "a/%d.mp3", 2},
    {"link", "c/%d.mp3", 2},
};

TEST_F(Ahead, EveryTreeReadAheadAcrossFoldersGivesTheSameLibraryAsAtTheirTurn) {
  const std::string song = mp3("templates/song.mp3", "");
  const std::string photo = jpg("templates/photo.jpg");
  for (const TreeRow &row : kTrees) {
    for (int i = 100; i < 100 + row.count; ++i) {
      char relative[64];
      std::snprintf(relative, sizeof relative, row.pattern, i);
      const fs::path path = media_ + "/" + row.tree + "/" + relative;
      fs::create_directories(path.parent_path());
      if (!path.has_filename()) continue;
      if (path.extension() == ".txt") {
        write_file(path.string(), "notes");
      } else {
        fs::copy_file(path.extension() == ".jpg" ? photo : song, path);
      }
    }
  }
  mp3("linked/1.mp3", "");
  fs::create_directory_symlink(media_ + "/linked", media_ + "/link/b");
  for (const char *tree : {"artists", "nested", "many", "link"}) {
    std::string libraries[2];
    for (bool ahead : {false, true}) {
      fresh_install(ahead);
      EXPECT_EQ(scan(share(media_ + "/" + tree)).status, 0);
      EXPECT_EQ(mlcheck(), "");
      libraries[ahead] = library_and_log();
    }
    EXPECT_EQ(libraries[1], libraries[0]) << tree;
  }
}

TEST_F(Ahead, ChangedFilesAreReinspectedTheSameWayAheadOrAtTheirTurn) {
  make_library();
  std::string libraries[2];
  for (bool ahead : {false, true}) {
    first_scan(ahead);
    for (const char *file : {"Band/Album/03 Song.mp3", "Photos/beach.jpg", "Films/clip.mp4"}) touch(media_ + "/" + file, 60);
    log_.clear();
    ScanCounts rescan = scan(media_);
    EXPECT_EQ(rescan.status, 0);
    EXPECT_EQ(rescan.added, 3);
    libraries[ahead] = library_and_log();
    for (const char *file : {"Band/Album/03 Song.mp3", "Photos/beach.jpg", "Films/clip.mp4"}) touch(media_ + "/" + file, -60);
  }
  EXPECT_EQ(libraries[1], libraries[0]);
}

// Garbage behind an unchanged time: a rescan that inspected the file would
// log the probe's or the image reader's errors about it.
TEST_F(Ahead, UnchangedRescanInspectsNoFile) {
  const std::string song = mp3("a/song.mp3", "Song", "Band", "Album", 1);
  const std::string photo = jpg("a/photo.jpg", 40, 30);
  const std::string source = share(media_);
  ASSERT_EQ(scan(source).added, 2);
  for (const std::string &path : {song, photo}) {
    const auto time = fs::last_write_time(path);
    write_file(path, "garbage, not media");
    fs::last_write_time(path, time);
  }
  log_.clear();
  ScanCounts rescan = scan(source);
  ASSERT_EQ(rescan.status, 0);
  EXPECT_EQ(rescan.added, 0);
  for (const char *error : {"Could not open media file", "Could not find codec parameters", "Could not read image",
                            "Could not get"}) {
    EXPECT_FALSE(log_.contains(error)) << error;
  }
  EXPECT_EQ(prop(item(photo), "res@resolution"), "40x30");
}

TEST_F(Ahead, WindowBoundsTheJobsOutAndJobsGivenBackUntakenAreDropped) {
  const std::string photo = jpg("q/photo.jpg", 20, 10);
  const std::string missing = media_ + "/q/missing.jpg";
  ScanAhead *ahead = nullptr;
  ASSERT_EQ(msms_ahead_start(pool_, &ahead), 0);
  AheadJob *jobs[AHEAD_WINDOW];
  jobs[0] = msms_ahead_submit(ahead, InspectRequest{photo.c_str(), "jpg", MEDIA_IMAGE, false});
  for (int i = 1; i < AHEAD_WINDOW; ++i) jobs[i] = msms_ahead_submit(ahead, InspectRequest{missing.c_str(), "jpg", MEDIA_IMAGE, false});
  for (AheadJob *job : jobs) ASSERT_NE(job, nullptr);
  EXPECT_EQ(msms_ahead_submit(ahead, InspectRequest{photo.c_str(), "jpg", MEDIA_IMAGE, false}), nullptr);
  const FileFacts *facts = msms_ahead_take(ahead, jobs[0]);
  ASSERT_NE(facts, nullptr);
  EXPECT_TRUE(facts->image.ok);
  EXPECT_EQ(facts->image.info.width, 20);
  msms_ahead_release(ahead, jobs[0]);
  AheadJob *again = msms_ahead_submit(ahead, InspectRequest{photo.c_str(), "jpg", MEDIA_IMAGE, false});
  EXPECT_NE(again, nullptr);
  EXPECT_EQ(msms_ahead_take(ahead, jobs[1]), nullptr);  // missing: left to the file's turn
  for (int i = 1; i < AHEAD_WINDOW; ++i) msms_ahead_release(ahead, jobs[i]);
  msms_ahead_stop(ahead);  // the last job is dropped or finished, never leaked
  EXPECT_FALSE(log_.contains(missing));
}

// Counts the checks and stops at the given one; every check must come from
// the scan's own thread, never from the inspection worker.
struct StopAt {
  int calls = 0;
  int stop = 0;
  std::thread::id scan_thread = std::this_thread::get_id();
  bool foreign_thread = false;
};

int stop_at(void *context) {
  auto *stop = static_cast<StopAt *>(context);
  if (std::this_thread::get_id() != stop->scan_thread) stop->foreign_thread = true;
  return ++stop->calls >= stop->stop;
}

// A refresh of source cancelled at check number stop stops there, checks
// only on the scan's thread, and (fewer than a commit's worth of items)
// rolls everything back.
void Ahead::expect_cancelled_at(const std::string &source, int stop) {
  StopAt check;
  check.stop = stop;
  ScanCounts counts;
  counts.status = msms_refresh_media_source(source.c_str(), 1, 0, &counts.added, &counts.removed, stop_at, &check);
  EXPECT_EQ(counts.status, 4) << stop;
  EXPECT_EQ(check.calls, stop) << "the scan went on after its cancel";
  EXPECT_FALSE(check.foreign_thread);
  EXPECT_EQ(items_of(source), 0);
}

TEST_F(Ahead, CancelWithInspectionsQueuedStopsTheScanAndTheNextScanCompletes) {
  const std::string first = mp3("many/t0.mp3", "");
  for (int i = 1; i < 12; ++i) fs::copy_file(first, media_ + "/many/t" + std::to_string(i) + ".mp3");
  const std::string source = share(media_);
  for (int stop = 2; stop <= 6; ++stop) expect_cancelled_at(source, stop);
  EXPECT_EQ(scan(source).added, 12);
  EXPECT_EQ(mlcheck(), "");
}

// Folders of one photo each are read ahead of their turn, several at once:
// a cancel must still stop at once and give every queued job back.
TEST_F(Ahead, CancelWithFoldersReadAheadStopsTheScanAndTheNextScanCompletes) {
  for (int i = 0; i < 9; ++i) jpg("days/day " + std::to_string(i) + "/photo.jpg", 10 + i, 10);
  for (int i = 0; i < 5; ++i) mp3("days/album/0" + std::to_string(i) + ".mp3", "");
  const std::string source = share(media_);
  for (int stop = 2; stop <= 12; stop += 2) expect_cancelled_at(source, stop);
  EXPECT_EQ(scan(source).added, 14);
  EXPECT_EQ(prop(item(media_ + "/days/day 8/photo.jpg"), "res@resolution"), "18x10");
  EXPECT_EQ(mlcheck(), "");
}

// Removes every file of the folder at the second check, when the first file
// has been done and the next ones were listed and looked up.
struct RemoveAtSecond {
  std::string folder;
  int calls = 0;
};

int remove_at_second(void *context) {
  auto *remove = static_cast<RemoveAtSecond *>(context);
  if (++remove->calls == 2) {
    for (const auto &entry : fs::directory_iterator(remove->folder)) fs::remove(entry.path());
  }
  return 0;
}

TEST_F(Ahead, FilesRemovedAfterTheListingAreSkippedAsAtTheirTurn) {
  const std::string first = mp3("v/t0.mp3", "");
  for (int i = 1; i < 6; ++i) fs::copy_file(first, media_ + "/v/t" + std::to_string(i) + ".mp3");
  const std::string snapshot = dir_.file("snapshot");
  fs::copy(media_ + "/v", snapshot);
  int added[2] = {-1, -1};
  for (bool ahead : {false, true}) {
    fresh_install(ahead);
    const std::string source = share(media_ + "/v");
    fs::remove_all(media_ + "/v");
    fs::copy(snapshot, media_ + "/v");
    RemoveAtSecond remove{media_ + "/v"};
    ScanCounts counts;
    counts.status = msms_refresh_media_source(source.c_str(), 1, 0, &counts.added, &counts.removed, remove_at_second, &remove);
    EXPECT_EQ(counts.status, 0);
    added[ahead] = counts.added;
    EXPECT_EQ(items_of(source), counts.added);
    EXPECT_EQ(mlcheck(), "");
  }
  EXPECT_EQ(added[0], 1);
  EXPECT_EQ(added[1], 1);
}

}  // namespace
