// Stream probing of files made by ffmpeg, and the content guard of the reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "CommonLang.h"
#include "LogCapture.h"
#include "MSCodecCommon.h"
#include "MSFFMPEG.h"
#include "MSFFMPEGLibrary.h"
#include "MediaFixtures.h"

namespace {

constexpr const char *kTone = "-f lavfi -i sine=frequency=440:duration=2 ";
constexpr const char *kVideo = "-f lavfi -i testsrc=size=320x240:rate=25:duration=2 ";

using Probe = StreamFacts;

class StreamProbe : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempDir();
    const std::string &dir = folder_->path();
    mp3_ = make_media(dir, "tone.mp3",
                      std::string(kTone) +
                          "-ac 2 -c:a libmp3lame -b:a 128k -metadata title=Tune -metadata "
                          "artist=Band -metadata album=Record -metadata genre=Jazz -metadata "
                          "date=2009 -metadata track=7/12");
    mp4_ = make_media(dir, "clip.mp4",
                      std::string(kVideo) + kTone + "-c:v libx264 -c:a aac -shortest");
  }
  static void TearDownTestSuite() { delete folder_; }
  void SetUp() override {
    ffmpeg_init(pool_);
    ASSERT_EQ(lang_init(pool_), 0);
  }
  void TearDown() override { ffmpeg_term(); }

  int probe(const std::string &path, Probe *p, CancelCheck cancel = nullptr,
            void *context = nullptr) {
    return stream_probe(pool_, path.c_str(), p, cancel, context);
  }

  TestPool pool_;
  static TempDir *folder_;
  static std::string mp3_, mp4_;
};

TempDir *StreamProbe::folder_ = nullptr;
std::string StreamProbe::mp3_, StreamProbe::mp4_;

TEST_F(StreamProbe, Mp3GivesAudioFactsDurationAndContainerTags) {
  ASSERT_FALSE(mp3_.empty());
  Probe p;
  ASSERT_EQ(probe(mp3_, &p), 0);
  EXPECT_EQ(p.video.present, 0);
  EXPECT_EQ(p.audio.present, 1);
  EXPECT_EQ(p.audio.codec_id, CODEC_ID_MP3);
  EXPECT_STREQ(p.audio_codec, "MP3");
  EXPECT_EQ(p.audio.bit_rate, 128000);
  EXPECT_EQ(p.audio.sample_rate, 44100);
  EXPECT_EQ(p.audio.channels, 2);
  EXPECT_EQ(p.audio.bits_per_sample, 16);
  EXPECT_STREQ(p.audio.language, "");
  EXPECT_NEAR(static_cast<double>(p.duration), 2e6, 1e5);
  EXPECT_EQ(p.size, static_cast<std::int64_t>(read_file(mp3_).size()));
  EXPECT_STREQ(p.title, "Tune");
  EXPECT_STREQ(p.author, "Band");
  EXPECT_STREQ(p.album, "Record");
  EXPECT_STREQ(p.genre, "Jazz");
  EXPECT_STREQ(p.copyright, "");
  EXPECT_EQ(p.year, 2009);
  EXPECT_EQ(p.track, 7);
}

TEST_F(StreamProbe, Mp4GivesVideoGeometryFrameRateAndCodecs) {
  ASSERT_FALSE(mp4_.empty());
  Probe p;
  ASSERT_EQ(probe(mp4_, &p), 0);
  EXPECT_EQ(p.video.present, 1);
  EXPECT_EQ(p.video.width, 320);
  EXPECT_EQ(p.video.height, 240);
  EXPECT_EQ(p.video.frame_rate_num, 25000);
  EXPECT_EQ(p.video.frame_rate_den, 1000);
  EXPECT_STREQ(p.video_codec, "H264");
  ASSERT_NE(p.video.profile, nullptr);
  // libx264 keeps testsrc's RGB as 4:4:4; the level is its choice for the size.
  EXPECT_TRUE(std::string(p.video.profile).starts_with("High 4:4:4 Predictive@L")) << p.video.profile;
  EXPECT_STREQ(p.audio_codec, "AAC");
  EXPECT_EQ(p.audio.codec_id, CODEC_ID_AAC);
  EXPECT_GT(p.video.bit_rate, 0);
}

