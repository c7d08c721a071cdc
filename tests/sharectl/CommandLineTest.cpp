// sharectl's command line as a user meets it: hints, usage, bad options,
// stray arguments and the exit status.
#include <expat.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "CommonFiles.h"
#include "InstallFolder.h"
#include "ProgramRun.h"

namespace fs = std::filesystem;

namespace {

constexpr const char *kUseHelp = "Please use -H or --help for a listing of command line arguments.\n";
constexpr const char *kInvalidArgs = "Invalid (some) command line arguments, please use -H or --help for help.\n";
constexpr const char *kPleaseWait = "\nPlease wait, this may take a while...\n\n";
// Every run that started the download engine ends with this.
const std::string kDownloadsDone = "\nWaiting for background downloads to complete... Done\n";

class SharectlCli : public ::testing::Test {
 protected:
  ProgramResult sharectl(const std::vector<std::string> &args) {
    return run_program(built_program("sharectl/sharectl"), args, install.path());
  }
  InstallFolder install;
};

}  // namespace

TEST_F(SharectlCli, NoArgumentsPrintsTheHintAndSucceeds) {
  ProgramResult r = sharectl({});
  EXPECT_EQ(r.out, kUseHelp + kDownloadsDone);
  EXPECT_EQ(r.status, 0);
}

// -H failed outside an installation folder, and its text left out -D -K -X
// -Y -N -C; --version was an invalid option.
TEST(SharectlAnywhere, HelpOmittedOptionsAndNeededAnInstallation) {
  TempDir elsewhere;
  for (const char *flag : {"-H", "--help"}) {
    ProgramResult r = run_program(built_program("sharectl/sharectl"), {flag}, elsewhere.path());
    EXPECT_EQ(r.status, 0) << r.out;
    for (const char *listed : {"-S,", "-D,", "-K,", "-X,", "-A,", "-I,", "-V,", "-B,", "-J,", "-W,", "-T,", "-G,",
                               "-Y,", "-N,", "-U,", "-L,", "-R,", "-C,", "-H,", "--version"})
      EXPECT_NE(r.out.find(listed), std::string::npos) << listed;
  }
  ProgramResult version = run_program(built_program("sharectl/sharectl"), {"--version"}, elsewhere.path());
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.out.starts_with("sharectl ")) << version.out;
  EXPECT_TRUE(fs::is_empty(elsewhere.path()));
}

TEST_F(SharectlCli, UnknownOptionIsSkippedWithTheHintAndFails) {
  ProgramResult r = sharectl({"-Z"});
  EXPECT_EQ(r.out, kUseHelp + kDownloadsDone);
  EXPECT_NE(r.err.find("Z"), std::string::npos);  // APR's own diagnostic
  EXPECT_EQ(r.status, 1);
}

TEST_F(SharectlCli, PlainArgumentStartingWithDashAfterBadOptionGetsTheHint) {
  ProgramResult r = sharectl({"--bogus", "-"});
  EXPECT_EQ(r.out, kUseHelp + kDownloadsDone);
}

TEST_F(SharectlCli, StrayArgumentAfterAnOptionIsRefused) {
  ProgramResult r = sharectl({"-H", "stray"});
  std::string tail = kInvalidArgs + kDownloadsDone;
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
  EXPECT_EQ(r.status, 1);
}

TEST_F(SharectlCli, AccountWithoutUserOrDomainFailsWithAMessage) {
  for (const char *account : {"alice:secret", "alice:secret@", "alice:secret@ \t\r\n\f", "@home", ""}) {
    ProgramResult r = sharectl({"-C", account});
    EXPECT_NE(r.out.find("Could not add user account "), std::string::npos) << account;
    EXPECT_NE(r.out.find("give it as USER:PASSWORD@DOMAIN."), std::string::npos) << account;
    EXPECT_EQ(r.out.find("secret"), std::string::npos) << account;
    EXPECT_EQ(r.status, 1) << account;
  }
  ProgramResult rows = run_program("/usr/bin/sqlite3", {install.file("data/db/admin.db"), "select count(*) from useraccount"},
                                   install.path());
  EXPECT_EQ(rows.out, "0\n");
}

TEST_F(SharectlCli, FailedShareReportsFailureInTheExitStatus) {
  ProgramResult r = sharectl({"-S", install.scratch().file("missing-folder")});
  EXPECT_EQ(r.out.rfind(kPleaseWait, 0), 0u);
  EXPECT_NE(r.out.find("Could not add/update file/folder(s)"), std::string::npos);
  EXPECT_EQ(r.out.find("item(s) were updated/added"), std::string::npos);
  EXPECT_EQ(r.status, 1);
}

TEST(SharectlOutsideInstallation, ConfigurationMissingIsReportedAndFails) {
  TempDir elsewhere;
  ProgramResult r = run_program(built_program("sharectl/sharectl"), {"-L"}, elsewhere.path());
  EXPECT_EQ(r.out,
            "Invalid configuration file or file doesn't exist. You must run this application from the "
            "installation folder of the software.\n");
  EXPECT_EQ(r.status, 1);
}

