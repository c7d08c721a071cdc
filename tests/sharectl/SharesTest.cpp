// The share actions as a user meets them: a URL given where a folder belongs
// is refused with the options that share URLs named, a folder given to a URL
// option with -S; a URL served on 127.0.0.1 is shared, listed, refreshed and
// unshared.
#include <filesystem>

#include "LocalHttpServer.h"
#include "ProgramRun.h"
#include "ShareFixture.h"

namespace {

class Shares : public ShareTest {};

TEST_F(Shares, UrlGivenAsAFolderNamesTheUrlOptions) {
  ProgramResult r = run_program(built_program("sharectl/sharectl"), {"-S", "http://127.0.0.1:9/x.mp3"}, install_);
  EXPECT_NE(r.out.find("Invalid http://127.0.0.1:9/x.mp3, please use -A or -I or -V to add audio/image/video URLs, "
                       "or -B or -J or -W to add audio/image/video Feeds\n\n\nCould not add/update file/folder(s)"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.status, 1);
}

TEST_F(Shares, FolderGivenToAUrlOptionNamesShare) {
  ProgramResult r = run_program(built_program("sharectl/sharectl"), {"-A", media_}, install_);
  EXPECT_NE(r.out.find("Ignoring " + media_ + ", please use -S to share files or folders\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.status, 1);
}

TEST_F(Shares, AUrlIsSharedListedRefreshedAndUnshared) {
  mp3("song.mp3", "Song");
  LocalHttpServer server(media_);
  const std::string url = server.url("/files/song.mp3");
  const std::string sharectl = built_program("sharectl/sharectl");
  ProgramResult r = run_program(sharectl, {"-A", url}, install_);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("1 item(s) were updated/added"), std::string::npos) << r.out;
  EXPECT_NE(run_program(sharectl, {"-L"}, install_).out.find(url + "\n"), std::string::npos);
  r = run_program(sharectl, {"-R"}, install_);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("0 item(s) were updated/added"), std::string::npos) << r.out;
  EXPECT_EQ(mlcheck(), "");
  EXPECT_EQ(run_program(sharectl, {"-U", url}, install_).status, 0);
  EXPECT_EQ(run_program(sharectl, {"-L"}, install_).out.find(url), std::string::npos);
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(Shares, ARelativePathIsResolvedAgainstTheCurrentFolder) {
  mp3("song.mp3", "Song");
  const std::string relative = std::filesystem::relative(media_, install_).string();
  const std::string sharectl = built_program("sharectl/sharectl");
  for (const char *option : {"-S", "-D", "-K", "-X"}) {
    SCOPED_TRACE(option);
    ProgramResult r = run_program(sharectl, {option, relative}, install_);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(run_program(sharectl, {"-L"}, install_).out.find(media_), std::string::npos);
    r = run_program(sharectl, {"-U", relative}, install_);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(run_program(sharectl, {"-L"}, install_).out.find(media_), std::string::npos);
  }
  EXPECT_EQ(mlcheck(), "");
}

// The fixed failure texts stay; the reason the log received follows them.
TEST_F(Shares, AFailureShowsTheLoggedReason) {
  write_file(media_ + "/cast.rss", "<rss><channel><title>Cast</title></channel></rss>");
  LocalHttpServer server(media_);
  const std::string cut = server.url("/slow/cast.rss?seconds=0.2&cut=1");
  struct Case {
    std::vector<std::string> args;
    const char *fixed;
    std::string reason;
  };
  const Case cases[] = {
      {{"-S", media_ + "/missing"}, "Could not add/update file/folder(s)", "\nReason: Could not find file/folder"},
      {{"-A", "http://127.0.0.1:9/x.mp3"}, "Could not add/update", "\nReason: Failure for url http://127.0.0.1:9/x.mp3"},
      {{"-B", cut}, "Could not add/update", "\nReason: Failure for url " + cut},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args[1]);
    ProgramResult r = run_program(built_program("sharectl/sharectl"), c.args, install_);
    EXPECT_EQ(r.status, 1);
    const std::size_t fixed = r.out.find(c.fixed);
    EXPECT_NE(fixed, std::string::npos) << r.out;
    EXPECT_NE(r.out.find(c.reason, fixed), std::string::npos) << r.out;
    const std::string listed = run_program(built_program("sharectl/sharectl"), {"-L"}, install_).out;
    EXPECT_EQ(listed.find(c.args[1]), std::string::npos) << "nothing is recorded: " << listed;
  }
}

}  // namespace