TEST_F(StreamProbe, FrameRateAbove60IsUnknown) {
  std::string fast = make_media(folder_->path(), "fast.mkv",
                                "-f lavfi -i testsrc=size=64x48:rate=120:duration=1 -c:v mpeg4");
  ASSERT_FALSE(fast.empty());
  Probe p;
  ASSERT_EQ(probe(fast, &p), 0);
  EXPECT_EQ(p.video.present, 1);
  EXPECT_EQ(p.video.frame_rate_num, 0);
}

TEST_F(StreamProbe, LanguageOutweighsCodecButEqualLanguagesKeepTheFirst) {
  std::string two = make_media(folder_->path(), "two.mkv",
                               std::string(kTone) + kTone +
                                   "-map 0 -map 1 -c:a:0 ac3 -c:a:1 libmp3lame "
                                   "-metadata:s:a:0 language=ger -metadata:s:a:1 language=eng");
  ASSERT_FALSE(two.empty());
  Probe p;
  ASSERT_EQ(probe(two, &p), 0);
  EXPECT_EQ(p.audio.codec_id, CODEC_ID_MP3);
  EXPECT_STREQ(p.audio.language, "eng");
  EXPECT_STREQ(p.audio_codec, "MP3");

  std::string both = make_media(folder_->path(), "both.mkv",
                                std::string(kTone) + kTone +
                                    "-map 0 -map 1 -c:a:0 libmp3lame -c:a:1 ac3 "
                                    "-metadata:s:a:0 language=eng -metadata:s:a:1 language=eng");
  ASSERT_FALSE(both.empty());
  ASSERT_EQ(probe(both, &p), 0);
  EXPECT_EQ(p.audio.codec_id, CODEC_ID_MP3);
}

TEST_F(StreamProbe, AviStreamNameGivesTheLanguage) {
  std::string avi = make_media(folder_->path(), "named.avi",
                               std::string(kVideo) + kTone +
                                   "-map 0 -map 1 -c:v mpeg4 -c:a mp2 -shortest "
                                   "-metadata:s:a:0 title=\"Audio - French\"");
  ASSERT_FALSE(avi.empty());
  Probe p;
  ASSERT_EQ(probe(avi, &p), 0);
  EXPECT_STREQ(p.audio.language, "fre");
  EXPECT_EQ(p.audio.codec_id, CODEC_ID_MP2);
  EXPECT_EQ(p.video.present, 1);

  // The same stream name means nothing outside AVI.
  std::string renamed = folder_->file("named.bin");
  ASSERT_TRUE(copy_file(avi, renamed));
  ASSERT_EQ(probe(renamed, &p), 0);
  EXPECT_STREQ(p.audio.language, "");
}

TEST_F(StreamProbe, WvExtensionForcesTheMp3Demuxer) {
  std::string wavpack =
      make_media(folder_->path(), "real.bin", std::string(kTone) + "-f wv -c:a wavpack");
  ASSERT_FALSE(wavpack.empty());
  Probe p;
  ASSERT_EQ(probe(wavpack, &p), 0);
  EXPECT_STREQ(p.audio_codec, "WAVPACK");

  std::string as_wv = folder_->file("real.wv");
  ASSERT_TRUE(copy_file(wavpack, as_wv));
  int status = probe(as_wv, &p);
  EXPECT_FALSE(status == 0 && p.audio.present && std::string(p.audio_codec) == "WAVPACK");

  std::string mp3_as_wv = folder_->file("tone.wv");
  ASSERT_TRUE(copy_file(mp3_, mp3_as_wv));
  ASSERT_EQ(probe(mp3_as_wv, &p), 0);
  EXPECT_EQ(p.audio.codec_id, CODEC_ID_MP3);
}