TEST_F(SharectlCli, AccountIsRecordedThenItsPasswordUpdated) {
  ASSERT_EQ(sharectl({"-C", "alice:secret@home"}).status, 0);
  ProgramResult again = sharectl({"-C", "alice:n3w:pass@word@home"});
  EXPECT_EQ(again.out, kDownloadsDone);
  EXPECT_EQ(again.status, 0);
  ProgramResult rows = run_program("/usr/bin/sqlite3",
                                   {install.file("data/db/admin.db"),
                                    "select username, password, domain, description from useraccount"},
                                   install.path());
  // The password splits at the first colon and the domain at the last at sign.
  EXPECT_EQ(rows.out, "alice|bjN3OnBhc3NAd29yZA==|home|home\n");
}

TEST_F(SharectlCli, LibraryLockedByAnotherWriterIsRefusedAtOnce) {
  TestPool pool;
  apr_file_t *lock = nullptr;
  ASSERT_EQ(lock_file_acquire(pool, install.file("logs/zentoria.ZentoriaMediaLibLock").c_str(), &lock), 0);
  ProgramResult r = sharectl({"-L"});
  lock_file_release(lock);
  EXPECT_EQ(r.out.rfind("\nInvalid, missing or locked media library, possible reasons are:\n\n", 0), 0u);
  EXPECT_NE(r.out.find("- You are trying to run more than one instance of this application at a time.\n"),
            std::string::npos);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(sharectl({"-L"}).status, 0);
}

// The lock file was 0644: another user could open it, hold a lock and make
// every run fail as "locked". New and old (0644) lock files end owner-only.
TEST_F(SharectlCli, LibraryLockFileWasOpenToOtherUsers) {
  const std::string lock = install.file("logs/zentoria.ZentoriaMediaLibLock");
  for (bool existed : {false, true}) {
    std::filesystem::remove(lock);
    if (existed) {
      write_file(lock, "");
      ASSERT_EQ(chmod(lock.c_str(), 0644), 0);
    }
    const mode_t old_mask = umask(022);
    ProgramResult r = sharectl({"-L"});
    umask(old_mask);
    EXPECT_EQ(r.status, 0) << r.out;
    struct stat info {};
    ASSERT_EQ(stat(lock.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << existed;
  }
}

TEST_F(SharectlCli, AnonymousAccountIsKeptUntilANamedOneReplacesIt) {
  auto accounts = [&] {
    return run_program("/usr/bin/sqlite3",
                       {install.file("data/db/admin.db"), "select username, domain from useraccount order by oid"},
                       install.path())
        .out;
  };
  ASSERT_EQ(sharectl({"-C", ":guest@media.example"}).status, 0);
  EXPECT_EQ(accounts(), "|media.example\n");
  ASSERT_EQ(sharectl({"-C", "bob:pw@media.example"}).status, 0);
  EXPECT_EQ(accounts(), "bob|media.example\n");
}

TEST_F(SharectlCli, CorruptLibraryPrintsTheLibraryTextAndFails) {
  const std::string medialib = install.file("data/medialib.db");
  const std::string whole = read_file(medialib);
  for (const std::string &damaged : {whole.substr(0, 5000), std::string(100, '\x5a'), std::string()}) {
    write_file(medialib, damaged);
    ProgramResult r = sharectl({"-L"});
    EXPECT_EQ(r.out.rfind("\nInvalid, missing or locked media library, possible reasons are:\n\n", 0), 0u) << r.out;
    EXPECT_EQ(r.status, 1);
  }
}

TEST_F(SharectlCli, HostileNamesGiveItemsThatBrowseAsXml) {
  const std::string media = install.scratch().file("media");
  std::filesystem::create_directory(media);
  const std::string tone = media + "/tone.mp3";
  ASSERT_EQ(run_program("/usr/bin/ffmpeg", {"-loglevel", "error", "-f", "lavfi", "-i", "sine=duration=1", "-metadata",
                                            "title=Tag\x01\x1b[31m", tone},
                        media)
                .status,
            0);
  const std::string tagged = read_file(tone);
  std::filesystem::remove(tone);
  const char *names[] = {"ctl\x01\x1b[31m.mp3", "latin\xe9.mp3", "overlong\xc0\xaf.mp3", "AC\\DC - Back.mp3",
                         "100% pure.mp3"};
  for (const char *name : names) write_file(media + "/" + name, tagged);
  ASSERT_EQ(sharectl({"-S", media}).status, 0);
  ProgramResult browse = run_program(built_program("tools/mlbrowse"),
                                     {"search", "0", "upnp:class derivedfrom \"object.item\""}, install.path());
  ASSERT_EQ(browse.status, 0) << browse.err;
  XML_Parser parser = XML_ParserCreate("UTF-8");
  EXPECT_EQ(XML_Parse(parser, browse.out.data(), static_cast<int>(browse.out.size()), 1), XML_STATUS_OK)
      << XML_ErrorString(XML_GetErrorCode(parser)) << "\n" << browse.out;
  XML_ParserFree(parser);
  EXPECT_NE(browse.err.find("returned 5, total 5"), std::string::npos) << browse.err;
  EXPECT_NE(browse.out.find(">file://" + media + "/latin%E9.mp3</res>"), std::string::npos) << browse.out;
  EXPECT_NE(browse.out.find(">file://" + media + "/AC\\DC - Back.mp3</res>"), std::string::npos);
}
