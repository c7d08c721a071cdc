// The objects of a folder tree looked up in one go before the walk enters
// it: whether a tree is covered, only partly covered or not at all, every
// scan step must leave the library and log a scan of each file on its own
// leaves, also for files whose newest object belongs to another source. A
// look-up begun before the library lock must not be taken once another
// connection changed the library.
#include <filesystem>

#include "CommonWorker.h"
#include "MSDBDelete.h"
#include "MSMediaScanPrefetch.h"
#include "ShareFixture.h"

namespace fs = std::filesystem;

namespace {

class Prefetch : public ShareTest {
 protected:
  void TearDown() override {
    ShareTest::TearDown();
    msms_prefetch_set_limit(4096);
  }

  void make_library() {
    for (int i = 1; i <= 4; ++i) {
      mp3("Band/Album/0" + std::to_string(i) + " Song & <Co>.mp3", "Song " + std::to_string(i), "Band", "Album", i);
    }
    jpg("Band/Album/folder.jpg");
    mp3("Band/Album/Bonus/untagged.mp3", "");
    jpg("Band/Albumen/cover photo.jpg", 20, 10);
    for (int i = 1; i <= 3; ++i) jpg("Photos/" + std::to_string(2000 + i) + "/Ünder " + std::to_string(i) + ".jpg");
    video("Films/clip.mp4");
    text("Films/clip.srt", "1\n00:00:00,000 --> 00:00:01,000\nhello\n");
  }

  // The library and log after each step: the band's folder shared, the
  // whole media folder shared over it (its band files then have a newer
  // object of the other source), both rescanned unchanged, then rescanned
  // after a touch, a removal and a new file.
  std::vector<std::string> steps(int limit) {
    reinstall();
    msms_prefetch_set_limit(limit);
    std::vector<std::string> dumps;
    const std::string band = share(media_ + "/Band");
    EXPECT_EQ(scan(band).added, 6);
    const std::string all = share(media_);
    EXPECT_EQ(scan(all).added, 10);
    dumps.push_back(library_and_log());
    for (const std::string &source : {band, all}) {
      ScanCounts again = scan(source);
      EXPECT_EQ(again.added, 0) << limit;
      EXPECT_EQ(again.removed, 0) << limit;
    }
    dumps.push_back(library_and_log());
    // Moves and copies keep the files' times, so that every run sees the
    // same signatures.
    const std::string song = media_ + "/Band/Album/02 Song & <Co>.mp3";
    const std::string removed = media_ + "/Photos/2002/Ünder 2.jpg";
    const std::string aside = media_ + "/../aside.jpg";
    const std::string added = media_ + "/Photos/2002/Ünder 9.jpg";
    touch(song, 60);
    fs::rename(removed, aside);
    fs::copy_file(media_ + "/Photos/2001/Ünder 1.jpg", added);
    fs::last_write_time(added, fs::last_write_time(aside));
    for (const std::string &source : {band, all}) EXPECT_EQ(scan(source).status, 0);
    dumps.push_back(library_and_log());
    EXPECT_EQ(mlcheck(), "");
    touch(song, -60);
    fs::rename(aside, removed);
    fs::remove(added);
    return dumps;
  }
};

struct OtherWriter {
  MediaLibraryDB *db;
  apr_pool_t *pool;
  const char *source;
  int status;
};

// On a thread of its own, so on a connection of its own: the source's
// objects deleted and committed.
void delete_source_objects(void *data) {
  auto *writer = static_cast<OtherWriter *>(data);
  writer->status = msdb_medialib_begin(writer->db);
  if (writer->status == 0) writer->status = msdb_delete_source_objects(writer->pool, writer->db, writer->source, nullptr, nullptr);
  if (writer->status == 0) writer->status = msdb_medialib_commit(writer->db);
}

TEST_F(Prefetch, AnEarlyLookUpIsTakenOnlyWhileNoOtherConnectionCommitted) {
  make_library();
  const std::string source = share(media_);
  ASSERT_EQ(scan(source).added, 10);
  const std::string song = media_ + "/Band/Album/01 Song & <Co>.mp3";
  const std::string oid = item(song);
  ASSERT_NE(oid, "");
  for (const bool other_commits : {false, true}) {
    PrefetchEarly *early = msms_prefetch_early_start(pool_, db_, source.c_str(), media_.c_str());
    ASSERT_NE(early, nullptr);
    msms_prefetch_early_wait(early);
    if (other_commits) {
      OtherWriter writer{db_, pool_, source.c_str(), -1};
      Worker worker;
      ASSERT_EQ(worker_start(pool_, &worker, delete_source_objects, &writer), 0);
      worker_stop(&worker);
      ASSERT_EQ(writer.status, 0);
    }
    ScanPrefetch *prefetch = msms_prefetch_create(pool_, source.c_str(), early);
    ASSERT_EQ(msdb_medialib_begin(db_), 0);
    msms_prefetch_enter(prefetch, db_, media_.c_str());
    const char *found = nullptr, *signature = nullptr;
    const PropRows *stored = nullptr;
    bool held = false;
    EXPECT_TRUE(msms_prefetch_find(prefetch, ("file://" + song).c_str(), &found, &signature, &stored, &held));
    EXPECT_EQ(found != nullptr ? found : "", other_commits ? "" : oid) << other_commits;
    EXPECT_EQ(held, !other_commits);
    EXPECT_EQ(msdb_medialib_rollback(db_), 0);
  }
}

TEST_F(Prefetch, EveryStepLeavesTheSameLibraryWhetherTreesAreCoveredOrNot) {
  make_library();
  const std::vector<std::string> alone = steps(0);
  EXPECT_EQ(steps(3), alone);
  EXPECT_EQ(steps(4096), alone);
}

}  // namespace
