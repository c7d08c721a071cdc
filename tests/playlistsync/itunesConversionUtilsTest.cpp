// Whole conversions into a target folder: the file format, splitting by kind,
// what is left out, and how the target is kept in step across runs.
#include <apr_md5.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>

#include "LibraryText.h"
#include "LogCapture.h"
#include "log4c.h"
#include "itunesConversionUtils.h"

namespace fs = std::filesystem;

namespace {

class Conversion : public ::testing::Test {
 protected:
  Conversion() { fs::create_directory(target()); }

  std::string target() const { return dir.file("target"); }
  std::string in_target(const std::string &name) const { return target() + "/" + name; }
  int convert(const LibraryText &library, bool separate = false) { return convert_text(library.str(), separate); }
  int convert_text(const std::string &text, bool separate = false) {
    write_file(dir.file("iTunes Music Library.xml"), text);
    return itunes_convert(pool, dir.file("iTunes Music Library.xml").c_str(), target().c_str(), separate ? 1 : 0);
  }
  std::set<std::string> names() const {
    std::set<std::string> found;
    for (const auto &entry : fs::directory_iterator(target()))
      if (entry.is_regular_file()) found.insert(entry.path().filename().string());
    return found;
  }
  std::string content(const std::string &name) const { return read_file(in_target(name)); }
  // Puts a file's modification time far in the past, so that any rewrite shows.
  void age(const std::string &name) const { fs::last_write_time(in_target(name), kOld); }
  bool untouched(const std::string &name) const { return fs::last_write_time(in_target(name)) == kOld; }

  static inline const fs::file_time_type kOld = fs::file_time_type::clock::now() - std::chrono::hours(24 * 365);
  TestPool pool;
  TempDir dir;
  LogCapture log;
};

LibraryText road_trip() {
  return LibraryText()
      .track(100, "First Song", local_file("Music/First%20Song.mp3"), total_time(184999))
      .track(101, "Second Song", local_file("Music/Second%20Song.mp3"))
      .playlist("Road Trip", {100, 101});
}

}  // namespace

TEST_F(Conversion, TwoEntryPlaylistIsWrittenByteForByte) {
  ASSERT_EQ(convert(road_trip()), 0);
  const std::string expected =
      "[playlist]\n\n"
      "File1=C:/Music/First Song.mp3\nTitle1=First Song\nLength1=184\n\n"
      "File2=C:/Music/Second Song.mp3\nTitle2=Second Song\nLength2=-1\n\n"
      "NumberOfEntries=2\n\nVersion=2\n";
  EXPECT_EQ(names(), (std::set<std::string>{"Road Trip.pls", "Road Trip.pls.md5"}));
  EXPECT_EQ(content("Road Trip.pls"), expected);
  std::string sidecar = content("Road Trip.pls.md5");
  EXPECT_EQ(sidecar, md5_hex(expected) + " *Road Trip.pls\n");
}

TEST_F(Conversion, SeparateSplitsMoviesFromMusicByFileType) {
  LibraryText library;
  library.track(1, "Talk", local_file("V/talk.asf"))
      .track(2, "Song", local_file("M/song.mp3"))
      .track(3, "Ogg", local_file("V/a.b/clip.OGG"))
      .track(4, "Cover", local_file("M/cover.jpg"))
      .track(5, "Phone", local_file("V/phone.3gp"))
      .track(6, "No extension", local_file("M.dir/noext"))
      .playlist("Mix", {1, 2, 3, 4, 5, 6})
      .playlist("Songs", {2, 4})
      .playlist("Clips", {5, 1});
  ASSERT_EQ(convert(library, true), 0);
  EXPECT_EQ(names(), (std::set<std::string>{"Mix (Music).pls", "Mix (Music).pls.md5", "Mix (Movies).pls",
                                            "Mix (Movies).pls.md5", "Songs.pls", "Songs.pls.md5", "Clips.pls",
                                            "Clips.pls.md5"}));
  EXPECT_EQ(content("Mix (Movies).pls"),
            "[playlist]\n\nFile1=C:/V/talk.asf\nTitle1=Talk\nLength1=-1\n\n"
            "File2=C:/V/a.b/clip.OGG\nTitle2=Ogg\nLength2=-1\n\n"
            "File3=C:/V/phone.3gp\nTitle3=Phone\nLength3=-1\n\nNumberOfEntries=3\n\nVersion=2\n");
  EXPECT_EQ(content("Mix (Music).pls"),
            "[playlist]\n\nFile1=C:/M/song.mp3\nTitle1=Song\nLength1=-1\n\n"
            "File2=C:/M/cover.jpg\nTitle2=Cover\nLength2=-1\n\n"
            "File3=C:/M.dir/noext\nTitle3=No extension\nLength3=-1\n\nNumberOfEntries=3\n\nVersion=2\n");
  // A renamed file keeps a sidecar that matches its bytes.
  EXPECT_EQ(content("Clips.pls.md5").substr(0, 32), md5_hex(content("Clips.pls")));
}

