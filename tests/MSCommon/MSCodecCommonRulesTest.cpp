// The probe's arithmetic and audio preference, without files.
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/avutil.h>
}

#include "CommonLang.h"
#include "LogCapture.h"
#include "MSCodecCommonInternal.h"

namespace {

AudioInfo audio_at(int bit_rate) {
  AudioInfo audio{};
  audio.present = 1;
  audio.bit_rate = bit_rate;
  return audio;
}

TEST(StreamRates, VideoBitRateComesFromSizeAndDurationLessAudio) {
  VideoInfo video{};
  AudioInfo audio = audio_at(128000);
  std::int64_t duration = 100000000;
  stream_rates_settle(&duration, 100000000, 0, &video, &audio);
  EXPECT_EQ(duration, 100000000);
  EXPECT_EQ(video.bit_rate, 7872000);
}

TEST(StreamRates, DurationOutsideZeroToTenHoursIsUnknown) {
  for (std::int64_t d : {std::int64_t{0}, std::int64_t{-5}, std::int64_t{36000000000},
                         std::int64_t{AV_NOPTS_VALUE}}) {
    VideoInfo video{};
    video.bit_rate = 25000000;
    AudioInfo audio{};
    std::int64_t duration = d;
    stream_rates_settle(&duration, 1000, 0, &video, &audio);
    EXPECT_EQ(duration, -1);
    EXPECT_EQ(video.bit_rate, 0);
  }
  VideoInfo video{};
  AudioInfo audio{};
  std::int64_t duration = 35999999999;
  stream_rates_settle(&duration, 0, 0, &video, &audio);
  EXPECT_EQ(duration, 35999999999);
}

TEST(StreamRates, ContainerBitRateFillsAMissingVideoRate) {
  VideoInfo video{};
  AudioInfo audio = audio_at(128000);
  std::int64_t duration = -1;
  stream_rates_settle(&duration, 0, 1128000, &video, &audio);
  EXPECT_EQ(video.bit_rate, 1000000);

  video = VideoInfo{};
  stream_rates_settle(&duration, 0, 100000, &video, &audio);
  EXPECT_EQ(video.bit_rate, 100000);  // difference below 1

  video = VideoInfo{};
  stream_rates_settle(&duration, 0, 20000000, &video, &audio);
  EXPECT_EQ(video.bit_rate, 0);
}

TEST(StreamRates, HugeRateFromTinyDurationDoesNotWrap) {
  VideoInfo video{};
  AudioInfo audio{};
  std::int64_t duration = 1;
  stream_rates_settle(&duration, 4000000000LL, 0, &video, &audio);
  EXPECT_GT(video.bit_rate, 0);
}

TEST(StreamRates, FrameRateGetsADenominatorAndLosesRatesAbove60) {
  VideoInfo video{};
  AudioInfo audio{};
  std::int64_t duration = -1;
  video.frame_rate_num = 120;
  video.frame_rate_den = 1;
  stream_rates_settle(&duration, 0, 0, &video, &audio);
  EXPECT_EQ(video.frame_rate_num, 0);

  video.frame_rate_num = 60000;
  video.frame_rate_den = 1000;
  stream_rates_settle(&duration, 0, 0, &video, &audio);
  EXPECT_EQ(video.frame_rate_num, 60000);

  video.frame_rate_num = 30;
  video.frame_rate_den = 0;
  stream_rates_settle(&duration, 0, 0, &video, &audio);
  EXPECT_EQ(video.frame_rate_den, 1);
  EXPECT_EQ(video.frame_rate_num, 30);
}

class AudioChoice : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(lang_init(pool_), 0);
    lang_set_current(0);
  }
  TestPool pool_;
};

TEST_F(AudioChoice, PreferredLanguageBeatsPreferredCodec) {
  EXPECT_TRUE(audio_stream_beats(CODEC_ID_MP3, "eng", CODEC_ID_AC3, "ger"));
  EXPECT_FALSE(audio_stream_beats(CODEC_ID_AC3, "ger", CODEC_ID_MP3, "eng"));
  EXPECT_TRUE(audio_stream_beats(CODEC_ID_DTS, "ENG", CODEC_ID_AC3, "fre"));
}

TEST_F(AudioChoice, SameLanguageNeverWinsOnCodec) {
  EXPECT_FALSE(audio_stream_beats(CODEC_ID_AC3, "eng", CODEC_ID_MP3, "eng"));
}

TEST_F(AudioChoice, CodecDecidesBetweenUnrankedLanguages) {
  EXPECT_TRUE(audio_stream_beats(CODEC_ID_AC3, "ger", CODEC_ID_MP3, "fre"));
  EXPECT_TRUE(audio_stream_beats(CODEC_ID_AAC, "ger", 0x15005, "fre"));
  EXPECT_FALSE(audio_stream_beats(0x15005, "ger", CODEC_ID_DTS, "fre"));
  EXPECT_FALSE(audio_stream_beats(CODEC_ID_MP3, "engl", CODEC_ID_MP2, "deu"));
}

}  // namespace
