// The text playlist reader: extended M3U, PLS and plain lists, their line
// errors, encodings and line ends.
#include <gtest/gtest.h>

#include <string>

#include "CommonMetaFile.h"
#include "MetaFileSupport.h"

namespace {

TEST(MetaFileM3u, ExtendedListWithTimesTitlesAndPaths) {
  TestPool pool;
  TempDir dir;
  Recorder recorder;
  ASSERT_EQ(parse_text(dir, "mix.m3u",
                       "#EXTM3U\n"
                       "#EXTINF:215,Miles Quartet - So What\n"
                       "/srv/music/jazz/so what.mp3\n"
                       "\n"
                       "#EXTINF:-1,Jazz Radio\n"
                       "  http://127.0.0.1:8000/jazz stream  \n"
                       "C:\\Music\\blue.mp3\n"
                       "# a comment\n"
                       "#EXTINF:Untimed title\n"
                       "http://127.0.0.1/untimed.mp3\n",
                       &recorder),
            0);
  ASSERT_EQ(recorder.reports.size(), 9u);
  EXPECT_EQ(recorder.reports[0].sub,
            (Props{{"0/res", "/srv/music/jazz/so what.mp3"}, {"0/res@duration", "00:03:35.000"}}));
  EXPECT_EQ(recorder.reports[1].item, (Props{{"0/dc:title", "Miles Quartet - So What"}}));
  EXPECT_EQ(recorder.reports[2].sub, (Props{{"0/res", "http://127.0.0.1:8000/jazz stream"}}));
  EXPECT_EQ(recorder.reports[3].item, (Props{{"0/dc:title", "Jazz Radio"}}));
  EXPECT_EQ(recorder.reports[4].sub, (Props{{"0/res", "C:\\Music\\blue.mp3"}}));
  EXPECT_EQ(recorder.reports[5].item, Props{});
  EXPECT_EQ(recorder.reports[6].sub, (Props{{"0/res", "http://127.0.0.1/untimed.mp3"}}));
  EXPECT_EQ(recorder.reports[7].item, (Props{{"0/dc:title", "Untimed title"}}));
  EXPECT_EQ(recorder.reports[8].depth, 1);
  EXPECT_EQ(recorder.reports[8].container, Props{});
}

TEST(MetaFileM3u, PlainListsWithCarriageReturnsAndMarks) {
  TestPool pool;
  TempDir dir;
  Recorder recorder;
  ASSERT_EQ(parse_text(dir, "plain.m3u", "# made by hand\ra.mp3\r\rb.mp3\r", &recorder), 0);
  auto subs = recorder.of_depth(3);
  ASSERT_EQ(subs.size(), 2u);
  EXPECT_EQ(subs[0].sub.at("0/res"), "a.mp3");
  EXPECT_EQ(subs[1].sub.at("0/res"), "b.mp3");

  recorder.reports.clear();
  ASSERT_EQ(parse_text(dir, "bom.m3u", "\xef\xbb\xbf#EXTM3U\r\n#EXTINF:3,Caf\xc3\xa9\r\nc.mp3\r\n", &recorder), 0);
  ASSERT_EQ(recorder.of_depth(2).size(), 1u);
  EXPECT_EQ(recorder.of_depth(2)[0].item.at("0/dc:title"), "Caf\xc3\xa9");

  LogCapture log;
  recorder.reports.clear();
  EXPECT_EQ(parse_text(dir, "wide.m3u", std::string("\xff\xfe" "a\0.\0", 6), &recorder), APR_EGENERAL);
  EXPECT_EQ(log.count("CommonMetaFile", 3, "Encoding utf-16 is not supported"), 1);
  EXPECT_TRUE(recorder.reports.empty());

  EXPECT_EQ(parse_text(dir, "empty.m3u", "\n\n", &recorder), 0);
  EXPECT_TRUE(recorder.reports.empty());
}

TEST(MetaFileM3u, AnEntryWithInvalidUtf8IsRepairedNotDropped) {
  TestPool pool;
  TempDir dir;
  Recorder recorder;
  ASSERT_EQ(parse_text(dir, "latin.m3u", "#EXTM3U\n#EXTINF:3,Caf\xe9\ncaf\xe9.mp3\n", &recorder), 0);
  ASSERT_EQ(recorder.of_depth(3).size(), 1u);
  EXPECT_EQ(recorder.of_depth(3)[0].sub.at("0/res"), "caf\xe9.mp3") << "the file's own name, byte for byte";
  EXPECT_EQ(recorder.of_depth(2)[0].item.at("0/dc:title"), "Caf\xef\xbf\xbd");
}

TEST(MetaFileM3u, OverLongLinesAreDroppedWhole) {
  TestPool pool;
  TempDir dir;
  LogCapture log;
  Recorder recorder;
  std::string list = "a.mp3\nhttp://127.0.0.1/" + std::string(9000, 'x') + "\nb.mp3\n" + std::string(4095, 'y') + "\n";
  ASSERT_EQ(parse_text(dir, "long.m3u", list, &recorder), 0);
  auto subs = recorder.of_depth(3);
  ASSERT_EQ(subs.size(), 3u);
  EXPECT_EQ(subs[0].sub.at("0/res"), "a.mp3");
  EXPECT_EQ(subs[1].sub.at("0/res"), "b.mp3");
  EXPECT_EQ(subs[2].sub.at("0/res").size(), 4095u) << "a line that fits is kept";
  EXPECT_TRUE(log.contains("Playlist line longer than 4095 characters"));
}

TEST(MetaFilePls, RadioStations) {
  TestPool pool;
  TempDir dir;
  Recorder recorder;
  ASSERT_EQ(parse_text(dir, "radio.pls",
                       "[playlist]\n"
                       "NumberOfEntries=2\n"
                       "File1=http://127.0.0.1:8000/a\n"
                       "Title1=Station A\n"
                       "Length1=-1\n"
                       "File2: http://127.0.0.1:8000/b\n"
                       "Title2=Station B\n"
                       "Length2=60\n"
                       "Version=2\n",
                       &recorder),
            0);
  ASSERT_EQ(recorder.reports.size(), 5u);
  EXPECT_EQ(recorder.reports[0].sub, (Props{{"0/res", "http://127.0.0.1:8000/a"}}));
  EXPECT_EQ(recorder.reports[1].item,
            (Props{{"0/dc:title", "Station A"}, {"0/upnp:originalTrackNumber", "0000000001"}}));
  EXPECT_EQ(recorder.reports[2].sub,
            (Props{{"0/res", "http://127.0.0.1:8000/b"}, {"0/res@duration", "00:01:00.000"}}));
  EXPECT_EQ(recorder.reports[3].item,
            (Props{{"0/dc:title", "Station B"}, {"0/upnp:originalTrackNumber", "0000000002"}}));
  EXPECT_EQ(recorder.reports[4].depth, 1);
}

TEST(MetaFilePls, GapsDuplicatesAndVersions) {
  TestPool pool;
  TempDir dir;
  LogCapture log;
  Recorder recorder;
  ASSERT_EQ(parse_text(dir, "gaps.pls",
                       "[playlist]\nVersion=3\nFile1=a.mp3\nFile3=c.mp3\nFile1=a2.mp3\nFoo=bar\n", &recorder),
            0);
  EXPECT_EQ(log.count("CommonMetaFile", 2, "Unknown PLS version in line Version=3"), 1);
  EXPECT_EQ(log.count("CommonMetaFile", 2, "Uknown tag of PLSv2 playlist line Foo=bar"), 1);
  auto items = recorder.of_depth(2);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[1].item.at("0/upnp:originalTrackNumber"), "0000000003");
  EXPECT_EQ(recorder.of_depth(3)[2].sub.at("0/res"), "a2.mp3");
}

