// Metafiles and feeds on a web server (a local one on 127.0.0.1): feeds read
// from URLs and the playable URL behind a metafile URL.
#include <gtest/gtest.h>

#include <apr_file_info.h>
#include <apr_file_io.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "CommonMetaFile.h"
#include "HttpFixture.h"
#include "MetaFileSupport.h"

namespace {

class MetaFileUrl : public HttpFixture {
 protected:
  void SetUp() override {
    HttpFixture::SetUp();
    download_ = dir_.file("download");
    ASSERT_EQ(apr_dir_make(download_.c_str(), APR_OS_DEFAULT, pool_), APR_SUCCESS);
    metafile_init(pool_, (download_ + "/").c_str());
  }
  void TearDown() override {
    metafile_terminate();
    HttpFixture::TearDown();
  }
  std::string media_url(const std::string &url, const char *mime = nullptr) {
    const char *answer = metafile_media_url(pool_, url.c_str(), mime, nullptr, nullptr);
    return answer != nullptr ? answer : "(null)";
  }
  int files_in_download() {
    apr_dir_t *folder = nullptr;
    if (apr_dir_open(&folder, download_.c_str(), pool_) != APR_SUCCESS) return -1;
    apr_finfo_t entry;
    int count = 0;
    while (apr_dir_read(&entry, APR_FINFO_NAME, folder) == APR_SUCCESS) {
      if (std::string(entry.name) != "." && std::string(entry.name) != "..") ++count;
    }
    apr_dir_close(folder);
    return count;
  }
  std::string download_;
};

TEST_F(MetaFileUrl, FeedsAndPlaylistsAreFetchedThenRead) {
  std::string feed = serve("news.rss", "<rss><channel><title>News</title><item><title>One</title>"
                                        "<enclosure url=\"http://127.0.0.1/1.mp3\" type=\"audio/mpeg\"/>"
                                        "</item></channel></rss>");
  Recorder recorder;
  ASSERT_EQ(metafile_parse(media_type_by_extension("rss", -1), 0, feed.c_str(), Recorder::callback, &recorder,
                           nullptr, nullptr),
            0);
  ASSERT_EQ(recorder.reports.size(), 3u);
  EXPECT_EQ(recorder.reports[0].sub.at("0/res"), "http://127.0.0.1/1.mp3");
  EXPECT_EQ(recorder.reports[2].container.at("0/dc:title"), "News");
  EXPECT_EQ(files_in_download(), 0) << "the fetched copy is removed";

  std::string list = serve("radio.pls", "[playlist]\nFile1=http://127.0.0.1:8000/a\n");
  recorder.reports.clear();
  std::string moved = url("/redirect?to=/files/radio.pls");
  ASSERT_EQ(metafile_parse(media_type_by_extension("pls", -1), 0, moved.c_str(), Recorder::callback, &recorder,
                           nullptr, nullptr),
            0);
  EXPECT_EQ(recorder.of_depth(3).at(0).sub.at("0/res"), "http://127.0.0.1:8000/a");
}

TEST_F(MetaFileUrl, CopiesLeftByAKilledRunAreRemovedByTheNextRun) {
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_GT(gone, 0);
  waitpid(gone, nullptr, 0);
  const std::string left = download_ + "/metafile-" + std::to_string(gone) + "-7.tmp";
  const std::string running = download_ + "/metafile-" + std::to_string(getpid()) + "-8.tmp";
  const std::string other = download_ + "/metafile-notes.tmp";
  for (const std::string &path : {left, running, other}) write_file(path, "x");
  metafile_init(pool_, (download_ + "/").c_str());
  EXPECT_FALSE(std::filesystem::exists(left));
  EXPECT_TRUE(std::filesystem::exists(running)) << "a running process may still read its copy";
  EXPECT_TRUE(std::filesystem::exists(other));
}

TEST_F(MetaFileUrl, MissingFeedsFail) {
  Recorder recorder;
  std::string missing = url("/files/none.rss");
  EXPECT_EQ(metafile_parse(media_type_by_extension("rss", -1), 0, missing.c_str(), Recorder::callback, &recorder,
                           nullptr, nullptr),
            APR_EGENERAL);
  EXPECT_EQ(log_.count("CommonMetaFile", 3, "Could not get url " + missing), 1);
  std::string broken = serve("broken.rss", "<rss><channel><title>cut");
  EXPECT_EQ(metafile_parse(media_type_by_extension("rss", -1), 0, broken.c_str(), Recorder::callback, &recorder,
                           nullptr, nullptr),
            APR_EGENERAL);
  EXPECT_EQ(log_.count("CommonMetaFile", 3, "Could not parse url " + broken), 1);
  EXPECT_EQ(files_in_download(), 0);
}

TEST_F(MetaFileUrl, MediaUrlOfWindowsMediaMetafiles) {
  std::string stream = url("/files/stream.wmv");
  std::string asx = serve("live.asx", "<ASX version=\"3.0\">\n<Entry>\n<Ref href=\"" + stream + "\"/>\n</Entry>\n</ASX>\n");
  std::string expected = "mms" + stream.substr(4);
  EXPECT_EQ(media_url(asx), expected);
  write_file(dir_.file("live.asx"), "changed");
  EXPECT_EQ(media_url(asx), expected) << "the last answer is remembered";
  EXPECT_EQ(media_url("mms://127.0.0.1/x"), "mms://127.0.0.1/x");
  EXPECT_EQ(media_url("http://127.0.0.1/a.mp3", "audio/mpeg"), "http://127.0.0.1/a.mp3");
  EXPECT_EQ(media_url("http://127.0.0.1/a.wmv", "video/x-ms-wmv"), "mms://127.0.0.1/a.wmv");
  EXPECT_EQ(media_url("http://127.0.0.1/a.pls", "audio/x-scpls"), "http://127.0.0.1/a.pls");
  EXPECT_EQ(media_url("http://www.example.com/live/radio.asx"), "mms://www.example.com/live/radio");
}

TEST_F(MetaFileUrl, MediaUrlChecksWhatItFound) {
  std::string song = serve("song.mp3", "ID3");
  std::string ram = serve("song.ram", song + "\n");
  EXPECT_EQ(media_url(ram), song);
  std::string gone = serve("gone.ram", url("/files/none.mp3") + "\n");
  EXPECT_EQ(media_url(gone), "(null)");
  std::string page = serve("page.ram", "<html><body>nothing</body></html>\n");
  EXPECT_EQ(media_url(page), "(null)");
  EXPECT_EQ(log_.count("CommonMetaFile", 3, "Could not get media url for " + page), 1);
}

// The remembered answer of metafile_media_url is shared by every thread: a
// thread must never read another's half-written URL.
TEST(MetaFileMediaUrl, RememberedAnswerSharedBetweenThreadsStaysWhole) {
  TestPool pool;
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &wrong] {
      apr_pool_t *own = nullptr;
      apr_pool_create(&own, nullptr);
      for (int i = 0; i < 20000; ++i) {
        // Lengths change all the time, so that the slot's text is reallocated.
        std::string url = "mms://127.0.0.1/thread-" + std::to_string(t) + "/" +
                          std::string(static_cast<std::size_t>(20 + (i * 37 + t * 101) % 900), static_cast<char>('a' + t));
        const char *answer = metafile_media_url(own, url.c_str(), nullptr, nullptr, nullptr);
        if (answer == nullptr || url != answer) ++wrong[t];
        apr_pool_clear(own);
      }
      apr_pool_destroy(own);
    });
  }
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST_F(MetaFileUrl, MetafilesPointingToEachOtherEnd) {
  std::string first = url("/files/a.asx");
  std::string second = url("/files/b.asx");
  serve("a.asx", "<asx><entry><ref href=\"" + second + "\"/></entry></asx>\n");
  serve("b.asx", "<asx><entry><ref href=\"" + first + "\"/></entry></asx>\n");
  EXPECT_EQ(media_url(first), "(null)");
  EXPECT_TRUE(log_.contains("Too many metafiles chained from"));
}

}  // namespace

