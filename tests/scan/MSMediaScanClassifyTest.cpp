// The one classification of a walked file that the look-ahead and the
// file's turn share: why a file is passed over, which kinds a source wants,
// and when a picture is album art rather than a photo.
#include <gtest/gtest.h>

#include "LogCapture.h"
#include "MSMediaScanClassify.h"

namespace {

class Classify : public ::testing::Test {
 protected:
  Classify() {
    scan_.root = "/srv/media";
    scan_.lookfor_audio = scan_.lookfor_video = scan_.lookfor_photo = 1;
  }

  ClassifiedFile classify(const char *name, apr_off_t size = 100) {
    file_ = ScanFile{name, size, 1700000000000000};
    return msms_classify_file(pool_, &scan_, &folder_, &file_);
  }

  TestPool pool_;
  ScanContext scan_{};
  FolderScan folder_{nullptr, "/Music/A", nullptr, nullptr};
  ScanFile file_{};
};

TEST_F(Classify, FilesPassedOverSayWhy) {
  EXPECT_EQ(classify("README").skip, FileSkip::no_extension);
  EXPECT_EQ(classify("trailing.").skip, FileSkip::no_extension);
  EXPECT_EQ(classify("empty.mp3", 0).skip, FileSkip::empty);
  EXPECT_EQ(classify("Episode 1.SRT").skip, FileSkip::subtitle);
  EXPECT_EQ(classify("notes.txt").skip, FileSkip::unknown_format);
  const ClassifiedFile playlist = classify("party.asx");
  EXPECT_EQ(playlist.skip, FileSkip::playlist);
  EXPECT_STREQ(playlist.path, "/srv/media/Music/A/party.asx");  // named in the log
}

TEST_F(Classify, MediaFileGetsItsPathUrlAndSignature) {
  const ClassifiedFile track = classify("01 Song.mp3");
  ASSERT_EQ(track.skip, FileSkip::none);
  EXPECT_TRUE(track.wanted);
  EXPECT_FALSE(track.album_art);
  EXPECT_STREQ(track.relative, "/Music/A");
  EXPECT_STREQ(track.url, "file:///srv/media/Music/A/01 Song.mp3");
  EXPECT_STREQ(track.signature, "1700000000000000");
  folder_.relative = "";
  EXPECT_STREQ(classify("x.jpg").relative, "/");
}

TEST_F(Classify, SourceKindsDecideWhatIsWanted) {
  scan_.lookfor_photo = scan_.lookfor_video = 0;
  EXPECT_TRUE(classify("a.mp3").wanted);
  EXPECT_FALSE(classify("a.jpg").wanted);
  EXPECT_FALSE(classify("a.mp4").wanted);
  // A format that may hold audio or video is wanted by either kind.
  EXPECT_EQ(classify("a.ogg").type->media_class, MEDIA_AUDIO_OR_VIDEO);
  EXPECT_TRUE(classify("a.ogg").wanted);
  scan_.lookfor_audio = 0;
  EXPECT_FALSE(classify("a.ogg").wanted);
  scan_.lookfor_video = 1;
  EXPECT_TRUE(classify("a.ogg").wanted);
}

TEST_F(Classify, AlbumArtIsNoPhotoUnlessTheConfigurationAllowsIt) {
  ClassifiedFile cover = classify("Folder.JPG");
  EXPECT_TRUE(cover.album_art);
  EXPECT_FALSE(cover.wanted);
  EXPECT_TRUE(classify("holiday.jpg").wanted);
  scan_.allow_album_art_as_photo = 1;
  EXPECT_FALSE(classify("folder.jpg").album_art);  // nothing treats it as art then
  EXPECT_TRUE(classify("folder.jpg").wanted);
  scan_.handle_album_art = 1;
  cover = classify("folder.jpg");
  EXPECT_TRUE(cover.album_art);
  EXPECT_TRUE(cover.wanted);
  // An audio-only source still gives art to its tracks.
  scan_.lookfor_photo = 0;
  EXPECT_TRUE(classify("folder.jpg").album_art);
  EXPECT_FALSE(classify("folder.jpg").wanted);
}

}  // namespace
