// playlistsync as a user meets it: usage, exit statuses and a real run.
#include <gtest/gtest.h>

#include <filesystem>

#include "LibraryText.h"
#include "LogCapture.h"
#include "ProgramRun.h"

namespace fs = std::filesystem;

namespace {

constexpr const char *kUsage =
    "Usage:\n\nplaylistsync [--separate] <itunes file location.xml> <dir_to_sync>\n\n    --separate - an optional "
    "paramater that instructs playlistsync to break a playlist to two separate playlists in case it has both "
    "audio and video.\n\n";

class Program : public ::testing::Test {
 protected:
  Program() {
    fs::create_directory(dir.file("out"));
    write_file(dir.file("lib.xml"), LibraryText()
                                        .track(1, "Song", local_file("song.mp3"), total_time(61000))
                                        .track(2, "Clip", local_file("clip.wmv"))
                                        .playlist("Both", {1, 2})
                                        .str());
  }
  ProgramResult playlistsync(const std::vector<std::string> &args) {
    return run_program(built_program("playlistsync/playlistsync"), args, dir.path());
  }
  TempDir dir;
};

}  // namespace

TEST_F(Program, UsageForNoArgumentsHelpAndWrongCounts) {
  const std::vector<std::vector<std::string>> cases = {
      {}, {"-h"}, {"-H", "lib.xml", "out"}, {"lib.xml"}, {"--sep", "lib.xml", "out"}, {"a", "b", "c", "d"}};
  for (const auto &args : cases) {
    ProgramResult r = playlistsync(args);
    EXPECT_EQ(r.out, kUsage) << args.size();
    EXPECT_EQ(r.status, 0);
  }
  EXPECT_TRUE(fs::is_empty(dir.file("out")));
}

TEST_F(Program, ConvertsAndSeparates) {
  ProgramResult r = playlistsync({"lib.xml", "out"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(fs::exists(dir.file("out/Both.pls.md5")));
  EXPECT_NE(read_file(dir.file("out/Both.pls")).find("NumberOfEntries=2\n"), std::string::npos);
  r = playlistsync({"--SEPARATE", "lib.xml", "out"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(fs::exists(dir.file("out/Both.pls")));
  EXPECT_EQ(read_file(dir.file("out/Both (Music).pls")),
            "[playlist]\n\nFile1=C:/song.mp3\nTitle1=Song\nLength1=61\n\nNumberOfEntries=1\n\nVersion=2\n");
  EXPECT_TRUE(fs::exists(dir.file("out/Both (Movies).pls.md5")));
}

TEST_F(Program, BadLibraryFailsWithItsStatus) {
  write_file(dir.file("bad.xml"), "<plist><dict><key>Tracks</key>");
  for (const char *library : {"bad.xml", "missing.xml"}) {
    ProgramResult r = playlistsync({library, "out"});
    EXPECT_EQ(r.status, 20014 & 0xFF) << library;
    EXPECT_NE(r.err.find(std::string("Could not parse ") + library), std::string::npos) << r.err;
  }
  // "--separate" with two arguments is a library file of that name.
  ProgramResult r = playlistsync({"--separate", "out"});
  EXPECT_EQ(r.status, 20014 & 0xFF);
  EXPECT_TRUE(fs::is_empty(dir.file("out")));
}
