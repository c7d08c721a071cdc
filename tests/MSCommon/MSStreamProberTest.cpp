// The stream prober: the facts and log lines of a probe in the prober are
// those of the probe in this process, and a prober that dies or hangs costs
// one file its facts, not the next file's.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CommonLang.h"
#include "LogCapture.h"
#include "MSFFMPEG.h"
#include "MSStreamProber.h"
#include "MediaFixtures.h"

namespace {

constexpr const char *kTone = "-f lavfi -i sine=frequency=440:duration=2 ";
constexpr const char *kPicture = "-f lavfi -i testsrc=size=64x48:rate=25:duration=2 ";
constexpr const char *kStopped = "stream prober stopped while reading";

// This process's children running the prober.
std::vector<pid_t> probers() {
  std::vector<pid_t> found;
  DIR *proc = opendir("/proc");
  while (dirent *entry = proc ? readdir(proc) : nullptr) {
    const pid_t pid = std::atoi(entry->d_name);
    std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
    std::string self, name, state;
    pid_t parent = 0;
    if (pid > 0 && stat >> self >> name >> state >> parent && parent == getpid() && name == "(streamprobe)")
      found.push_back(pid);
  }
  if (proc) closedir(proc);
  return found;
}

class StreamProber : public ::testing::Test {
 protected:
  void SetUp() override {
    ffmpeg_init(pool_);
    ASSERT_EQ(lang_init(pool_), 0);
  }
  void TearDown() override {
    stream_prober_close_idle();
    EXPECT_TRUE(probers().empty()) << "closed probers are gone";
    stream_prober_set_time_limit(30000);
    ffmpeg_term();
  }

  // The lines of WARN and above as one text (ffmpeg's DEBUG lines carry addresses).
  std::string lines() const {
    std::string text;
    for (const LoggedEvent &e : log_.events())
      if (e.level >= 2) text += e.logger + ": " + e.message + "\n";
    return text;
  }

  LogCapture log_;
  TestPool pool_;
  TempDir folder_;
};

TEST_F(StreamProber, FactsAndLinesAreThoseOfTheProbeInProcess) {
  const struct {
    const char *name, *arguments;
  } kFiles[] = {
      {"tags.mp3", "-c:a libmp3lame -metadata title=Tune -metadata artist=Band -metadata date=2009 -metadata track=7"},
      {"header.flac", "-c:a flac -metadata album=Record -metadata genre=Jazz"},
      {"vbr.ogg", "-c:a libvorbis -q:a 2 -metadata comment=Quiet"},
      {"french.m4a", "-c:a aac -metadata:s:a:0 language=fre -metadata copyright=Us"},
      {"clip.mp4", "-c:a aac -c:v libx264 -shortest"},
      {"two.mkv", "-map 0 -map 0 -map 1 -c:a:0 libvorbis -c:a:1 ac3 -metadata:s:a:1 language=eng -c:v libx264 -shortest"},
      {"old.avi", "-c:a libmp3lame -c:v mpeg4 -metadata title=Avi -metadata artist=Them -shortest"},
  };
  // A prober started before the first probe serves them all; with one idle,
  // starting another starts none.
  stream_prober_start();
  stream_prober_start();
  EXPECT_EQ(probers().size(), 1u);
  int made = 0;
  for (const auto &file : kFiles) {
    const bool video = std::string(file.arguments).find("-c:v") != std::string::npos;
    const std::string args = std::string(kTone) + (video ? kPicture : "") + file.arguments;
    const std::string path = make_media(folder_.path(), file.name, args);
    if (path.empty()) continue;  // an encoder this ffmpeg lacks
    ++made;
    StreamFacts here, there;
    log_.clear();
    const int status = stream_probe(pool_, path.c_str(), &here);
    const std::string lines_here = lines();
    log_.clear();
    EXPECT_EQ(stream_prober_probe(pool_, path.c_str(), &there), status) << file.name;
    EXPECT_EQ(facts_text(there), facts_text(here)) << file.name;
    EXPECT_EQ(lines(), lines_here) << file.name;
  }
  EXPECT_GE(made, 6);
  // A damaged file: the same failure, the same facts and the same errors.
  const std::string damaged = folder_.file("damaged.mp4");
  write_file(damaged, std::string("\0\0\0\x20" "ftypisom", 12) + std::string(100, 'x'));
  StreamFacts here, there;
  log_.clear();
  EXPECT_EQ(stream_probe(pool_, damaged.c_str(), &here), 20014);
  const std::string lines_here = lines();
  log_.clear();
  EXPECT_EQ(stream_prober_probe(pool_, damaged.c_str(), &there), 20014);
  EXPECT_EQ(facts_text(there), facts_text(here));
  EXPECT_EQ(lines(), lines_here);
  EXPECT_EQ(probers().size(), 1u) << "one prober served every probe";
}

// A named pipe nobody writes holds the prober in its open: killed there, or
// left to the time limit, it costs that file its facts; the next file is
// probed by a new prober.
TEST_F(StreamProber, ProberKilledOrHungMidRequestCostsOneFile) {
  const std::string good = make_media(folder_.path(), "good.mp3", std::string(kTone) + "-c:a libmp3lame");
  ASSERT_FALSE(good.empty());
  const std::string stall = folder_.file("stall.mp3");
  ASSERT_EQ(mkfifo(stall.c_str(), 0600), 0);
  for (const bool killed : {true, false}) {
    stream_prober_set_time_limit(killed ? 30000 : 500);
    log_.clear();
    auto probe = std::async(std::launch::async, [&] {
      StreamFacts facts;
      const int status = stream_prober_probe(pool_, stall.c_str(), &facts);
      return std::make_pair(status, facts.audio.present);
    });
    if (killed) {
      // The prober holds the pipe open once it reads the request.
      int writer = -1;
      while ((writer = open(stall.c_str(), O_WRONLY | O_NONBLOCK)) < 0) usleep(10000);
      std::vector<pid_t> running = probers();
      ASSERT_EQ(running.size(), 1u);
      kill(running[0], SIGKILL);
      const auto [status, present] = probe.get();
      close(writer);
      EXPECT_EQ(status, 20014);
      EXPECT_EQ(present, 0);
    } else {
      EXPECT_EQ(probe.get().first, 20014);
    }
    EXPECT_TRUE(log_.contains(kStopped)) << killed;
    EXPECT_TRUE(probers().empty()) << "the failed prober was reaped";
    // The new prober loads ffmpeg first, which takes longer than the short
    // limit on a busy machine.
    stream_prober_set_time_limit(30000);
    StreamFacts facts;
    EXPECT_EQ(stream_prober_probe(pool_, good.c_str(), &facts), 0);
    EXPECT_EQ(facts.audio.present, 1);
  }
}

}  // namespace
