// Real players with the capture library preloaded: aplay on ALSA's null
// device, through taprecord and through a server end that reads the FIFO
// itself, and a small player that drives every write path.
#include "TapFixtures.h"
#include "TapPipe.h"

#include "LogCapture.h"
#include "ProgramRun.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using namespace tap;

class LoopbackTapCaptureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    stereo_ = make_wav(dir_->file("stereo.wav"),
                       "-f lavfi -i sine=frequency=440:duration=0.5 -ac 2 -ar 44100 -c:a pcm_s16le");
    surround_ = make_wav(dir_->file("surround.wav"),
                         "-f lavfi -i sine=frequency=300:duration=0.3 -ac 8 -ar 48000 -c:a pcm_f32le");
  }
  static void TearDownTestSuite() { delete dir_; }

  // What a stream must look like: one format, rising positions before every
  // block, the end of the stream, then the close message last.
  static void expect_whole_stream(const TapCollector &c, uint32_t tag) {
    uint32_t last = 0;
    bool before_audio = false;
    for (const TapRecord &r : c.records) {
      if (r.type == kMessageLogLine || r.tag != tag) continue;
      if (r.type == kMessagePosition) {
        EXPECT_GE(r.position_ms, last);
        last = r.position_ms;
      }
      if (r.type == kMessageAudioData) {
        EXPECT_TRUE(before_audio) << "audio without a position before it";
      }
      before_audio = r.type == kMessagePosition;
    }
    auto ends = c.of_type(kMessageStreamEnd);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].tag, tag);
    ASSERT_FALSE(c.records.empty());
    EXPECT_EQ(c.records.back().type, kMessageClose);
    EXPECT_TRUE(c.reader.closed());
  }

  // aplay fills its last period with silence: the capture is the source, then
  // less than a period of zeros.
  static void expect_source_then_silence(const std::string &captured, const std::string &source) {
    ASSERT_GE(captured.size(), source.size());
    EXPECT_TRUE(captured.compare(0, source.size(), source) == 0) << "the captured samples differ";
    EXPECT_EQ(captured.substr(source.size()), std::string(captured.size() - source.size(), '\0'));
  }

  // aplay plays wav on the null device: one whole stream of the format given,
  // holding the file's samples.
  static TapRun expect_aplay_captures(const std::string &wav, uint16_t channels, uint32_t rate, uint16_t bits) {
    EXPECT_FALSE(wav.empty());
    TapRun run = run_captured({"aplay", "-q", "-D", "null", wav});
    EXPECT_EQ(run.status, 0) << run.err;
    auto formats = run.capture.of_type(kMessageStreamFormat);
    EXPECT_EQ(formats.size(), 1u);
    if (formats.empty()) return run;
    EXPECT_EQ(formats[0].channels, channels);
    EXPECT_EQ(formats[0].rate, rate);
    EXPECT_EQ(formats[0].bits, bits);
    expect_whole_stream(run.capture, formats[0].tag);
    expect_source_then_silence(run.capture.audio(formats[0].tag), wav_data(wav));
    return run;
  }

  static TempDir *dir_;
  static std::string stereo_, surround_;
};
TempDir *LoopbackTapCaptureTest::dir_ = nullptr;
std::string LoopbackTapCaptureTest::stereo_, LoopbackTapCaptureTest::surround_;

TEST_F(LoopbackTapCaptureTest, TaprecordRecordsWhatAplayPlaysOnTheNullDevice) {
  ASSERT_FALSE(stereo_.empty());
  std::string out = dir_->file("out.wav");
  ProgramResult r = run_program(TAPRECORD_PATH, {out, "--", "aplay", "-q", "-D", "null", stereo_}, dir_->path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("myAudioClient::Initialize (line "), std::string::npos) << "log lines go to stderr";
  expect_source_then_silence(wav_data(out), wav_data(stereo_));
  EXPECT_EQ(read_file(out).substr(20, 16), read_file(stereo_).substr(20, 16)) << "the same format";
}

TEST_F(LoopbackTapCaptureTest, AplayStreamIsWholeAndEqualToTheSource) {
  TapRun run = expect_aplay_captures(stereo_, 2, 44100, 16);
  EXPECT_TRUE(run.capture.logged("NativeInjectionEntryPoint (line "));
}

TEST_F(LoopbackTapCaptureTest, ASurroundFloatStreamIsCapturedWhole) {
  TapRun run = expect_aplay_captures(surround_, 8, 48000, 32);
  EXPECT_FALSE(run.capture.logged("ERROR"));
}

TEST_F(LoopbackTapCaptureTest, WithoutAPipeThePlayerRunsUntouched) {
  ProgramResult r = run_program("/usr/bin/env", {"LD_PRELOAD=" TAP_LIBRARY, "aplay", "-q", "-D", "null", stereo_},
                                dir_->path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "Could not open pipe. GLE=2\n");
}

