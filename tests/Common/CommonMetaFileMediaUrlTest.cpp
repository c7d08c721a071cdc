// Metafiles and feeds on a web server (a local one on 127.0.0.1): feeds read
// from URLs and the playable URL behind a metafile URL.
#include <gtest/gtest.h>

#include <apr_file_info.h>
#include <apr_file_io.h>

#include <string>

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

TEST_F(MetaFileUrl, MetafilesPointingToEachOtherEnd) {
  std::string first = url("/files/a.asx");
  std::string second = url("/files/b.asx");
  serve("a.asx", "<asx><entry><ref href=\"" + second + "\"/></entry></asx>\n");
  serve("b.asx", "<asx><entry><ref href=\"" + first + "\"/></entry></asx>\n");
  EXPECT_EQ(media_url(first), "(null)");
  EXPECT_TRUE(log_.contains("Too many metafiles chained from"));
}

}  // namespace
