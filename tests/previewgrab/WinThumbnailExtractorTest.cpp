// Thumbnails of real media made at test time, read back as JPEG: the size
// and aspect of a video frame, an EXIF-rotated photo and a track's cover;
// the names as the extraction prepares them; and bad input, which must fail
// with its code and leave no JPEG behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "LogCapture.h"
#include "MediaFixtures.h"
#include "ThumbnailFixture.h"
#include "WinThumbnailExtractor.h"

namespace {

class ThumbnailTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    media = new TempDir;
    const std::string &dir = media->path();
    // Half a second of black opens the video, as many films open.
    video = make_media(dir, "clip.mp4",
                       "-f lavfi -i color=black:s=320x180:d=0.5 -f lavfi -i testsrc=s=320x180:d=9.5 "
                       "-filter_complex [0][1]concat=n=2 -c:v libx264 -pix_fmt yuv420p");
    cover = make_image(dir, "cover.png", "-size 64x48 xc:orange");
    track = make_media(dir, "track.mp3",
                       "-f lavfi -i sine=d=1 -i '" + cover + "' -map 0 -map 1 -c:a libmp3lame -c:v png "
                       "-id3v2_version 3 -metadata:s:v comment=\"Cover (front)\"");
    bare_track = make_media(dir, "bare.mp3", "-f lavfi -i sine=d=1 -c:a libmp3lame");
    photo = make_oriented_jpeg(dir, "portrait.jpg", 400, 300, 6);
  }
  static void TearDownTestSuite() { delete media; }

  int extract(const std::string &source, const std::string &output, int size) {
    return thumbnail_extract(pool, source.c_str(), output.c_str(), size);
  }

  static TempDir *media;
  static std::string video, cover, track, bare_track, photo;
  TempDir out;
  TestPool pool;
  LogCapture log;
};

TempDir *ThumbnailTest::media = nullptr;
std::string ThumbnailTest::video, ThumbnailTest::cover, ThumbnailTest::track, ThumbnailTest::bare_track,
    ThumbnailTest::photo;

TEST_F(ThumbnailTest, VideoFrameComesFromATenthOfTheRunningTimeAndKeepsTheAspect) {
  ASSERT_FALSE(video.empty());
  ASSERT_EQ(extract(video, out.file("v.jpg"), 160), 0);
  JpegFacts facts = read_jpeg(out.file("v.jpg"));
  ASSERT_TRUE(facts.valid);
  EXPECT_EQ(facts.width, 160);
  EXPECT_EQ(facts.height, 90);
  EXPECT_GT(facts.mean, 0.2) << "not the black opening frame";
}

TEST_F(ThumbnailTest, PortraitPhotoIsTurnedUprightByItsExifOrientation) {
  ASSERT_FALSE(photo.empty());
  ASSERT_EQ(extract(photo, out.file("p.jpg"), 200), 0);
  JpegFacts facts = read_jpeg(out.file("p.jpg"));
  ASSERT_TRUE(facts.valid);
  EXPECT_EQ(facts.width, 150);
  EXPECT_EQ(facts.height, 200);
}

TEST_F(ThumbnailTest, TrackShowsItsEmbeddedCoverElseTheAlbumArtBesideIt) {
  ASSERT_FALSE(track.empty());
  ASSERT_EQ(extract(track, out.file("t.jpg"), 96), 0);
  JpegFacts facts = read_jpeg(out.file("t.jpg"));
  ASSERT_TRUE(facts.valid);
  EXPECT_EQ(facts.width, 96);
  EXPECT_EQ(facts.height, 72);

  // Without a cover of its own, the track takes the folder's album art,
  // whatever the letter case of its name.
  TempDir album;
  ASSERT_TRUE(copy_file(bare_track, album.file("01.mp3")));
  EXPECT_NE(extract(album.file("01.mp3"), out.file("none.jpg"), 96), 0);
  EXPECT_TRUE(log.contains("could not extract thumbnail, error 8004B200"));
  EXPECT_FALSE(std::filesystem::exists(out.file("none.jpg")));
  ASSERT_FALSE(make_image(album.path(), "Folder.JPG", "-size 30x60 xc:blue").empty());
  ASSERT_EQ(extract(album.file("01.mp3"), out.file("a.jpg"), 96), 0);
  facts = read_jpeg(out.file("a.jpg"));
  EXPECT_EQ(facts.width, 48);
  EXPECT_EQ(facts.height, 96);
}