TEST_F(LoopbackTapCaptureTest, APlayerWhoseReaderLeavesMidStreamPlaysOn) {
  TapRun run = run_captured({"aplay", "-q", "-D", "null", stereo_}, TapReaderMode::kLeaveAfterFirstAudio);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(run.capture.of_type(kMessageAudioData).empty());
}

// A reader that opened the FIFO and never read blocked the player for ever
// once the pipe was full: the capture is dropped and the player plays on.
TEST_F(LoopbackTapCaptureTest, AReaderThatNeverReadsBlockedThePlayerForEver) {
  std::string longer = make_wav(dir_->file("longer.wav"), "-f lavfi -i sine=duration=3 -ac 2 -ar 44100 -c:a pcm_s16le");
  ASSERT_FALSE(longer.empty());
  TapRun run = run_captured({"aplay", "-q", "-D", "null", longer}, TapReaderMode::kNeverRead);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("Capture dropped: the pipe's reader took nothing for"), std::string::npos) << run.err;
}

TEST_F(LoopbackTapCaptureTest, EveryWritePathIsCapturedAndSilenced) {
  // The player's pattern: left = frame number, right = its negation.
  std::string expected;
  for (int f = 0; f < 4800; ++f)
    for (int16_t v : {static_cast<int16_t>(f), static_cast<int16_t>(-f)})
      expected.append(reinterpret_cast<const char *>(&v), 2);
  // fork: a child forked half-way and exiting must not close the parent's
  // pipe nor send anything into it.
  // ALSA's file device keeps what the device was given: silence as long.
  for (std::string mode : {"writei", "writen", "mmap", "fork"}) {
    std::string played = dir_->file("played-" + mode + ".raw");
    TapRun run = run_captured({TAP_PLAYER_PATH, mode, "file:'" + played + "',raw"});
    EXPECT_EQ(run.status, 0) << mode << ": " << run.err;
    auto formats = run.capture.of_type(kMessageStreamFormat);
    ASSERT_EQ(formats.size(), 1u) << mode;
    expect_whole_stream(run.capture, formats[0].tag);
    EXPECT_TRUE(run.capture.audio(formats[0].tag) == expected) << mode;
    EXPECT_TRUE(read_file(played) == std::string(expected.size(), '\0')) << mode;
  }
}

TEST_F(LoopbackTapCaptureTest, TwoDevicesInTurnAreTwoWholeStreams) {
  TapRun run = run_captured({TAP_PLAYER_PATH, "two"});
  EXPECT_EQ(run.status, 0) << run.err;
  auto formats = run.capture.of_type(kMessageStreamFormat);
  ASSERT_EQ(formats.size(), 2u);
  EXPECT_NE(formats[0].tag, formats[1].tag);
  EXPECT_EQ(run.capture.audio(formats[0].tag).size(), 4800u * 4);
  EXPECT_EQ(run.capture.audio(formats[1].tag).size(), 4800u * 4);
  EXPECT_EQ(run.capture.of_type(kMessageStreamEnd).size(), 2u);
}

TEST_F(LoopbackTapCaptureTest, TwoThreadsPlayingAtOnceKeepEveryMessageWhole) {
  TapRun run = run_captured({TAP_PLAYER_PATH, "threads"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.capture.reader.error().empty()) << run.capture.reader.error();
  EXPECT_TRUE(run.capture.reader.closed());
  EXPECT_EQ(run.capture.of_type(kMessageStreamFormat).size(), 2u);
}

TEST_F(LoopbackTapCaptureTest, TaprecordEndsAMalformedCaptureWithAClearError) {
  std::string out = dir_->file("bad.wav");
  ProgramResult r = run_program(TAPRECORD_PATH, {out, "--", "sh", "-c", "printf '\\011' > /tmp/zentoria-pipe-$$"},
                                dir_->path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("taprecord: malformed capture from sh: unknown message type 9"), std::string::npos) << r.err;
}

TEST_F(LoopbackTapCaptureTest, TaprecordPassesOnTheCommandsStatus) {
  std::string out = dir_->file("none.wav");
  ProgramResult r = run_program(TAPRECORD_PATH, {out, "--", "sh", "-c", "exit 3"}, dir_->path());
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("played nothing through ALSA"), std::string::npos) << r.err;
  EXPECT_EQ(access(out.c_str(), F_OK), -1);
  r = run_program(TAPRECORD_PATH, {out, "--", "sh", "-c", "kill -9 $$"}, dir_->path());
  EXPECT_EQ(r.status, 128 + 9);
  r = run_program(TAPRECORD_PATH, {out, "--", "/nonexistent/player"}, dir_->path());
  EXPECT_EQ(r.status, 127);
  EXPECT_NE(r.err.find("cannot run /nonexistent/player"), std::string::npos) << r.err;
}

}  // namespace
