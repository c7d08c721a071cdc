// Background downloads against the scripted local server: the queue's limits,
// live streams, failures that leave no file, conditional downloads and
// cancellation.
#include <gtest/gtest.h>

#include <apr_file_info.h>
#include <apr_file_io.h>
#include <apr_time.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

#include "CommonDownload.h"
#include "HttpFixture.h"

namespace {

// Collects what the download thread reports.
struct Reports {
  std::mutex mutex;
  std::condition_variable changed;
  std::map<std::string, int> done;        // url -> success
  std::map<std::string, apr_int64_t> size;  // url -> expected size

  static void on_done(const char *url, int success, void *self) {
    auto *r = static_cast<Reports *>(self);
    std::lock_guard<std::mutex> lock(r->mutex);
    r->done[url] = success;
    r->changed.notify_all();
  }
  static void on_headers(const char *url, const char *, apr_int64_t size, void *self) {
    auto *r = static_cast<Reports *>(self);
    std::lock_guard<std::mutex> lock(r->mutex);
    r->size[url] = size;
    r->changed.notify_all();
  }
  void forget(const std::string &url) {
    std::lock_guard<std::mutex> lock(mutex);
    done.erase(url);
    size.erase(url);
  }
  // The success flag of url once it is done, or -1 after 20 s.
  int wait_done(const std::string &url) {
    std::unique_lock<std::mutex> lock(mutex);
    bool seen = changed.wait_for(lock, std::chrono::seconds(20), [&] { return done.count(url) > 0; });
    return seen ? done[url] : -1;
  }
  bool wait_headers(const std::string &url) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), [&] { return size.count(url) > 0; });
  }
};

bool exists(const std::string &path) {
  apr_finfo_t info;
  TestPool pool;
  return apr_stat(&info, path.c_str(), APR_FINFO_TYPE, pool) == APR_SUCCESS;
}

class DownloadQueueTest : public HttpFixture {
 protected:
  void SetUp() override {
    HttpFixture::SetUp();
    ASSERT_EQ(download_init(pool_, active_), 0);
  }
  void TearDown() override {
    EXPECT_EQ(download_stop(), 0);
    HttpFixture::TearDown();
  }
  int queue(const std::string &u, const std::string &path, int refuse_live = 0, int conditional = 0) {
    return download_queue(u.c_str(), path.c_str(), refuse_live, conditional, Reports::on_done, Reports::on_headers,
                          &reports_);
  }
  // A job that writes no more than byte_limit bytes.
  int queue_limited(const std::string &u, const std::string &path, apr_int64_t byte_limit) {
    DownloadJobSpec spec;
    spec.url = u.c_str();
    spec.path = path.c_str();
    spec.byte_limit = byte_limit;
    spec.done = Reports::on_done;
    spec.context = &reports_;
    return download_queue_job(spec);
  }
  int active_ = 2;
  Reports reports_;
};

TEST_F(DownloadQueueTest, DownloadsAFileAndTellsItsSize) {
  std::string content(300000, 'z');
  std::string u = serve("big.bin", content);
  std::string target = dir_.file("out.bin");
  ASSERT_EQ(queue(u, target), 0);
  EXPECT_EQ(reports_.wait_done(u), 1);
  EXPECT_EQ(reports_.size[u], 300000);
  EXPECT_EQ(read_file(target), content);
}

