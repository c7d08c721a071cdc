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

// No arguments exited 0, as if a conversion had been done: only a request
// for help succeeds, any other wrong use fails with EX_USAGE.
TEST_F(Program, NoArgumentsExitedZero) {
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{}, 64},           {{"-h"}, 0},        {{"--help"}, 0},          {{"-H", "lib.xml", "out"}, 64},
      {{"lib.xml"}, 64},  {{"-h", "out"}, 64}, {{"--sep", "lib.xml", "out"}, 64}, {{"a", "b", "c", "d"}, 64},
  };
  for (const auto &c : cases) {
    ProgramResult r = playlistsync(c.args);
    EXPECT_EQ(r.status, c.status) << c.args.size();
    EXPECT_EQ(c.status == 0 ? r.out : r.err, kUsage) << c.args.size();
  }
  EXPECT_TRUE(fs::is_empty(dir.file("out")));
  ProgramResult version = playlistsync({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.out.starts_with("playlistsync ")) << version.out;
}

// md5sum -c failed on every sidecar (they named the deleted temporary
// folder), also on one renamed from "X (Music).pls" to "X.pls".
TEST_F(Program, SidecarsFailedMd5sumCheck) {
  write_file(dir.file("lib.xml"), LibraryText()
                                      .track(1, "Song", local_file("song.mp3"))
                                      .track(2, "Clip", local_file("clip.wmv"))
                                      .playlist("Both", {1, 2})
                                      .playlist("Tea / Time", {1})
                                      .str());
  for (const char *mode : {"", "--separate"}) {
    std::vector<std::string> args = {"lib.xml", "out"};
    if (*mode != '\0') args.insert(args.begin(), mode);
    ASSERT_EQ(playlistsync(args).status, 0) << mode;
    std::vector<std::string> check = {"-c", "--strict"};
    for (const auto &entry : fs::directory_iterator(dir.file("out")))
      if (entry.path().extension() == ".md5") check.push_back(entry.path().filename().string());
    ASSERT_GE(check.size(), 4u) << mode;
    ProgramResult md5sum = run_program("/usr/bin/md5sum", check, dir.file("out"));
    EXPECT_EQ(md5sum.status, 0) << mode << md5sum.out << md5sum.err;
  }
  EXPECT_TRUE(fs::exists(dir.file("out/Tea _ Time.pls")));
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
