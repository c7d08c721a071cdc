// Reading iTunes library files: what is kept of tracks and playlists, the
// location decoding, the text limits, and files that are no library.
#include <apr_tables.h>
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "LibraryText.h"
#include "LogCapture.h"
#include "itunesLibrary.h"

namespace {

class LibraryRead : public ::testing::Test {
 protected:
  int read(const std::string &text) {
    write_file(dir.file("library.xml"), text);
    return itunes_library_read(pool, dir.file("library.xml").c_str(), &library);
  }
  const ItunesTrack &track(const char *id) {
    auto *found = static_cast<const ItunesTrack *>(apr_hash_get(library.tracks, id, APR_HASH_KEY_STRING));
    EXPECT_NE(found, nullptr) << id;
    static const ItunesTrack none;
    return found != nullptr ? *found : none;
  }
  const ItunesPlaylist *playlist(const std::string &name) {
    return static_cast<const ItunesPlaylist *>(apr_hash_get(library.playlists, name.c_str(), APR_HASH_KEY_STRING));
  }
  static std::string item(const ItunesPlaylist *playlist, int i) {
    return APR_ARRAY_IDX(playlist->items, i, const char *);
  }

  TestPool pool;
  TempDir dir;
  LogCapture log;
  ItunesLibrary library;
};

}  // namespace

TEST_F(LibraryRead, KeepsTheTrackFactsThePlaylistsNeed) {
  ASSERT_EQ(read(LibraryText()
                     .track(11, "One", local_file("Music/One.mp3"), total_time(184999))
                     .track(12, "Two", local_file("Music/Two.m4p"), "\t\t\t<key>Protected</key><false/>\n")
                     .track(13, "Stream", "")
                     .playlist("Mix", {12, 11, 13})
                     .str()),
            0);
  EXPECT_STREQ(track("11").title, "One");
  EXPECT_STREQ(track("11").total_time, "184999");
  EXPECT_FALSE(track("11").is_protected);
  EXPECT_TRUE(track("12").is_protected) << "a Protected key counts even when false";
  EXPECT_EQ(track("12").total_time, nullptr);
  EXPECT_EQ(track("13").location, nullptr);
  const ItunesPlaylist *mix = playlist("Mix");
  ASSERT_NE(mix, nullptr);
  ASSERT_EQ(mix->items->nelts, 3);
  EXPECT_EQ(item(mix, 0), "12");
  EXPECT_EQ(item(mix, 1), "11");
  EXPECT_EQ(item(mix, 2), "13");
}

// Windows libraries locate files as file://localhost/C:/..., macOS and Linux
// ones as file://localhost/srv/... or file:///srv/..., whose "/" must stay.
TEST_F(LibraryRead, PosixLocationLostItsLeadingSlash) {
  const struct {
    const char *location;
    const char *path;
  } cases[] = {
      {"file://localhost/C:/My%20Music/AC+DC/%C3%A9t%C3%A9.mp3", "C:/My Music/AC DC/\xC3\xA9t\xC3\xA9.mp3"},
      {"FILE://LOCALHOST/d:/a.mp3", "d:/a.mp3"},
      {"file://localhost/srv/music/x%20y.mp3", "/srv/music/x y.mp3"},
      {"file:///Users/me/Music/a.m4a", "/Users/me/Music/a.m4a"},
      {"http://radio.example/live%3Fid%3D7.mp3", "http://radio.example/live?id=7.mp3"},
  };
  LibraryText library;
  for (int i = 0; i < static_cast<int>(std::size(cases)); ++i) library.track(i + 1, "T", cases[i].location);
  ASSERT_EQ(read(library.playlist("P", {1}).str()), 0);
  for (int i = 0; i < static_cast<int>(std::size(cases)); ++i)
    EXPECT_STREQ(track(std::to_string(i + 1).c_str()).location, cases[i].path) << cases[i].location;
}

TEST_F(LibraryRead, NonAsciiNamesSurviveByteForByte) {
  const std::string name = "\xD0\x9F\xD0\xB5\xD1\x81\xD0\xBD\xD0\xB8 \xE6\x97\x85 &amp; co";
  ASSERT_EQ(read(LibraryText().track(1, name, local_file("a.mp3")).playlist(name, {1}).str()), 0);
  const std::string decoded = "\xD0\x9F\xD0\xB5\xD1\x81\xD0\xBD\xD0\xB8 \xE6\x97\x85 & co";
  EXPECT_STREQ(track("1").title, decoded.c_str());
  EXPECT_NE(playlist(decoded), nullptr);
}

TEST_F(LibraryRead, LongTextsAreCutAtTheirLimits) {
  std::string long_id(1500, '7');
  std::string document = LibraryText().track(1, std::string(5000, 'x'), local_file("a.mp3")).str();
  document.replace(document.find("<key>1</key>"), 12, "<key>" + long_id + "</key>");
  ASSERT_EQ(read(document), 0);
  EXPECT_EQ(std::string(track(long_id.substr(0, ITUNES_MAX_KEY).c_str()).title), std::string(ITUNES_MAX_TEXT, 'x'));
}

TEST_F(LibraryRead, CutNeverSplitsACharacter) {
  std::string title = std::string(ITUNES_MAX_TEXT - 1, 'x') + "\xC3\xA9";
  ASSERT_EQ(read(LibraryText().track(1, title, local_file("a.mp3")).str()), 0);
  EXPECT_EQ(std::string(track("1").title), std::string(ITUNES_MAX_TEXT - 1, 'x'));
}

TEST_F(LibraryRead, LastPlaylistOfANameWins) {
  ASSERT_EQ(read(LibraryText()
                     .track(1, "A", local_file("a.mp3"))
                     .track(2, "B", local_file("b.mp3"))
                     .playlist("Same", {1})
                     .playlist("Same", {2, 1})
                     .str()),
            0);
  ASSERT_EQ(apr_hash_count(library.playlists), 1u);
  EXPECT_EQ(playlist("Same")->items->nelts, 2);
  EXPECT_EQ(item(playlist("Same"), 0), "2");
}

TEST_F(LibraryRead, PlaylistWithoutItemsHasNone) {
  std::string document = LibraryText().playlist("Empty folder", {}).str();
  document.replace(document.find("<key>Playlist Items</key>"), 25, "<key>Folder</key><true/>");
  ASSERT_EQ(read(document), 0);
  ASSERT_NE(playlist("Empty folder"), nullptr);
  EXPECT_EQ(playlist("Empty folder")->items, nullptr);
}

TEST_F(LibraryRead, FilesThatAreNoLibraryCannotBeParsed) {
  std::string whole = LibraryText().track(1, "A", local_file("a.mp3")).playlist("P", {1}).str();
  const std::string cases[] = {
      "",
      whole.substr(0, whole.size() / 2),
      "this is not xml at all\n",
      "<?xml version=\"1.0\"?><html><body>hello</body></html>",
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Tracks</key><dict/></dict></plist>",
  };
  for (const std::string &text : cases) {
    log.clear();
    EXPECT_EQ(read(text), 20014) << text;
    EXPECT_EQ(log.count("itunesConversionUtils", 3, "Could not parse " + dir.file("library.xml")), 1) << text;
  }
  EXPECT_EQ(itunes_library_read(pool, dir.file("missing.xml").c_str(), &library), 20014);
}