TEST_F(Conversion, ProtectedAndLocationlessTracksAreLeftOut) {
  ASSERT_EQ(convert(LibraryText()
                        .track(1, "Bought", local_file("b.m4p"), "\t\t\t<key>Protected</key><true/>\n")
                        .track(2, "Radio", "")
                        .track(3, "Mine", local_file("mine.mp3"), total_time(999))
                        .playlist("Some", {1, 2, 3})
                        .playlist("Locked", {1, 2})),
            0);
  EXPECT_EQ(names(), (std::set<std::string>{"Some.pls", "Some.pls.md5"}));
  EXPECT_EQ(content("Some.pls"),
            "[playlist]\n\nFile1=C:/mine.mp3\nTitle1=Mine\nLength1=0\n\nNumberOfEntries=1\n\nVersion=2\n");
  EXPECT_TRUE(log.contains("not creating md5 for empty file file"));
  EXPECT_TRUE(log.contains("removed empty playlist "));
}

TEST_F(Conversion, PlaylistWithoutTracksIsIgnored) {
  ASSERT_EQ(convert(road_trip().playlist("Nothing", {})), 0);
  EXPECT_EQ(log.count("itunesConversionUtils", LOG4C_ERROR, "playlist with no tracks: Nothing - ignoring playlist"), 1);
  EXPECT_EQ(names(), (std::set<std::string>{"Road Trip.pls", "Road Trip.pls.md5"}));
}

TEST_F(Conversion, MissingTrackDropsOnlyItsPlaylistAndFailsTheRun) {
  EXPECT_EQ(convert(road_trip().playlist("Broken", {100, 999})), 20014);
  EXPECT_TRUE(log.contains("could not find track, playlist Broken, total number 2, current track- 2 : 999"));
  EXPECT_EQ(log.count("itunesConversionUtils", LOG4C_WARN, "errors in playlist Broken, moving to next file"), 1);
  EXPECT_EQ(names(), (std::set<std::string>{"Road Trip.pls", "Road Trip.pls.md5"}));
}

TEST_F(Conversion, UnchangedSecondRunLeavesFilesUntouched) {
  LibraryText library = road_trip().track(7, "Other", local_file("o.mp3")).playlist("Other", {7});
  ASSERT_EQ(convert(library), 0);
  for (const std::string &name : names()) age(name);
  ASSERT_EQ(convert(library), 0);
  for (const std::string &name : names()) EXPECT_TRUE(untouched(name)) << name;

  ASSERT_EQ(convert(road_trip().track(7, "Other", local_file("o.mp3")).playlist("Other", {7, 100})), 0);
  EXPECT_TRUE(untouched("Road Trip.pls"));
  EXPECT_TRUE(untouched("Road Trip.pls.md5"));
  EXPECT_FALSE(untouched("Other.pls"));
  EXPECT_FALSE(untouched("Other.pls.md5"));
  EXPECT_NE(content("Other.pls").find("NumberOfEntries=2\n"), std::string::npos);
}

TEST_F(Conversion, RemovedPlaylistDisappearsWithItsSidecar) {
  ASSERT_EQ(convert(road_trip().playlist("Gone Soon", {101})), 0);
  ASSERT_EQ(names().count("Gone Soon.pls.md5"), 1u);
  ASSERT_EQ(convert(road_trip()), 0);
  EXPECT_EQ(names(), (std::set<std::string>{"Road Trip.pls", "Road Trip.pls.md5"}));
}

TEST_F(Conversion, PlaylistWhoseSidecarNoLongerMatchesIsLeftAlone) {
  ASSERT_EQ(convert(road_trip()), 0);
  const std::string good = content("Road Trip.pls.md5");
  write_file(in_target("Road Trip.pls.md5"), good.substr(0, 20));
  write_file(in_target("Road Trip.pls"), "damaged too");
  ASSERT_EQ(convert(road_trip()), 0);
  EXPECT_TRUE(log.contains(in_target("Road Trip.pls") + " is not a playlist written here - leaving it in dir"));
  EXPECT_EQ(content("Road Trip.pls"), "damaged too");
}

TEST_F(Conversion, SubFolderOfTheTargetIsUntouched) {
  fs::create_directory(in_target("Old"));
  write_file(in_target("Old/Kept.pls"), "mine");
  write_file(in_target("Old/Kept.pls.md5"), "0123");
  ASSERT_EQ(convert(road_trip()), 0);
  EXPECT_EQ(read_file(in_target("Old/Kept.pls")), "mine");
  EXPECT_EQ(read_file(in_target("Old/Kept.pls.md5")), "0123");
}