TEST_F(StreamProbe, WebPagesAndPlaylistsRenamedToMp3AreRefused) {
  const std::string documents[] = {
      "  \n<!DOCTYPE html><html><body>Not found</body></html>\n",
      "<HTML><head><title>x</title></head></HTML>",
      "<asx version=\"3.0\"><entry><ref href=\"http://127.0.0.1/a.mp3\"/></entry></asx>",
      "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel></channel></rss>",
  };
  int n = 0;
  for (const std::string &text : documents) {
    LogCapture log;
    std::string path = folder_->file("doc" + std::to_string(n++) + ".mp3");
    write_file(path, text + std::string(4000, ' '));
    Probe p;
    EXPECT_EQ(probe(path, &p), 20014) << text;
    EXPECT_EQ(p.audio.present, 0);
    EXPECT_EQ(
        log.count("MSCodecCommon", 3,
                  "Could not open media file " + path + ", codec parameters will not be read"),
        1);
  }
}

TEST_F(StreamProbe, BadFilesFailWithoutCrashing) {
  LogCapture log;
  Probe p;
  std::string empty = folder_->file("empty.mp4");
  write_file(empty, "");
  EXPECT_EQ(probe(empty, &p), 20014);
  EXPECT_EQ(probe(folder_->file("missing.mkv"), &p), 20014);

  std::string cut = folder_->file("cut.mp4");
  write_file(cut, read_file(mp4_).substr(0, 3000));
  EXPECT_EQ(probe(cut, &p), 20014);

  std::string playlist = folder_->file("list.mp3");
  write_file(playlist, "#EXTM3U\n#EXTINF:10,Song\nhttp://127.0.0.1/song.mp3\n");
  EXPECT_EQ(probe(playlist, &p), 20014);
  EXPECT_EQ(probe(folder_->path(), &p), 20014);

  std::string noise = folder_->file("noise.avi");
  std::string bytes;
  for (int i = 0; i < 50000; ++i) bytes += static_cast<char>((i * 7919) % 251);
  write_file(noise, bytes);
  int status = probe(noise, &p);
  EXPECT_TRUE(status == 0 || status == 20014);
}

TEST_F(StreamProbe, HugeFileIsProbedFromItsHeaders) {
  std::string huge = folder_->file("huge.mp3");
  ASSERT_TRUE(copy_file(mp3_, huge));
  ASSERT_EQ(truncate(huge.c_str(), 3000000000LL), 0);  // sparse
  AVFormatContext *input = nullptr;
  ASSERT_EQ(ffmpeg_open_input(huge.c_str(), av_find_input_format("mp3"), AVIOInterruptCB{}, &input),
            0);
  ASSERT_GE(avformat_find_stream_info(input, nullptr), 0);
  EXPECT_LT(ffmpeg_input_bytes_read(input), 10000000);
  ffmpeg_close_input(&input);
  EXPECT_EQ(input, nullptr);
  Probe p;
  EXPECT_EQ(probe(huge, &p), 0);
  EXPECT_EQ(p.size, 3000000000LL);
}

TEST_F(StreamProbe, HugeFileOfZerosIsReadOnlyUpToTheBudget) {
  std::string zeros = folder_->file("zeros.mp3");
  write_file(zeros, "");
  ASSERT_EQ(truncate(zeros.c_str(), 4LL * 1024 * 1024 * 1024), 0);  // sparse
  AVFormatContext *input = nullptr;
  if (ffmpeg_open_input(zeros.c_str(), av_find_input_format("mp3"), AVIOInterruptCB{}, &input) == 0) {
    avformat_find_stream_info(input, nullptr);
    EXPECT_LE(ffmpeg_input_bytes_read(input), 32LL * 1024 * 1024);
    ffmpeg_close_input(&input);
  }
  Probe p;
  const int status = probe(zeros, &p);
  EXPECT_TRUE(status == 0 || status == 20014);
}

