// The text metafile scan: the one media URL of ASX, "[Reference]" and RAM
// files, and the pages it must not read as metafiles.
#include <gtest/gtest.h>

#include <string>

#include "CommonMetaFile.h"
#include "LogCapture.h"

namespace {

std::string scan(apr_pool_t *pool, const std::string &text) {
  const char *url = metafile_scan_text(pool, text.data(), text.size());
  return url != nullptr ? url : "(none)";
}

TEST(MetaFileScan, WindowsMediaReferences) {
  TestPool pool;
  EXPECT_EQ(scan(pool, "<ASX version=\"3.0\">\n<Entry><Ref href=\"http://127.0.0.1/live\"/></Entry>\n</ASX>\n"),
            "mms://127.0.0.1/live");
  EXPECT_EQ(scan(pool, "[Reference]\r\nRef1=http://127.0.0.1/a.wmv?MSWMExt=.asf\r\nRef2=x\r\n"),
            "mms://127.0.0.1/a.wmv?MSWMExt=.asf");
  EXPECT_EQ(scan(pool, "<asx><ref href='http://127.0.0.1/next.asx'/></asx>"), "http://127.0.0.1/next.asx");
  EXPECT_EQ(scan(pool, "<ASX><Ref href=\"https://127.0.0.1/secure.wmv\"/></ASX>"), "https://127.0.0.1/secure.wmv")
      << "a secure URL has no mms form";
  EXPECT_EQ(scan(pool, "http://127.0.0.1/clip.wma\n"), "http://127.0.0.1/clip.wma");
}

TEST(MetaFileScan, StreamsWebUrlsAndPages) {
  TestPool pool;
  EXPECT_EQ(scan(pool, "rtsp://127.0.0.1/a.rm\nhttp://127.0.0.1/b.mp3\n"), "http://127.0.0.1/b.mp3");
  EXPECT_EQ(scan(pool, "http://127.0.0.1/b.mp3\nmms://127.0.0.1/live\n"), "mms://127.0.0.1/live");
  EXPECT_EQ(scan(pool, "http://127.0.0.1/a.ram\n"), "(none)");
  EXPECT_EQ(scan(pool, "<html><a href=\"mms://127.0.0.1/x\">x</a></html>"), "(none)");
  EXPECT_EQ(scan(pool, ""), "(none)");

  LogCapture log;
  EXPECT_EQ(scan(pool, "http://127.0.0.1/one.mp3\nsee http://127.0.0.1/two.mp3 too\n"), "http://127.0.0.1/one.mp3");
  EXPECT_EQ(log.count("CommonMetaFile", 2,
                      "Found an additional http url in line see http://127.0.0.1/two.mp3 too, first http url was "
                      "http://127.0.0.1/one.mp3"),
            1);
}

TEST(MetaFileScan, OnlyTheFirstFiftyLinesCount) {
  TestPool pool;
  std::string text;
  for (int i = 0; i < 50; ++i) text += "filler\r\n";
  EXPECT_EQ(scan(pool, text + "mms://127.0.0.1/late\n"), "(none)");
  EXPECT_EQ(scan(pool, text.substr(8) + "mms://127.0.0.1/last\n"), "mms://127.0.0.1/last");
}

}  // namespace
