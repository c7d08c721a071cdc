// The download area against the scripted local server: references, renames,
// fresh downloads after failures, discards, names from hostile URLs, the
// shutdown report, and adds and unreferences racing completions.
#include <apr_file_io.h>
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CommonDownload.h"
#include "CommonFileCache.h"
#include "CommonTimeout.h"
#include "HttpFixture.h"
#include "MSDownloadManager.h"

namespace fs = std::filesystem;

namespace {

struct Completions {
  std::mutex mutex;
  std::condition_variable changed;
  std::map<std::string, std::vector<int>> results;  // url -> success flags, in order

  static void on_done(const char *url, const char *, int success, void *self) {
    auto *c = static_cast<Completions *>(self);
    std::lock_guard<std::mutex> lock(c->mutex);
    c->results[url].push_back(success);
    c->changed.notify_all();
  }
  // The nth completion of url (1 for the first), or -1 after 20 s.
  int wait(const std::string &url, std::size_t nth = 1) {
    std::unique_lock<std::mutex> lock(mutex);
    bool seen = changed.wait_for(lock, std::chrono::seconds(20), [&] { return results[url].size() >= nth; });
    return seen ? results[url][nth - 1] : -1;
  }
};

// The last-reference step may run on the download thread just after the done
// callback returned: polls for its outcome for up to 5 s.
template <typename Predicate>
bool eventually(Predicate predicate) {
  for (int i = 0; i < 500 && !predicate(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return predicate();
}

class DownloadManagerTest : public HttpFixture {
 protected:
  void SetUp() override {
    HttpFixture::SetUp();
    folder_ = dir_.file("data/download");
    ASSERT_EQ(timeout_init(pool_, nullptr, nullptr), 0);
    ASSERT_EQ(cache_init(pool_, 1LL << 40, 1LL << 40), 0);
    ASSERT_EQ(download_init(pool_, 3), 0);
    ASSERT_EQ(dlm_init(pool_, folder_.c_str()), 0);
  }
  void TearDown() override {
    dlm_cleanup();
    download_stop();
    cache_term();
    timeout_stop();
    HttpFixture::TearDown();
  }
  int add(const std::string &u, int flags, const char *context = "item") {
    return dlm_add(u.c_str(), context, flags, Completions::on_done, &done_);
  }
  std::string final_path(const std::string &u) { return dlm_final_path(pool_, folder_.c_str(), u.c_str()); }
  std::vector<std::string> part_files() {
    std::vector<std::string> parts;
    for (const auto &entry : fs::directory_iterator(folder_))
      if (entry.path().filename().string().find(".part") != std::string::npos) parts.push_back(entry.path());
    return parts;
  }

  bool callback_reference_dropped(const std::string &u) { return log_.contains("Removed temp ref (2) for " + u + " "); }
  int renames(const std::string &u) {
    int n = 0;
    for (const LoggedEvent &e : log_.events()) n += e.message.rfind("Renamed file for URL " + u + " from ", 0) == 0;
    return n;
  }

  std::string folder_;
  Completions done_;
};

TEST_F(DownloadManagerTest, SameUrlTwiceIsOneDownloadRenamedOnceAfterTwoUnreferences) {
  std::string u = serve("song.mp3", std::string(50000, 's'));
  ASSERT_EQ(add(u, DLM_TAKE_REF), 0);
  ASSERT_EQ(add(u, DLM_TAKE_REF), 0);
  ASSERT_EQ(done_.wait(u), 1);
  EXPECT_EQ(requests_served(), 1);
  ASSERT_EQ(part_files().size(), 1u) << "completed, still at its temporary name";
  EXPECT_TRUE(eventually([&] { return !dlm_is_downloading("item"); }));
  EXPECT_TRUE(fs::path(part_files()[0]).filename().string().ends_with(".part.mp3"));
  // Until the download thread drops the reference it holds over the
  // callback, the last unreference below would leave the rename to it.
  ASSERT_TRUE(eventually([&] { return callback_reference_dropped(u); }));
  dlm_unref(u.c_str());
  EXPECT_FALSE(fs::exists(final_path(u)));
  dlm_unref(u.c_str());
  EXPECT_EQ(read_file(final_path(u)), std::string(50000, 's'));
  EXPECT_TRUE(part_files().empty());
  EXPECT_EQ(renames(u), 1);
  dlm_unref(u.c_str());
  EXPECT_TRUE(log_.contains("Unreference of download that is not referenced. URL: " + u));
}

TEST_F(DownloadManagerTest, AFailedDownloadAddedAgainStartsAfresh) {
  std::string u = url("/files/late.mp3");
  ASSERT_EQ(add(u, DLM_TAKE_REF), 0);
  ASSERT_EQ(done_.wait(u), 0);
  EXPECT_TRUE(part_files().empty()) << "a failed download leaves nothing";
  serve("late.mp3", "now here");
  ASSERT_EQ(add(u, DLM_TAKE_REF), 0);
  ASSERT_EQ(done_.wait(u, 2), 1);
  dlm_unref(u.c_str());
  dlm_unref(u.c_str());
  EXPECT_TRUE(eventually([&] { return fs::exists(final_path(u)); }));
  EXPECT_EQ(read_file(final_path(u)), "now here") << "both references count on the fresh download";
}

TEST_F(DownloadManagerTest, UnreferencedDownloadsEndAtTheirFinalNameAndAreLockedLater) {
  std::string u = serve("clip.mkv", "video bytes");
  ASSERT_EQ(add(u, 0), 0);
  ASSERT_EQ(done_.wait(u), 1);
  ASSERT_TRUE(eventually([&] { return fs::exists(final_path(u)); }));
  EXPECT_EQ(read_file(final_path(u)), "video bytes");
  long before = requests_served();
  ASSERT_EQ(add(u, DLM_TAKE_REF), 0);
  EXPECT_TRUE(log_.contains("Locked completed download (ref = 1) " + u + " File " + final_path(u)));
  const char *path = nullptr;
  apr_int64_t size = 0;
  ASSERT_EQ(dlm_ref_completed(pool_, u.c_str(), &path, &size), 0);
  EXPECT_EQ(std::string(path), final_path(u));
  EXPECT_EQ(size, 11);
  EXPECT_EQ(requests_served(), before) << "no second download";
  dlm_unref(u.c_str());
  dlm_unref(u.c_str());
  EXPECT_TRUE(fs::exists(final_path(u)));
  EXPECT_EQ(dlm_ref_completed(pool_, url("/files/never").c_str(), &path, &size), APR_NOTFOUND);
}

TEST_F(DownloadManagerTest, DiscardedDownloadsAreDeleted) {
  std::string u = serve("gone.mp3", "bytes");
  ASSERT_EQ(add(u, DLM_TAKE_REF), 0);
  ASSERT_EQ(done_.wait(u), 1);
  dlm_discard(u.c_str());
  dlm_unref(u.c_str());
  EXPECT_TRUE(eventually([&] { return part_files().empty(); }));
  EXPECT_FALSE(fs::exists(final_path(u)));
  EXPECT_TRUE(log_.contains("Deleted download file " + folder_ + "/"));
}

TEST_F(DownloadManagerTest, PacketCaptureUrlsAreRefused) {
  EXPECT_EQ(add("pcap://eth0/capture", DLM_TAKE_REF, "capture"), APR_ENOTIMPL);
  EXPECT_EQ(log_.count("MSDownloadManager", 3, "PCAP is disabled"), 1);
  EXPECT_EQ(dlm_is_downloading("capture"), 0);
  dlm_unref("pcap://eth0/capture");
  EXPECT_TRUE(log_.contains("Unreference of download that is not referenced. URL: pcap://eth0/capture"));
}

TEST_F(DownloadManagerTest, FailuresLeaveNothingHalfRenamed) {
  std::string short_body = url("/closemid");
  ASSERT_EQ(add(short_body, DLM_TAKE_REF), 0);
  EXPECT_EQ(done_.wait(short_body), 0);
  std::string live = url("/live");
  ASSERT_EQ(add(live, DLM_TAKE_REF | DLM_REFUSE_LIVE), 0);
  EXPECT_EQ(done_.wait(live), 0);
  dlm_unref(short_body.c_str());
  dlm_unref(live.c_str());
  EXPECT_TRUE(eventually([&] { return part_files().empty(); }));
  EXPECT_FALSE(fs::exists(final_path(short_body)));
  EXPECT_FALSE(fs::exists(final_path(live)));
}

TEST_F(DownloadManagerTest, AFullDiskFailsTheDownload) {
  std::string small = dir_.file("small");
  fs::create_directories(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k") != 0) GTEST_SKIP() << "cannot mount a small tmpfs here";
  EXPECT_EQ(dlm_init(pool_, small.c_str()), 0);
  std::string u = serve("big.bin", std::string(1 << 20, 'b'));
  EXPECT_EQ(add(u, DLM_TAKE_REF), 0);
  EXPECT_EQ(done_.wait(u), 0);
  EXPECT_TRUE(log_.contains("Could not write downloaded data to file, check disk space..."));
  EXPECT_TRUE(fs::is_empty(small));
  dlm_cleanup();
  umount(small.c_str());
}

TEST_F(DownloadManagerTest, AFolderThatCannotBeMadeFailsTheStart) {
  write_file(dir_.file("plain"), "a file, not a folder");
  EXPECT_EQ(dlm_init(pool_, dir_.file("plain/download").c_str()), APR_EGENERAL);
  EXPECT_TRUE(log_.contains("Could not create folder for storing downloaded data, reason:"));
}

TEST_F(DownloadManagerTest, ShutdownReportsAndRemovesTemporaryFiles) {
  std::string stall = url("/stall?seconds=30");
  std::string kept = serve("kept.mp3", "kept");
  ASSERT_EQ(add(stall, DLM_TAKE_REF, "stalled item"), 0);
  ASSERT_EQ(add(kept, DLM_TAKE_REF), 0);
  ASSERT_EQ(done_.wait(kept), 1);
  EXPECT_EQ(dlm_is_downloading("stalled item"), 1);
  write_file(folder_ + "/00000000-0000-0000-0000-000000000000.part.mp3", "left by an earlier run");
  // Regression: the clean-up deleted what a transfer of another process
  // sharing the folder was writing.
  const std::string other = folder_ + "/11111111-1111-1111-1111-111111111111.part.mp4";
  write_file(other, "written by another process");
  apr_file_t *writer = nullptr;
  ASSERT_EQ(apr_file_open(&writer, other.c_str(), APR_FOPEN_WRITE, APR_FPROT_OS_DEFAULT, pool_), 0);
  ASSERT_EQ(apr_file_lock(writer, APR_FLOCK_SHARED), 0);
  dlm_cleanup();
  EXPECT_TRUE(fs::exists(other));
  apr_file_close(writer);
  fs::remove(other);
  download_stop();
  ASSERT_EQ(download_init(pool_, 1), 0);
  EXPECT_TRUE(log_.contains("Cleanup of downloads called."));
  EXPECT_TRUE(log_.contains("for url " + stall + " still downloading at shutdown."));
  EXPECT_TRUE(log_.contains("for url " + kept + " still referenced at shutdown."));
  EXPECT_TRUE(part_files().empty());
  EXPECT_EQ(dlm_is_downloading("stalled item"), 0);
}

TEST(DownloadNames, ExtensionsFollowTheUrl) {
  TestPool pool;
  auto ext = [&](const char *u) {
    const char *e = dlm_extension(pool, u);
    return std::string(e != nullptr ? e : "(none)");
  };
  EXPECT_EQ(ext("http://www.youtube.com/get_video?video_id=x&fmt=22"), "mp4");
  EXPECT_EQ(ext("http://youtube.com/v/player.swf?fmt=45"), "webm");
  EXPECT_EQ(ext("http://www.youtube.com/get_video?video_id=x"), "flv");
  EXPECT_EQ(ext("http://notyoutube.com/get_video?fmt=22"), "(none)");
  EXPECT_EQ(ext("http://h/a/song.MP3?x=1"), "MP3");
  EXPECT_EQ(ext("http://h/a/file.tar%2F..%2Fx"), "(none)");
  std::string temp = dlm_temp_path(pool, "/srv/dl", "http://www.youtube.com/get_video?video_id=x&fmt=22");
  EXPECT_TRUE(temp.ends_with(".part.mp4")) << temp;
  EXPECT_EQ(temp.rfind("/srv/dl/", 0), 0u);
}

// Head copies for probers: cut at the limit, whole when the resource is
// shorter, deleted with their last reference, never renamed to a final name.
TEST_F(DownloadManagerTest, AHeadCopyStopsAtItsLimitAndGoesWithItsLastReference) {
  const std::string big = serve("big.mp4", std::string(200000, 'b'));
  const std::string small = serve("small.mp4", std::string(5000, 's'));
  DlmHeadCopy copy{};
  ASSERT_EQ(dlm_ref_head(pool_, big.c_str(), 10000, nullptr, nullptr, &copy), 0);
  EXPECT_EQ(copy.size, 10000);
  EXPECT_EQ(copy.total, 200000);
  EXPECT_EQ(read_file(copy.path), std::string(10000, 'b'));
  EXPECT_EQ(dlm_ref_completed(pool_, big.c_str(), &copy.path, &copy.size), APR_NOTFOUND)
      << "a head is not a completed download";
  dlm_unref(big.c_str());
  ASSERT_EQ(dlm_ref_head(pool_, small.c_str(), 10000, nullptr, nullptr, &copy), 0);
  EXPECT_EQ(copy.size, 5000);
  EXPECT_EQ(copy.total, 5000);
  dlm_unref(small.c_str());
  EXPECT_TRUE(eventually([&] { return fs::is_empty(folder_); }));
}

TEST_F(DownloadManagerTest, AHeadCopySharesADownloadAndGivesWayToOne) {
  // A completed download of the URL is shared, and still kept afterwards.
  const std::string kept = serve("kept.mp4", std::string(30000, 'k'));
  ASSERT_EQ(add(kept, DLM_TAKE_REF), 0);
  ASSERT_EQ(done_.wait(kept), 1);
  ASSERT_TRUE(eventually([&] { return log_.contains("Removed temp ref (1) for " + kept + " "); }));
  DlmHeadCopy copy{};
  ASSERT_EQ(dlm_ref_head(pool_, kept.c_str(), 1000, nullptr, nullptr, &copy), 0);
  EXPECT_EQ(copy.size, 30000);
  EXPECT_EQ(copy.total, 30000);
  dlm_unref(kept.c_str());
  dlm_unref(kept.c_str());
  EXPECT_EQ(read_file(final_path(kept)), std::string(30000, 'k'));

  // A whole download asked for while a head copy is held replaces it: the
  // head's reference moves to it and the final file is whole.
  const std::string clip = serve("clip.mp4", std::string(50000, 'c'));
  ASSERT_EQ(dlm_ref_head(pool_, clip.c_str(), 1000, nullptr, nullptr, &copy), 0);
  ASSERT_EQ(add(clip, DLM_TAKE_REF), 0);
  ASSERT_EQ(done_.wait(clip), 1);
  ASSERT_TRUE(eventually([&] { return log_.contains("Removed temp ref (2) for " + clip + " "); }));
  dlm_unref(clip.c_str());
  dlm_unref(clip.c_str());
  EXPECT_EQ(read_file(final_path(clip)), std::string(50000, 'c'));
  EXPECT_TRUE(eventually([&] { return part_files().empty(); }));
}

// Regression: a URL's own "..", "/" and length must not carry its final or
// temporary name out of the download folder or past the name limit.
TEST(DownloadNames, HostileUrlsStayInsideTheFolder) {
  TestPool pool;
  const std::string folder = "/srv/data/download";
  for (const std::string &u :
       {std::string("http://h/../../etc/passwd"), std::string(".."), std::string("."), std::string("http://h/a/.."),
        std::string("http://h/%00%2e%2e/x.mp3"), std::string("http://h/") + std::string(4000, 'a') + ".mp3",
        std::string("http://h/x.") + std::string(300, 'e'), std::string("a\\..\\..\\b")}) {
    for (const char *made : {dlm_final_path(pool, folder.c_str(), u.c_str()),
                             dlm_temp_path(pool, folder.c_str(), u.c_str())}) {
      ASSERT_NE(made, nullptr) << u;
      fs::path path(made);
      EXPECT_EQ(path.parent_path().string(), folder) << u;
      std::string name = path.filename().string();
      EXPECT_NE(name, "..");
      EXPECT_NE(name, ".");
      EXPECT_LE(name.size(), 255u) << u;
    }
  }
}

// Adds and unreferences from several threads race the completions on the
// download thread and cache cleanups that would delete every file they may.
TEST_F(DownloadManagerTest, AddsAndUnreferencesRaceCompletionsAndCleanups) {
  constexpr int kUrls = 8, kThreads = 4;
  cache_set_limits(0, 0);
  std::vector<std::string> urls;
  for (int i = 0; i < kUrls; ++i)
    urls.push_back(serve("r" + std::to_string(i) + ".mp3", std::string(20000 + i, static_cast<char>('a' + i))));
  std::atomic<bool> adding{true};
  std::thread cleaner([&] {
    while (adding.load()) cache_cleanup();
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round)
        for (int i = 0; i < kUrls; ++i) {
          const std::string &u = urls[static_cast<std::size_t>((i + t) % kUrls)];
          if (add(u, DLM_TAKE_REF) == 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(100 * (t + 1)));
            dlm_unref(u.c_str());
          }
        }
    });
  for (std::thread &t : threads) t.join();
  // The last completion's rename may follow its callback on the download
  // thread: settled once nothing downloads, no temporary file is left and
  // every completion's rename is logged.
  auto settled = [&] {
    if (dlm_is_downloading("item") || !part_files().empty()) return false;
    std::lock_guard<std::mutex> lock(done_.mutex);
    for (const std::string &u : urls)
      if (renames(u) != static_cast<int>(done_.results[u].size())) return false;
    return true;
  };
  EXPECT_TRUE(eventually(settled));
  adding = false;
  cleaner.join();
  for (const std::string &u : urls) {
    std::lock_guard<std::mutex> lock(done_.mutex);
    for (int success : done_.results[u]) EXPECT_EQ(success, 1) << u;
    EXPECT_EQ(renames(u), static_cast<int>(done_.results[u].size())) << "each completed download renamed once: " << u;
  }
  EXPECT_FALSE(log_.contains("Could not rename file for URL")) << "a locked temporary file was deleted";
  dlm_cleanup();
  download_stop();
  ASSERT_EQ(download_init(pool_, 1), 0);
  EXPECT_TRUE(part_files().empty());
}

}  // namespace