TEST_F(StreamProbe, ContainerTagsInALegacyCodePageBecomeUtf8) {
  std::string avi =
      make_media(folder_->path(), "latin1.avi",
                 std::string(kTone) + "-c:a mp2 -metadata title=\"$(printf 'caf\\351')\"");
  ASSERT_FALSE(avi.empty());
  // A "C" locale reads legacy text as ISO-8859-1.
  const char *saved = std::getenv("LC_ALL");
  std::string previous = saved ? saved : "";
  setenv("LC_ALL", "C", 1);
  Probe p;
  int status = probe(avi, &p);
  if (saved) {
    setenv("LC_ALL", previous.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
  ASSERT_EQ(status, 0);
  EXPECT_STREQ(p.title, "caf\xC3\xA9");
}

TEST_F(StreamProbe, LibraryLevelsMapToOurs) {
  LogCapture log;
  // The log hook set up before the library is loaded reaches it on loading.
  ASSERT_NE(ffmpeg_library(), nullptr);
  av_log(nullptr, AV_LOG_PANIC, "panic line\n");
  av_log(nullptr, AV_LOG_WARNING, "warning %d\n", 7);
  av_log(nullptr, AV_LOG_VERBOSE, "verbose\n");
  av_log(nullptr, AV_LOG_TRACE, "trace\n");
  av_log(nullptr, 72, "finer trace\n");  // what the mp3 demuxer logs for every file
  EXPECT_EQ(log.count("MSFFMPEG", 4, "panic line"), 1);
  EXPECT_EQ(log.count("MSFFMPEG", 0, "finer trace"), 1);
  EXPECT_EQ(log.count("MSFFMPEG", 2, "warning 7"), 1);
  EXPECT_EQ(log.count("MSFFMPEG", 1, "verbose"), 1);
  EXPECT_EQ(log.count("MSFFMPEG", 0, "trace"), 1);
  EXPECT_FALSE(log.contains("Internal server error"));
  av_log(nullptr, 20, "odd level\n");
  EXPECT_EQ(log.count("MSFFMPEG", 0, "odd level"), 1);
  EXPECT_TRUE(log.contains("Internal server error"));
}

// A demuxer named by a file's first bytes must be the one detection by content
// chooses; bytes that name none leave the choice to detection.
TEST_F(StreamProbe, DemuxerNamedByMagicIsTheOneDetectionChooses) {
  const struct {
    const char *name, *arguments;
    bool named;
  } kFiles[] = {
      {"a.flac", "-c:a flac", true},
      {"a.ogg", "-c:a libvorbis", true},
      {"a.opus", "-c:a libopus", true},
      {"a.oga", "-c:a flac -f ogg", true},
      {"a.m4a", "-c:a aac", true},
      {"a.mov", "-c:a pcm_s16le", true},
      {"a.3gp", "-c:a aac", true},
      {"a.wav", "-c:a pcm_s16le", false},
      {"a.mkv", "-c:a libvorbis", false},
      {"a.mp3", "-c:a libmp3lame", false},
      {"v.mp4", "-f lavfi -i testsrc=size=64x48:duration=1 -c:v libx264 -c:a aac -shortest", true},
  };
  for (const auto &file : kFiles) {
    std::string path = make_media(folder_->path(), file.name, std::string(kTone) + file.arguments);
    if (path.empty()) continue;  // an encoder this ffmpeg lacks
    const std::string head = read_file(path).substr(0, 12);
    const char *named = ffmpeg_demuxer_by_magic(reinterpret_cast<const unsigned char *>(head.data()),
                                                static_cast<int>(head.size()));
    EXPECT_EQ(named != nullptr, file.named) << file.name;
    AVFormatContext *detected = nullptr;
    ASSERT_EQ(avformat_open_input(&detected, path.c_str(), nullptr, nullptr), 0) << file.name;
    if (named) {
      EXPECT_EQ(ffmpeg_demuxer(named), detected->iformat) << file.name;
    }
    avformat_close_input(&detected);
  }
  const std::string jp2 = std::string("\0\0\0\x14" "ftypjp2 ", 12);
  EXPECT_EQ(ffmpeg_demuxer_by_magic(reinterpret_cast<const unsigned char *>(jp2.data()), 12), nullptr);
  EXPECT_EQ(ffmpeg_demuxer_by_magic(reinterpret_cast<const unsigned char *>("OggS"), 3), nullptr);
  // Kept look-ups answer by the name, not by where the caller held it.
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(ffmpeg_demuxer(std::string("mp3").c_str()), av_find_input_format("mp3"));
    EXPECT_EQ(ffmpeg_demuxer(std::string("no such demuxer").c_str()), nullptr);
  }
}

// Files whose header says all are read without the analysis of their streams:
// what the probe reports must be what the analysis gives.
TEST_F(StreamProbe, HeaderReadingGivesWhatTheAnalysisGives) {
  const std::string tags = " -metadata title=T -metadata artist=A -metadata date=2001 -metadata language=fre";
  const struct {
    const char *name, *arguments;
  } kFiles[] = {
      {"mono8k.flac", "-ar 8000 -ac 1 -c:a flac"},
      {"hires.flac", "-ar 96000 -ac 2 -sample_fmt s32 -c:a flac"},
      {"six.flac", "-ac 6 -c:a flac"},
      {"vbr.ogg", "-ac 2 -c:a libvorbis -q:a 2"},
      {"mono.ogg", "-ar 22050 -ac 1 -c:a libvorbis -b:a 64k"},
      {"voice.opus", "-ac 1 -c:a libopus -b:a 24k"},
      {"stereo.opus", "-ac 2 -ar 44100 -c:a libopus"},
      {"flac.oga", "-c:a flac -f ogg"},
      {"speex.spx", "-ar 16000 -c:a libspeex"},
      {"two.ogg", "-map 0 -map 0 -c:a libvorbis"},
      {"cover.flac",
       "-f lavfi -i color=size=32x32:duration=1 -map 0 -map 1 -c:a flac -c:v png -disposition:v attached_pic"},
      {"theora.ogg", "-f lavfi -i testsrc=size=64x48:duration=1 -c:a libvorbis -c:v libtheora -shortest"},
  };
  const auto compare = [this](const std::string &path) {
    Probe read, analysed;
    const int status = probe(path, &read);
    stream_probe_always_analyse(true);
    EXPECT_EQ(probe(path, &analysed), status) << path;
    stream_probe_always_analyse(false);
    if (status == 0) {
      EXPECT_EQ(facts_text(read), facts_text(analysed)) << path;
    }
  };
  int made = 0;
  for (const auto &file : kFiles) {
    const std::string path = make_media(folder_->path(), file.name, std::string(kTone) + file.arguments + tags);
    if (path.empty()) continue;  // an encoder this ffmpeg lacks
    ++made;
    compare(path);
    // Cut short: the header still says the whole length, the last page does not.
    const std::string whole = read_file(path), cut = folder_->file(std::string("cut-") + file.name);
    write_file(cut, whole.substr(0, whole.size() * 2 / 3));
    compare(cut);
  }
  EXPECT_GE(made, 8);
  // Two Ogg files one after the other, as a recorded stream is often kept.
  const std::string chained = folder_->file("chained.ogg");
  write_file(chained, read_file(folder_->file("mono.ogg")) + read_file(folder_->file("vbr.ogg")));
  compare(chained);
}

int cancel_always(void *calls) {
  ++*static_cast<int *>(calls);
  return 1;
}

TEST_F(StreamProbe, CancelCheckIsPolledAfterReadingAndOnFailure) {
  int calls = 0;
  Probe p;
  EXPECT_EQ(probe(mp3_, &p, cancel_always, &calls), 4);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(probe(folder_->file("missing.mp3"), &p, cancel_always, &calls), 4);
  EXPECT_EQ(calls, 2);
}

TEST_F(StreamProbe, LibraryMessagesGoToOurLogger) {
  LogCapture log;
  std::string noise = folder_->file("bad.mp4");
  write_file(noise, std::string("\0\0\0\x20"
                                "ftypisom",
                                12) +
                        std::string(100, 'x'));
  Probe p;
  EXPECT_EQ(probe(noise, &p), 20014);
  bool from_library = false;
  for (const LoggedEvent &e : log.events()) from_library |= e.logger == "MSFFMPEG";
  EXPECT_TRUE(from_library);
}

}  // namespace