TEST_F(DownloadQueueTest, FailuresLeaveNoFile) {
  std::string missing = url("/files/none.mp3");
  std::string mid = url("/closemid");
  std::string garbage = url("/garbage");
  std::string nowhere = serve("a.txt", "text");
  ASSERT_EQ(queue(missing, dir_.file("404.mp3")), 0);
  ASSERT_EQ(queue(mid, dir_.file("mid.mp3")), 0);
  ASSERT_EQ(queue(garbage, dir_.file("garbage.mp3")), 0);
  ASSERT_EQ(queue(nowhere, dir_.file("no/such/folder/a.txt")), 0);
  EXPECT_EQ(reports_.wait_done(missing), 0);
  EXPECT_EQ(reports_.wait_done(mid), 0);
  EXPECT_EQ(reports_.wait_done(garbage), 0);
  EXPECT_EQ(reports_.wait_done(nowhere), 0);
  for (const char *name : {"404.mp3", "mid.mp3", "garbage.mp3"}) EXPECT_FALSE(exists(dir_.file(name))) << name;
  EXPECT_EQ(log_.count("CommonDownload", 3, "Failed HTTP response for " + missing), 1);
  EXPECT_TRUE(log_.contains("Download of " + missing + " failed/aborted, reason:"));
  EXPECT_TRUE(log_.contains("Unable to create and/or truncate file (" + dir_.file("no/such/folder/a.txt") + ")"));
}

TEST_F(DownloadQueueTest, ASecondJobOnAPathGets17) {
  std::string stall = url("/stall?seconds=30");
  std::string target = dir_.file("busy.mp3");
  ASSERT_EQ(queue(stall, target), 0);
  EXPECT_EQ(queue(url("/files/other.mp3"), target), APR_EEXIST);
  EXPECT_EQ(log_.count("CommonDownload", 3, "Can't download to path " + target + " since it is already in use"), 1);
  ASSERT_TRUE(reports_.wait_headers(stall));
  EXPECT_EQ(download_cancel(target.c_str(), 1), 0) << "not a live stream";
  EXPECT_EQ(download_cancel(target.c_str(), 0), 1);
  EXPECT_EQ(reports_.wait_done(stall), 0);
  EXPECT_FALSE(exists(target));
}

TEST_F(DownloadQueueTest, LiveStreamsRefusedOrCancelled) {
  std::string icy = url("/icy");
  std::string live = url("/live");
  std::string chunked = url("/chunked");
  ASSERT_EQ(queue(icy, dir_.file("icy.mp3"), 1), 0);
  ASSERT_EQ(queue(live, dir_.file("live.mp3"), 1), 0);
  EXPECT_EQ(reports_.wait_done(icy), 0);
  EXPECT_EQ(reports_.wait_done(live), 0);
  EXPECT_EQ(log_.count("CommonDownload", 0, "Aborting download of infinite size file / live stream (" + live + ")"), 1);
  ASSERT_EQ(queue(chunked, dir_.file("chunked.mp3"), 1), 0);
  EXPECT_EQ(reports_.wait_done(chunked), 1) << "a chunked answer without icy- headers is not a live stream";
  std::string kept = dir_.file("kept.mp3");
  reports_.forget(live);
  ASSERT_EQ(queue(live, kept, 0), 0);
  ASSERT_TRUE(reports_.wait_headers(live));
  EXPECT_EQ(reports_.size[live], -1);
  EXPECT_EQ(download_cancel(kept.c_str(), 1), 1);
  EXPECT_EQ(reports_.wait_done(live), 0);
  EXPECT_FALSE(exists(kept));
}

TEST_F(DownloadQueueTest, ServersKnownToAnnounceSizesOfStreams) {
  std::string nanocaster = url("/announced?server=Nanocaster/2.1&length=44000000");
  std::string zentoria = url("/announced?server=Zentoria%20Media%20Server&length=4294967295");
  std::string apache = url("/announced?server=Apache&length=44000000");
  ASSERT_EQ(queue(nanocaster, dir_.file("n.mp3"), 1), 0);
  ASSERT_EQ(queue(zentoria, dir_.file("z.mp3"), 1), 0);
  ASSERT_EQ(queue(apache, dir_.file("a.mp3"), 1), 0);
  EXPECT_EQ(reports_.wait_done(nanocaster), 0);
  EXPECT_EQ(reports_.wait_done(zentoria), 0);
  EXPECT_EQ(reports_.wait_done(apache), 0) << "closed long before its announced end";
  for (const std::string &u : {nanocaster, zentoria})
    EXPECT_EQ(log_.count("CommonDownload", 0, "Aborting download of infinite size file / live stream (" + u + ")"), 1);
  EXPECT_EQ(reports_.size[apache], 44000000);
  EXPECT_FALSE(exists(dir_.file("a.mp3")));
}