TEST(MetaFilePls, MalformedLinesFailTheParse) {
  TestPool pool;
  TempDir dir;
  LogCapture log;
  Recorder recorder;
  EXPECT_EQ(parse_text(dir, "a.pls", "[playlist]\nFile1 a.mp3\n", &recorder), APR_EGENERAL);
  EXPECT_EQ(log.count("CommonMetaFile", 3,
                      "Invalid PLSv2 playlist line File1 a.mp3 - equal sign '=' is missing"),
            1);
  EXPECT_EQ(parse_text(dir, "b.pls", "[playlist]\nFilex=a.mp3\n", &recorder), APR_EGENERAL);
  EXPECT_EQ(log.count("CommonMetaFile", 3,
                      "Invalid item index (the number before the equal sign) in playlist line Filex=a.mp3"),
            1);
  EXPECT_EQ(parse_text(dir, "c.pls", "[playlist]\nFile1=a.mp3\nLength1=long\n", &recorder), APR_EGENERAL);
  EXPECT_EQ(log.count("CommonMetaFile", 3,
                      "Invalid integer item (the number after the equal sign) in playlist line Length1=long"),
            1);
  EXPECT_EQ(parse_text(dir, "d.pls", "[playlist]\nFile99999999999=a.mp3\n", &recorder), APR_EGENERAL);
  EXPECT_TRUE(recorder.reports.empty()) << "a failed parse reports nothing more";
}

}  // namespace
