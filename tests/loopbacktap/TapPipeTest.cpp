// Opening the capture pipe, and writing to it when its reader is gone.
#include "TapFixtures.h"
#include "TapPipe.h"

#include "LogCapture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

namespace {

using namespace tap;

TEST(TapPipeTest, WithoutAFifoNothingIsOpenedAndTheDebugStringSaysWhy) {
  TempDir dir;
  testing::internal::CaptureStderr();
  EXPECT_EQ(pipe_open(dir.file("missing").c_str(), 0), ENOENT);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Could not open pipe. GLE=2\n");
  EXPECT_FALSE(pipe_is_open());
}

TEST(TapPipeTest, AFifoWithoutAReaderIsWaitedForAndThenGivenUp) {
  TempDir dir;
  std::string fifo = dir.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(pipe_open(fifo.c_str(), 50), ETIMEDOUT);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Could not open pipe: 20 second wait timed out.");
  EXPECT_FALSE(pipe_is_open());
}

TEST(TapPipeTest, AReaderThatComesDuringTheWaitIsTaken) {
  TempDir dir;
  std::string fifo = dir.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int reader = -1;
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  });
  EXPECT_EQ(pipe_open(fifo.c_str(), 5000), 0);
  late.join();
  EXPECT_TRUE(pipe_is_open());
  pipe_close();
  char close_message = 1;
  EXPECT_EQ(read(reader, &close_message, 1), 1);
  EXPECT_EQ(close_message, kMessageClose);
  close(reader);
}

// /tmp is everyone's: a file or link put where the FIFO belongs must not
// receive the player's audio.
TEST(TapPipeTest, PipeRefusesAnythingButAFifoInItsPlace) {
  TempDir dir;
  std::string file = dir.file("file");
  write_file(file, "");
  ASSERT_EQ(symlink(file.c_str(), dir.file("link").c_str()), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(pipe_open(file.c_str(), 0), EPERM);
  EXPECT_EQ(pipe_open(dir.file("link").c_str(), 0), EPERM);
  testing::internal::GetCapturedStderr();
  EXPECT_FALSE(pipe_is_open());
  EXPECT_EQ(read_file(file), "");
}

TEST(TapPipeTest, WritingAfterTheReaderLeftNeitherFailsNorRaisesSigpipe) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  pipe_attach(fds[1]);
  sighandler_t before = signal(SIGPIPE, SIG_DFL);
  send_stream_format(1, 2, 44100, 16);
  send_audio_data(1, "abcd", 4);
  pipe_close();
  signal(SIGPIPE, before);
  sigset_t pending;
  sigpending(&pending);
  EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

// The same in the library: the writer gives up after kPipeStallMs, closes
// the pipe and says so, instead of waiting for ever in write().
TEST(TapPipeTest, AFullPipeNobodyReadsDropsTheCapture) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pipe_attach(fds[1]);
  const std::string block(16384, 'x');
  testing::internal::CaptureStderr();
  for (int i = 0; i < 16 && pipe_is_open(); ++i) send_audio_data(1, block.data(), static_cast<uint32_t>(block.size()));
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(pipe_is_open());
  EXPECT_EQ(said, "Capture dropped: the pipe's reader took nothing for " + std::to_string(kPipeStallMs) + " ms.\n");
  close(fds[0]);
}

}  // namespace
