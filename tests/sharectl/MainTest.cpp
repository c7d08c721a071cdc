// sharectl as a user runs it: a second sharectl during a scan is refused by
// the library lock, a scan killed with SIGKILL leaves a library that the
// next scan completes and mlcheck finds consistent, a failed source fails a
// refresh, a device is never recorded, and a slow feed does not keep the
// library locked while it arrives.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "LocalHttpServer.h"
#include "ProgramRun.h"
#include "ShareFixture.h"

namespace {

class SharectlProgram : public ShareTest {
 protected:
  std::string sharectl_ = built_program("sharectl/sharectl");

  // Starts sharectl with args in the installation folder, output discarded.
  pid_t start(const std::vector<std::string> &args) {
    pid_t pid = fork();
    if (pid == 0) {
      int null_fd = open("/dev/null", O_RDWR);
      dup2(null_fd, 0);
      dup2(null_fd, 1);
      dup2(null_fd, 2);
      if (chdir(install_.c_str()) != 0) _exit(126);
      std::vector<char *> argv{const_cast<char *>(sharectl_.c_str())};
      for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
      argv.push_back(nullptr);
      execv(sharectl_.c_str(), argv.data());
      _exit(127);
    }
    return pid;
  }

  // Waits up to 30 s for the test server's mark that a slow transfer of the
  // file named began ("<name>.fetching" beside it).
  bool wait_for_fetching(const std::string &name) {
    for (int i = 0; i < 3000; ++i) {
      if (std::filesystem::exists(media_ + "/" + name + ".fetching")) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // Waits until the library holds more than n objects (committed by another process).
  bool wait_for_objects(int n) {
    for (int i = 0; i < 3000; ++i) {
      if (count("select count(*) from object") > n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
};

// The scan must still run when its first commits are seen, to be stopped
// there: 1,500 files take far longer than the 10 ms between two looks.
constexpr int kFiles = 1500;

TEST_F(SharectlProgram, SecondInstanceIsRefusedAndAKilledScanIsCompletedByTheNext) {
  const std::string first = mp3("many/t0.mp3", "");
  for (int i = 1; i < kFiles; ++i) {
    std::filesystem::copy_file(first, media_ + "/many/t" + std::to_string(i) + ".mp3");
  }
  const int skeleton = count("select count(*) from object");

  pid_t scan = start({"-S", media_ + "/many"});
  ASSERT_GT(scan, 0);
  // More than the first hundred items are committed once the object count
  // passes the skeleton by far.
  ASSERT_TRUE(wait_for_objects(skeleton + 150));
  // Held still, the scan cannot end while the second program starts on a
  // busy machine; it keeps what it holds, as a running scan would.
  kill(scan, SIGSTOP);
  ProgramResult second = run_program(sharectl_, {"-L"}, install_);
  EXPECT_NE(second.out.find("Invalid, missing or locked media library"), std::string::npos) << second.out;

  kill(scan, SIGKILL);
  int status = 0;
  waitpid(scan, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the scan ended before it could be killed";
  EXPECT_EQ(mlcheck(), "");

  ProgramResult again = run_program(sharectl_, {"-R"}, install_);
  EXPECT_EQ(again.status, 0);
  EXPECT_NE(again.out.find("item(s) were updated/added"), std::string::npos) << again.out;
  EXPECT_EQ(mlcheck(), "");
  ProgramResult list = run_program(sharectl_, {"-L"}, install_);
  EXPECT_EQ(list.out, media_ + "/many\n" + "\nWaiting for background downloads to complete... Done\n");
  const std::string source = column("select max(sourceOid) from objms").at(0);
  EXPECT_EQ(items_of(source), kFiles);
}

// A refresh used to report success whatever became of its sources: one that
// cannot be refreshed is named, the others are refreshed, and the run exits 1.
TEST_F(SharectlProgram, RefreshWithASourceThatFailsNamesItAndExitsOne) {
  const std::string kept = mp3("kept/a.mp3", "Kept");
  const std::string gone = media_ + "/gone";
  mp3("gone/b.mp3", "Gone");
  ASSERT_EQ(run_program(sharectl_, {"-N", "-S", gone, "-S", media_ + "/kept"}, install_).status, 0);
  std::filesystem::remove_all(gone);
  ProgramResult refresh = run_program(sharectl_, {"-R"}, install_);
  EXPECT_EQ(refresh.status, 1);
  EXPECT_NE(refresh.out.find("\nCould not refresh " + gone + "\n"), std::string::npos) << refresh.out;
  EXPECT_FALSE(item(kept).empty());
  EXPECT_EQ(mlcheck(), "");
}

// A device is refused before it is recorded: it is not listed afterwards.
TEST_F(SharectlProgram, SharingADeviceFailsAndRecordsNothing) {
  ProgramResult share = run_program(sharectl_, {"-S", "/dev/zero"}, install_);
  EXPECT_EQ(share.status, 1);
  ProgramResult list = run_program(sharectl_, {"-L"}, install_);
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out.find("/dev/zero"), std::string::npos) << list.out;
}

// Regression: a feed trickling in was fetched inside the locked pass, and
// every other sharectl run was refused until it had arrived. Shared again
// under a new title, the feed the server calls unchanged is fetched anew,
// before the lock too.
TEST_F(SharectlProgram, ASlowFeedDoesNotLockTheLibraryWhileItArrives) {
  mp3("song.mp3", "Song");
  mp3("other/b.mp3", "B");
  LocalHttpServer server(media_);
  write_file(media_ + "/cast.rss", "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Cast</title><item>"
             "<title>One</title><enclosure url=\"" + server.url("/files/song.mp3") +
             "\" type=\"audio/mpeg\"/></item></channel></rss>");
  const std::string feed_url = server.url("/slow/cast.rss?seconds=8");
  const std::vector<std::string> shares[] = {{"-B", feed_url}, {"-T", "Renamed", "-B", feed_url}};
  for (const std::vector<std::string> &args : shares) {
    SCOPED_TRACE(args[1]);
    std::filesystem::remove(media_ + "/cast.rss.fetching");
    pid_t feed = start(args);
    ASSERT_GT(feed, 0);
    ASSERT_TRUE(wait_for_fetching("cast.rss"));
    ProgramResult second = run_program(sharectl_, {"-S", media_ + "/other"}, install_);
    EXPECT_EQ(waitpid(feed, nullptr, WNOHANG), 0) << "the feed was still arriving";
    EXPECT_EQ(second.status, 0) << second.out;
    EXPECT_EQ(second.out.find("Cannot lock database"), std::string::npos) << second.out;
    int status = -1;
    ASSERT_EQ(waitpid(feed, &status, 0), feed);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const std::string listed = run_program(sharectl_, {"-L"}, install_).out;
  EXPECT_NE(listed.find("/slow/cast.rss"), std::string::npos) << listed;
  EXPECT_NE(listed.find(media_ + "/other"), std::string::npos) << listed;
  EXPECT_EQ(column("select count(*) from objms join prop on prop.objectOid=objms.objectOid join propValue v on "
                   "v.oid=prop.valueOid where v.value='Renamed'").at(0), "1");
  EXPECT_EQ(mlcheck(), "");
}

// Regression: a web playlist listed by a playlist file of a shared folder
// was fetched by the folder's scan inside the locked pass; while it trickled
// in, every other run was refused. Other runs now go on; a scan killed
// while fetching leaves a copy that the next run removes, and a refresh
// gives the folder the playlist's entries.
TEST_F(SharectlProgram, ASlowWebPlaylistOfASharedFolderDoesNotLockTheLibrary) {
  mp3("song.mp3", "Song");
  mp3("folder/local.mp3", "Local");
  mp3("other/b.mp3", "B");
  LocalHttpServer server(media_);
  write_file(media_ + "/web.m3u", server.url("/files/song.mp3") + "\n");
  write_file(media_ + "/folder/list.m3u", server.url("/slow/web.m3u") + "\n");
  const std::string download = install_ + "/data/download";
  const auto copies = [&download] {
    int n = 0;
    for (const auto &entry : std::filesystem::directory_iterator(download)) n += entry.path().extension() == ".tmp";
    return n;
  };
  pid_t scan = start({"-S", media_ + "/folder"});
  ASSERT_GT(scan, 0);
  ASSERT_TRUE(wait_for_fetching("web.m3u"));
  for (const std::vector<std::string> &args : {std::vector<std::string>{"-L"}, {"-S", media_ + "/other"}}) {
    ProgramResult other = run_program(sharectl_, args, install_);
    EXPECT_EQ(other.status, 0) << other.out;
    EXPECT_EQ(other.out.find("locked media library"), std::string::npos) << other.out;
  }
  EXPECT_EQ(waitpid(scan, nullptr, WNOHANG), 0) << "the playlist was still arriving";
  EXPECT_EQ(copies(), 1);
  kill(scan, SIGKILL);
  waitpid(scan, nullptr, 0);
  ProgramResult refresh = run_program(sharectl_, {"-R"}, install_);
  EXPECT_EQ(refresh.status, 0) << refresh.out;
  EXPECT_EQ(copies(), 0);
  const std::string source = column("select sourceOid from objms where objectOid=" + item(media_ + "/folder/local.mp3")).at(0);
  EXPECT_EQ(items_of(source), 2) << "the local file and the web playlist's song";
  EXPECT_EQ(mlcheck(), "");
}

}  // namespace