TEST_F(DownloadQueueTest, ConditionalDownloadKeepsTheCopyOn304) {
  std::string u = serve("feed.xml", "<rss>new</rss>");
  std::string target = dir_.file("feed.copy");
  ASSERT_EQ(queue(u, target, 0, 1), 0);
  ASSERT_EQ(reports_.wait_done(u), 1);
  EXPECT_EQ(read_file(target), "<rss>new</rss>");
  apr_finfo_t served, copied;
  ASSERT_EQ(apr_stat(&served, dir_.file("feed.xml").c_str(), APR_FINFO_MTIME, pool_), APR_SUCCESS);
  ASSERT_EQ(apr_stat(&copied, target.c_str(), APR_FINFO_MTIME, pool_), APR_SUCCESS);
  EXPECT_EQ(apr_time_sec(copied.mtime), apr_time_sec(served.mtime)) << "the copy carries Last-Modified";
  // A local edit that keeps the time shows which copy survives the 304.
  write_file(target, "<rss>kept</rss>");
  ASSERT_EQ(apr_file_mtime_set(target.c_str(), copied.mtime, pool_), APR_SUCCESS);
  reports_.forget(u);
  ASSERT_EQ(queue(u, target, 0, 1), 0);
  ASSERT_EQ(reports_.wait_done(u), 1);
  EXPECT_EQ(read_file(target), "<rss>kept</rss>");
  EXPECT_FALSE(exists(target + ".bak"));
}

TEST_F(DownloadQueueTest, ByteLimitEndsTheDownloadWithSuccess) {
  std::string u = serve("long.bin", std::string(100000, 'q'));
  std::string target = dir_.file("head.bin");
  ASSERT_EQ(queue_limited(u, target, 1000), 0);
  EXPECT_EQ(reports_.wait_done(u), 1);
  EXPECT_EQ(read_file(target), std::string(1000, 'q'));
}

// A whole file on a slow but steady line is not cut at the deadline; a head
// copy, which a probe waits for, is.
TEST_F(DownloadQueueTest, TheDeadlineCutsHeadCopiesButNotBackgroundDownloads) {
  download_set_deadline(1);
  const std::string whole = url("/trickle?seconds=3");
  const std::string head = url("/trickle?seconds=3&head=1");
  ASSERT_EQ(queue(whole, dir_.file("whole.mp3")), 0);
  ASSERT_EQ(queue_limited(head, dir_.file("head.mp3"), 100000), 0);
  EXPECT_EQ(reports_.wait_done(head), 0);
  EXPECT_EQ(reports_.wait_done(whole), 1);
  download_set_deadline(DOWNLOAD_DEFAULT_DEADLINE_MINUTES * 60L);
  EXPECT_EQ(read_file(dir_.file("whole.mp3")).size(), 12000u);
}

class DownloadQueueFullTest : public DownloadQueueTest {
 protected:
  DownloadQueueFullTest() { active_ = 1; }
};

TEST_F(DownloadQueueFullTest, The201stWaitingJobIsRefused) {
  std::string stall = url("/stall?seconds=30");
  std::string busy = dir_.file("busy.mp3");
  ASSERT_EQ(queue(stall, busy), 0);
  ASSERT_TRUE(reports_.wait_headers(stall)) << "the one transfer is running";
  std::string missing = url("/files/none");
  for (int i = 0; i < DOWNLOAD_QUEUE_SIZE; ++i)
    ASSERT_EQ(queue(missing, dir_.file("w" + std::to_string(i))), 0) << i;
  EXPECT_EQ(queue(missing, dir_.file("one-too-many")), APR_EAGAIN);
  EXPECT_EQ(log_.count("CommonDownload", 3, "Could not queue download job - the queue is full, failing request"), 1);
  EXPECT_EQ(download_cancel(busy.c_str(), 0), 1);
}

}  // namespace