namespace {

class SiteCrawl : public HttpFixture {
 protected:
  void SetUp() override {
    HttpFixture::SetUp();
    ASSERT_EQ(apr_dir_make_recursive(dir_.file("site/music").c_str(), APR_OS_DEFAULT, pool_), APR_SUCCESS);
  }
  int crawl(const std::string &start, int depth, Recorder *recorder) {
    std::string site = url("/files/site/");
    return site_crawl(site.c_str(), start.c_str(), depth, MEDIA_AUDIO, Recorder::callback, recorder, nullptr, nullptr);
  }
};

TEST_F(SiteCrawl, PagesWithMediaLinksBecomeItems) {
  serve("site/index.html",
        "<html><head><title> Home Radio </title></head><body>\n"
        "<a href=\"music/page.html\">Music</a> <a href=\"song.mp3\">Song</a> <img src=\"logo.png\">\n"
        "</body></html>\n");
  serve("site/music/page.html",
        "<html><body><a href='../index.html'>home</a> <a href=\"a.mp3\">A</a> <a href=\"b.ogg\">B</a>\n"
        "<a href=\"clip.mp4\">video</a></body></html>\n");
  std::string start = url("/files/site/index.html");
  Recorder recorder;
  ASSERT_EQ(crawl(start, 2, &recorder), 0);
  ASSERT_EQ(recorder.reports.size(), 6u);
  EXPECT_EQ(recorder.reports[0].sub, (Props{{"0/res", url("/files/site/song.mp3")},
                                            {"0/res@mimeType", "audio/mpeg"},
                                            {"0/dc:title", "song.mp3"}}));
  EXPECT_EQ(recorder.reports[1].item, (Props{{"0/res", start}, {"0/dc:title", "127"}}));
  EXPECT_EQ(recorder.reports[2].sub.at("0/res"), url("/files/site/music/a.mp3"));
  EXPECT_EQ(recorder.reports[3].sub.at("0/res"), url("/files/site/music/b.ogg"));
  EXPECT_EQ(recorder.reports[4].item,
            (Props{{"0/res", url("/files/site/music/page.html")}, {"0/dc:title", "page.html"}}));
  EXPECT_EQ(recorder.reports[5].container, (Props{{"0/dc:relation", url("/files/site/")},
                                                  {"0/res", start},
                                                  {"0/dc:title", "Home Radio"}}));
  EXPECT_EQ(log_.count("CommonMetaFile", 1, "Getting " + url("/files/site/index.html")), 1)
      << "the page linking back is not read again";

  recorder.reports.clear();
  ASSERT_EQ(crawl(start, 0, &recorder), 0);
  EXPECT_EQ(recorder.of_depth(3).size(), 1u) << "depth 0 reads the start page alone";
}

TEST_F(SiteCrawl, MissingStartPageFails) {
  Recorder recorder;
  EXPECT_EQ(crawl(url("/files/site/none.html"), 1, &recorder), APR_EGENERAL);
  EXPECT_TRUE(recorder.reports.empty());
}

TEST_F(SiteCrawl, EndlessChainsOfPagesStop) {
  for (int i = 0; i < 520; ++i) {
    serve("site/p" + std::to_string(i) + ".html", "<a href=\"p" + std::to_string(i + 1) + ".html\">next</a>");
  }
  Recorder recorder;
  ASSERT_EQ(crawl(url("/files/site/p0.html"), 100000, &recorder), 0);
  EXPECT_TRUE(log_.contains("Site crawl stopped after 500 pages"));
  ASSERT_EQ(recorder.reports.size(), 1u);
  EXPECT_EQ(recorder.reports[0].container.at("0/dc:title"), "127");
}

}  // namespace
