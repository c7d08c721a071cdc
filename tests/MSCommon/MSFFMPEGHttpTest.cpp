// Stream probing over HTTP: the same facts as from the files themselves,
// fetched through a few ranged requests rather than whole files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "CommonLang.h"
#include "LocalHttpServer.h"
#include "LogCapture.h"
#include "MSCodecCommon.h"
#include "MSFFMPEG.h"
#include "MediaFixtures.h"

namespace {

constexpr const char *kTone = "-f lavfi -i sine=frequency=440:duration=20 ";
constexpr const char *kVideo = "-f lavfi -i testsrc=size=320x240:rate=25:duration=20 ";

using Facts = StreamFacts;

std::string str(const char *text) { return text != nullptr ? text : "(null)"; }

void expect_same(const Facts &a, const Facts &b) {
  EXPECT_EQ(a.video.present, b.video.present);
  EXPECT_EQ(a.video.width, b.video.width);
  EXPECT_EQ(a.video.height, b.video.height);
  EXPECT_EQ(a.video.bit_rate, b.video.bit_rate);
  EXPECT_EQ(a.video.frame_rate_num, b.video.frame_rate_num);
  EXPECT_EQ(a.video.codec_id, b.video.codec_id);
  EXPECT_EQ(a.audio.present, b.audio.present);
  EXPECT_EQ(a.audio.bit_rate, b.audio.bit_rate);
  EXPECT_EQ(a.audio.sample_rate, b.audio.sample_rate);
  EXPECT_EQ(a.audio.channels, b.audio.channels);
  EXPECT_EQ(a.audio.codec_id, b.audio.codec_id);
  EXPECT_EQ(a.duration, b.duration);
  EXPECT_EQ(a.size, b.size);
  EXPECT_EQ(str(a.video_codec), str(b.video_codec));
  EXPECT_EQ(str(a.audio_codec), str(b.audio_codec));
  EXPECT_EQ(str(a.title), str(b.title));
  EXPECT_EQ(str(a.album), str(b.album));
  EXPECT_EQ(a.year, b.year);
  EXPECT_EQ(a.track, b.track);
}

class StreamProbeHttp : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempDir();
    const std::string &dir = folder_->path();
    make_media(dir, "tone.mp3",
               std::string(kTone) + "-c:a libmp3lame -b:a 128k -metadata title=Tune -metadata album=Record "
                                    "-metadata track=3");
    make_media(dir, "tone.m4a", std::string(kTone) + "-c:a aac -b:a 96k -metadata title=Tune");
    make_media(dir, "clip.mkv", std::string(kVideo) + kTone + "-c:v libx264 -preset ultrafast -c:a libmp3lame -shortest");
    write_file(dir + "/page.mp3", "  <html><body>not a song</body></html>");
    server_ = new LocalHttpServer(dir);
    // The HTTP layer keeps its cookie file in the current folder.
    previous_ = new std::filesystem::path(std::filesystem::current_path());
    std::filesystem::current_path(dir);
  }
  static void TearDownTestSuite() {
    std::filesystem::current_path(*previous_);
    delete previous_;
    delete server_;
    delete folder_;
  }
  void SetUp() override {
    ffmpeg_init(pool_);
    ASSERT_EQ(lang_init(pool_), 0);
  }
  void TearDown() override { ffmpeg_term(); }

  int probe(const std::string &path, Facts *f) {
    return stream_probe(pool_, path.c_str(), f);
  }
  TestPool pool_;
  static TempDir *folder_;
  static LocalHttpServer *server_;
  static std::filesystem::path *previous_;
};

TempDir *StreamProbeHttp::folder_ = nullptr;
LocalHttpServer *StreamProbeHttp::server_ = nullptr;
std::filesystem::path *StreamProbeHttp::previous_ = nullptr;

TEST_F(StreamProbeHttp, SameFactsAsTheFiles) {
  for (const char *name : {"tone.mp3", "tone.m4a", "clip.mkv"}) {
    SCOPED_TRACE(name);
    Facts local, remote;
    ASSERT_EQ(probe(folder_->file(name), &local), 0);
    ASSERT_EQ(probe(server_->url(std::string("/files/") + name), &remote), 0);
    expect_same(local, remote);
  }
}

TEST_F(StreamProbeHttp, PagesAndMissingUrlsFail) {
  LogCapture log;
  Facts f;
  EXPECT_EQ(probe(server_->url("/files/page.mp3"), &f), APR_EGENERAL) << "the content guard applies";
  EXPECT_EQ(probe(server_->url("/files/none.mp3"), &f), APR_EGENERAL);
  EXPECT_TRUE(log.contains("Error reading " + server_->url("/files/none.mp3")));
}

}  // namespace
