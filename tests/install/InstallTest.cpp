// cmake --install into a temporary prefix, then the installed programs run
// from another folder: what is installed where, the example configuration
// found from bin/, logs kept out of bin/, the capture library found.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "LogCapture.h"
#include "ProgramRun.h"

namespace fs = std::filesystem;

namespace {

constexpr const char *kPrograms[] = {"sharectl", "mlsetup",     "mlbrowse",    "mlcheck",  "mlreg",
                                     "taprecord", "playlistsync", "previewgrab", "playcheck", "mlserve",
                                     "streamprobe"};
constexpr const char *kDataFiles[] = {"config.xml", "log4cxx.properties", "itunes_log4j.properties",
                                      "thumb_log4j.properties"};

std::set<std::string> names_in(const std::string &folder) {
  std::set<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

class InstalledTree : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string command = std::string("'") + ML_CMAKE + "' --install '" + ML_BINARY_DIR + "' --prefix '" + prefix_ +
                          "' > '" + scratch_.file("install.log") + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << read_file(scratch_.file("install.log"));
  }
  ProgramResult run(const std::string &program, const std::vector<std::string> &args, const std::string &cwd) {
    return run_program(prefix_ + "/bin/" + program, args, cwd);
  }
  TempDir scratch_;
  std::string prefix_ = scratch_.file("prefix");
};

}  // namespace

// Four programs were installed, mlsetup read the checkout's example
// configuration, taprecord the build tree's library, and the installed
// programs logged into <prefix>/bin/.
TEST_F(InstalledTree, InstalledTreeNeededTheCheckout) {
  std::set<std::string> programs(std::begin(kPrograms), std::end(kPrograms));
  EXPECT_EQ(names_in(prefix_ + "/bin"), programs);
  EXPECT_TRUE(fs::exists(prefix_ + "/lib/libloopbacktap.so"));
  EXPECT_TRUE(fs::exists(prefix_ + "/lib/systemd/system/mlserve.service"));
  EXPECT_EQ(names_in(prefix_ + "/share/zentoria"), std::set<std::string>(std::begin(kDataFiles), std::end(kDataFiles)));

  const std::string elsewhere = scratch_.file("elsewhere");
  fs::create_directory(elsewhere);
  for (const char *program : kPrograms) {
    ProgramResult version = run(program, {"--version"}, elsewhere);
    EXPECT_EQ(version.status, 0) << program << version.err;
    EXPECT_TRUE(version.out.starts_with(std::string(program) + " ")) << version.out;
  }
  ProgramResult setup = run("mlsetup", {"library"}, elsewhere);
  ASSERT_EQ(setup.status, 0) << setup.err;
  EXPECT_EQ(read_file(elsewhere + "/library/config.xml"), read_file(prefix_ + "/share/zentoria/config.xml"));
  fs::create_directory(elsewhere + "/media");
  write_file(elsewhere + "/media/notes.txt", "not media");
  // A track, probed by the installed stream prober found beside sharectl.
  ASSERT_EQ(std::system(("ffmpeg -v quiet -f lavfi -i sine=duration=1 '" + elsewhere + "/media/tone.mp3'").c_str()), 0);
  EXPECT_EQ(run("sharectl", {"-S", elsewhere + "/media"}, elsewhere + "/library").status, 0);
  ProgramResult listed = run("sharectl", {"-L"}, elsewhere + "/library");
  EXPECT_NE(listed.out.find(elsewhere + "/media"), std::string::npos) << listed.out;
  EXPECT_EQ(run("mlcheck", {}, elsewhere + "/library").status, 0);
  EXPECT_TRUE(fs::exists(elsewhere + "/library/logs/medialib.log"));
  EXPECT_EQ(read_file(elsewhere + "/library/logs/medialib.log").find("stream prober"), std::string::npos);

  // playlistsync logs into the user's state folder.
  const char *home = std::getenv("HOME");
  const std::string old_home = home != nullptr ? home : "";
  setenv("HOME", elsewhere.c_str(), 1);
  ProgramResult sync = run("playlistsync", {"missing.xml", "out"}, elsewhere);
  setenv("HOME", old_home.c_str(), 1);
  EXPECT_NE(sync.status, 0);
  EXPECT_NE(read_file(elsewhere + "/.local/state/zentoria/playlistsync.log").find("Could not parse missing.xml"),
            std::string::npos);

  ProgramResult tap = run("taprecord", {"out.wav", "--", "true"}, elsewhere);
  EXPECT_EQ(tap.err.find("cannot find the capture library"), std::string::npos) << tap.err;
  EXPECT_NE(tap.err.find("played nothing through ALSA"), std::string::npos) << tap.err;
  EXPECT_EQ(names_in(prefix_ + "/bin"), programs);
}