// A "\" was made "/" in the folder and the output, so that a file in a
// folder named "films\old" was looked for in films/old/.
TEST_F(ThumbnailTest, BackslashSplitAFolderNameInTwo) {
  ThumbnailNames names;
  ASSERT_EQ(thumbnail_prepare_names(pool, "clip.mp4", "out\\t.jpg", &names), 0);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(std::string(names.folder), std::string(cwd) + "/");
  EXPECT_STREQ(names.item, "clip.mp4");
  EXPECT_STREQ(names.output, "out\\t.jpg");
  ASSERT_EQ(thumbnail_prepare_names(pool, "/media/films\\old/clip.mp4", "t.jpg", &names), 0);
  EXPECT_STREQ(names.folder, "/media/films\\old/");
  ASSERT_EQ(thumbnail_prepare_names(pool, "films\\clip.mp4", "t.jpg", &names), 0);
  EXPECT_STREQ(names.item, "films\\clip.mp4");

  // The source, found through a folder written with forward slashes and a
  // source without any folder, read from the current one.
  ASSERT_EQ(extract(media->path() + "//" + "clip.mp4", out.file("slashes.jpg"), 64), 0);
  const std::string here = std::filesystem::current_path();
  std::filesystem::current_path(media->path());
  int status = extract("portrait.jpg", out.file("here.jpg"), 64);
  std::filesystem::current_path(here);
  EXPECT_EQ(status, 0);
}

TEST_F(ThumbnailTest, NamesBeyondTheConversionBufferOrNotUtf8AreRefused) {
  ThumbnailNames names;
  const std::string fits = "/tmp/" + std::string(2042, 'a');
  EXPECT_EQ(thumbnail_prepare_names(pool, fits.c_str(), "t.jpg", &names), 0);
  const std::string long_name = "/tmp/" + std::string(2048, 'a');
  EXPECT_EQ(thumbnail_prepare_names(pool, long_name.c_str(), "t.jpg", &names), 20014);
  EXPECT_TRUE(log.contains("could not convert " + long_name + " to ucs2"));
  EXPECT_EQ(thumbnail_prepare_names(pool, "/tmp/a.jpg", "/tmp/\xff.jpg", &names), 20014);
  EXPECT_EQ(log.count("WinThumbnailExtractor", 3, "could not convert /tmp/a.jpg to ucs2"), 0);
  EXPECT_TRUE(log.contains("could not convert /tmp/")) << "the output's name";
}

struct BadInput {
  const char *what;
  std::string source;
  int size;
  const char *message;
};

TEST_F(ThumbnailTest, BadInputFailsWithItsCodeAndLeavesNoJpeg) {
  const std::string &dir = media->path();
  std::string truncated = dir + "/truncated.mp4";
  write_file(truncated, read_file(video).substr(0, 2000));
  std::string huge = make_png_header(dir, "huge.png", 60000, 60000);
  std::string text = dir + "/notes.txt";
  write_file(text, "not media");
  const BadInput cases[] = {
      {"missing file", dir + "/missing.mp4", 64, "error 80070002"},
      {"a folder", dir, 64, "error 80004002"},
      {"not a media file", text, 64, "error 80004002"},
      {"truncated video", truncated, 64, "error 8004B200"},
      {"huge declared image", huge, 64, "error 8007000E"},
      {"size abc reads as 0", photo, 0, "error 80070057"},
      {"negative size", photo, -5, "error 80070057"},
      {"size beyond the limit", photo, 100000, "error 80070057"},
  };
  for (const BadInput &c : cases) {
    log.clear();
    const std::string output = out.file("bad.jpg");
    EXPECT_EQ(extract(c.source, output, c.size), 20014) << c.what;
    EXPECT_TRUE(log.contains(std::string("could not extract thumbnail, ") + c.message)) << c.what;
    EXPECT_FALSE(std::filesystem::exists(output)) << c.what;
  }
}

TEST_F(ThumbnailTest, UnwritableOutputLeavesNothingBehind) {
  EXPECT_EQ(extract(photo, out.file("missing/t.jpg"), 64), 20014);
  EXPECT_TRUE(log.contains("couldn't save thumbnail, status 7"));
  // A folder in the way of the output: the replacement fails at its end.
  std::filesystem::create_directory(out.file("taken.jpg"));
  EXPECT_EQ(extract(photo, out.file("taken.jpg"), 64), 20014);
  int entries = 0;
  for (const auto &entry : std::filesystem::directory_iterator(out.path())) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 1) << "no temporary file left";
}

}  // namespace