TEST_F(Conversion, FilesThisProgramDidNotWriteAreNeverDeleted) {
  for (const char *name : {"holiday.mp3", "notes.txt", "checksums.md5", "Stale.pls", "Stale.pls.md5"})
    write_file(in_target(name), "user data");
  ASSERT_EQ(convert(road_trip()), 0);
  EXPECT_EQ(names(), (std::set<std::string>{"Road Trip.pls", "Road Trip.pls.md5", "holiday.mp3", "notes.txt",
                                            "checksums.md5", "Stale.pls", "Stale.pls.md5"}));
  for (const char *name : {"holiday.mp3", "notes.txt", "checksums.md5", "Stale.pls.md5"}) {
    EXPECT_EQ(content(name), "user data");
    EXPECT_EQ(log.count("Common", LOG4C_WARN, in_target(name) + " is not a playlist file - leaving it in dir"), 1) << name;
  }
  EXPECT_EQ(log.count("Common", LOG4C_WARN, in_target("Stale.pls") + " is not a playlist written here - leaving it in dir"),
            1);
}

// A "/" in a name made the whole run fail; names that could reach outside
// the folder become safe file names instead, and the run goes on.
TEST_F(Conversion, SlashInAPlaylistNameAbortedTheRun) {
  const std::string escape = "../../" + fs::path(dir.path()).filename().string() + "/escaped";
  ASSERT_EQ(convert(road_trip()
                        .playlist(escape, {100})
                        .playlist("..", {100})
                        .playlist("Tea / Time", {100})
                        .playlist("a\\b", {100})
                        .playlist("", {100})),
            0);
  const std::string safe_escape = ".._.._" + fs::path(dir.path()).filename().string() + "_escaped";
  std::set<std::string> expected;
  for (const std::string &name : {std::string("Road Trip"), safe_escape, std::string("_.."), std::string("Tea _ Time"),
                                  std::string("a\\b"), std::string("_")})
    expected.insert({name + ".pls", name + ".pls.md5"});
  EXPECT_EQ(names(), expected);
  EXPECT_FALSE(fs::exists(dir.file("escaped.pls")));
  EXPECT_NE(content("Tea _ Time.pls").find("Title1=First Song\n"), std::string::npos);
}

TEST_F(Conversion, BadLibraryTouchesNothingInTheTarget) {
  ASSERT_EQ(convert(road_trip()), 0);
  for (const std::string &name : names()) age(name);
  const std::string whole = road_trip().str();
  for (const std::string &text : {std::string(), whole.substr(0, whole.size() - 40), std::string("\x89PNG\r\n"),
                                  std::string("<?xml version=\"1.0\"?><opml><body/></opml>")}) {
    log.clear();
    EXPECT_EQ(convert_text(text), 20014);
    EXPECT_TRUE(log.contains("Could not parse "));
    EXPECT_TRUE(log.contains("could not extract pls files from "));
  }
  EXPECT_EQ(itunes_convert(pool, dir.file("missing.xml").c_str(), target().c_str(), 0), 20014);
  EXPECT_EQ(names(), (std::set<std::string>{"Road Trip.pls", "Road Trip.pls.md5"}));
  for (const std::string &name : names()) EXPECT_TRUE(untouched(name)) << name;
}

TEST_F(Conversion, MissingTargetFolderFailsTheSync) {
  fs::remove(target());
  EXPECT_NE(convert(road_trip()), 0);
  EXPECT_TRUE(log.contains("could not read dir " + target()));
  EXPECT_FALSE(fs::exists(target()));
}

TEST_F(Conversion, PlaylistsSyncTemporaryFolderIsUniqueAndRemovedOnEveryExit) {
  // A link planted under the fixed name an earlier version used receives nothing.
  // The link lives in the shared temporary folder: it goes on every exit of
  // the test, a failed assertion included, so that no later run meets it.
  struct PlantedLink {
    fs::path path;
    bool planted;
    ~PlantedLink() {
      std::error_code ignored;
      if (planted) fs::remove(path, ignored);
    }
  } link{fs::temp_directory_path() / "Zentoria", false};
  fs::create_directory(dir.file("trap"));
  if (!fs::exists(fs::symlink_status(link.path))) {
    fs::create_directory_symlink(dir.file("trap"), link.path);
    link.planted = true;
  }
  ASSERT_EQ(convert(road_trip()), 0);
  fs::remove_all(target());
  EXPECT_NE(convert(road_trip()), 0);
  EXPECT_TRUE(fs::is_empty(dir.file("trap")));
  int failed_syncs = 0;
  for (const LoggedEvent &event : log.events()) {
    if (!event.message.starts_with("could not sync dir ")) continue;
    ++failed_syncs;
    const std::string folder = event.message.substr(19, event.message.find(" to dir ") - 19);
    EXPECT_FALSE(fs::exists(folder)) << folder;
  }
  EXPECT_EQ(failed_syncs, 1);
}
