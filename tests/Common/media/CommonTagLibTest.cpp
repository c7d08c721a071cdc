// Tags through TagLib, with the frames ffmpeg cannot write added by TagLib.
#include <gtest/gtest.h>
#include <taglib/asffile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/privateframe.h>
#include <taglib/textidentificationframe.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "CommonTagLib.h"
#include "CommonTagLibExtra.h"
#include "CommonTagLibStream.h"
#include "CommonUtf8.h"
#include "LogCapture.h"
#include "MediaMaker.h"

namespace {

constexpr const char *kToneArgs = "-f lavfi -i sine=frequency=440:duration=2 -ac 2 ";
constexpr const char *kTags =
    "-metadata title=Tune -metadata artist=Band -metadata album=Record -metadata genre=Jazz "
    "-metadata comment=Fine -metadata date=2009 -metadata track=7 ";

TagLib::ByteVector guid_bytes(char first) {
  TagLib::ByteVector bytes;
  for (char i = 0; i < 16; ++i) bytes.append(static_cast<char>(first + i));
  return bytes;
}

void add_collection_frame(TagLib::ID3v2::Tag *tag, char first) {
  auto *frame = new TagLib::ID3v2::PrivateFrame();
  frame->setOwner("WM/WMCollectionID");
  frame->setData(guid_bytes(first));
  tag->addFrame(frame);
}

class TagReading : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempDir();
    const std::string &dir = folder_->path();
    mp3_ = make_media(dir, "tagged.mp3", std::string(kToneArgs) + kTags + "-c:a libmp3lame");
    m4a_ = make_media(dir, "tagged.m4a", std::string(kToneArgs) + kTags + "-c:a aac");
    wma_ = make_media(dir, "tagged.wma", std::string(kToneArgs) + kTags + "-c:a wmav2");
    flac_ = make_media(dir, "tagged.flac", std::string(kToneArgs) + kTags + "-c:a flac");
    add_mpeg_frames();
    add_mp4_album_artists();
    add_asf_attributes();
  }
  static void TearDownTestSuite() { delete folder_; }

  static void add_mpeg_frames() {
    TagLib::MPEG::File file(mp3_.c_str());
    TagLib::ID3v2::Tag *tag = file.ID3v2Tag(true);
    auto *album_artist = new TagLib::ID3v2::TextIdentificationFrame("TPE2", TagLib::String::UTF8);
    album_artist->setText(TagLib::String("Björk", TagLib::String::UTF8));
    tag->addFrame(album_artist);
    add_collection_frame(tag, 0x00);
    auto *other = new TagLib::ID3v2::PrivateFrame();
    other->setOwner("WM/MediaClassPrimaryID");
    other->setData(guid_bytes(0x40));
    tag->addFrame(other);
    add_collection_frame(tag, 0x20);
    file.save();
  }
  static void add_mp4_album_artists() {
    TagLib::MP4::File file(m4a_.c_str());
    TagLib::StringList names;
    names.append("Simon");
    names.append("Garfunkel");
    file.tag()->setItem("aART", TagLib::MP4::Item(names));
    file.save();
  }
  static void add_asf_attributes() {
    TagLib::ASF::File file(wma_.c_str());
    file.tag()->setAttribute("WM/AlbumArtist", TagLib::ASF::Attribute(TagLib::String("Orchestra")));
    file.tag()->setAttribute("WM/WMCollectionID", TagLib::ASF::Attribute(guid_bytes(0x10)));
    file.save();
  }

  struct Tags {
    const char *title = nullptr, *artist = nullptr, *comment = nullptr, *album = nullptr;
    const char *album_artist = nullptr, *genre = nullptr, *collection_id = nullptr;
    int year = -1, track = -1, length = -1;
  };
  int read(const std::string &path, Tags *t) {
    return tags_read(pool_, path.c_str(), &t->title, &t->artist, &t->comment, &t->album,
                     &t->album_artist, &t->genre, &t->year, &t->track, &t->length,
                     &t->collection_id);
  }

  TestPool pool_;
  static TempDir *folder_;
  static std::string mp3_, m4a_, wma_, flac_;
};

TempDir *TagReading::folder_ = nullptr;
std::string TagReading::mp3_, TagReading::m4a_, TagReading::wma_, TagReading::flac_;

TEST_F(TagReading, Mp3GivesGenericTagsTpe2AndTheLastCollectionFrame) {
  ASSERT_FALSE(mp3_.empty());
  Tags t;
  ASSERT_EQ(read(mp3_, &t), 0);
  EXPECT_STREQ(t.title, "Tune");
  EXPECT_STREQ(t.artist, "Band");
  EXPECT_STREQ(t.album, "Record");
  EXPECT_STREQ(t.genre, "Jazz");
  EXPECT_EQ(t.year, 2009);
  EXPECT_EQ(t.track, 7);
  EXPECT_EQ(t.length, 2);
  EXPECT_STREQ(t.album_artist, "Björk");
  EXPECT_STREQ(t.collection_id, "23222120-2524-2726-2829-2A2B2C2D2E2F");
}

// MP4 "aART" strings are joined by one space, ASF attributes are read, and
// formats other than MPEG, MP4 and ASF give neither value.
TEST_F(TagReading, AlbumArtistAndCollectionIdComeFromTheFormatSpecificTag) {
  const struct {
    const std::string &path;
    const char *album_artist;
    const char *collection_id;
  } cases[] = {
      {m4a_, "Simon Garfunkel", ""},
      {wma_, "Orchestra", "13121110-1514-1716-1819-1A1B1C1D1E1F"},
      {flac_, "", ""},
  };
  for (const auto &c : cases) {
    ASSERT_FALSE(c.path.empty());
    Tags t;
    ASSERT_EQ(read(c.path, &t), 0) << c.path;
    EXPECT_STREQ(t.title, "Tune") << c.path;
    EXPECT_STREQ(t.album_artist, c.album_artist) << c.path;
    EXPECT_STREQ(t.collection_id, c.collection_id) << c.path;
  }
}

TEST_F(TagReading, BackslashInAFileNameIsNotASeparator) {
  const std::string named = folder_->file("AC\\DC - Back.mp3");
  ASSERT_TRUE(copy_file(mp3_, named));
  Tags t;
  ASSERT_EQ(read(named, &t), 0);
  EXPECT_STREQ(t.title, "Tune");
  std::string windows_style = mp3_;
  for (char &c : windows_style) {
    if (c == '/') c = '\\';
  }
  EXPECT_EQ(read(windows_style, &t), 20014);
}

TEST_F(TagReading, OneTagCannotBloatTheLibrary) {
  const std::string bloated = folder_->file("bloated.mp3");
  ASSERT_TRUE(copy_file(mp3_, bloated));
  {
    TagLib::MPEG::File file(bloated.c_str());
    std::string title = std::string(10 * 1024 * 1024 - 1, 'a');
    title.insert(TEXT_MAX_BYTES - 1, "\xC3\xA9");  // a two-byte character across the cap
    file.ID3v2Tag(true)->setTitle(TagLib::String(title, TagLib::String::UTF8));
    file.ID3v2Tag()->setArtist(TagLib::String("Bad\x01\x1B[31mBand", TagLib::String::UTF8));
    file.save();
  }
  Tags t;
  ASSERT_EQ(read(bloated, &t), 0);
  EXPECT_EQ(std::strlen(t.title), TEXT_MAX_BYTES - 1) << "cut before the character that does not fit";
  EXPECT_TRUE(utf8_is_xml_text(t.title));
  EXPECT_STREQ(t.artist, "Bad[31mBand");
}

TEST_F(TagReading, HugePaddedFileIsReadWithinABoundedWindow) {
  const std::string padded = folder_->file("padded.mp3");
  ASSERT_TRUE(copy_file(mp3_, padded));
  std::filesystem::resize_file(padded, 4LL * 1024 * 1024 * 1024);  // sparse: costs no disk
  Tags t;
  ASSERT_EQ(read(padded, &t), 0);
  EXPECT_STREQ(t.title, "Tune");
  BoundedTagStream stream(padded.c_str());
  TagLib::FileRef file(&stream, true, TagLib::AudioProperties::Average);
  EXPECT_LE(stream.bytes_served(), TAG_HEAD_BYTES + TAG_TAIL_BYTES);
  const std::string zeros = folder_->file("zeros.flac");
  write_file(zeros, "");
  std::filesystem::resize_file(zeros, 4LL * 1024 * 1024 * 1024);
  BoundedTagStream empty(zeros.c_str());
  TagLib::FileRef nothing(&empty, true, TagLib::AudioProperties::Average);
  EXPECT_LE(empty.bytes_served(), TAG_HEAD_BYTES + TAG_TAIL_BYTES);
}

TEST_F(TagReading, TheViewServesTheFilesBytesWhereverTagLibReads) {
  std::string bytes(300 * 1024, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7919 % 251);
  const std::string path = folder_->file("bytes.bin");
  write_file(path, bytes);
  BoundedTagStream stream(path.c_str());
  ASSERT_EQ(stream.length(), static_cast<long>(bytes.size()));
  using P = TagLib::IOStream::Position;
  const long size = static_cast<long>(bytes.size());
  const struct {
    long offset;
    P from;
    unsigned long length;
    long at;  // where the read starts
  } reads[] = {
      {0, P::Beginning, 10, 0},           {20, P::Current, 1024, 30},
      {-128, P::End, 128, size - 128},    {4000, P::Beginning, 200, 4000},  // back to the start
      {65500, P::Beginning, 100, 65500},  // across a window's end
      {100000, P::Beginning, 40000, 100000},  // larger than half a window
      {-10, P::End, 100, size - 10},      // cut at the end
      {5, P::End, 10, size + 5},          // past the end
      {-1, P::Beginning, 4, size + 5},    // refused: the position stays
  };
  for (const auto &r : reads) {
    SCOPED_TRACE(r.at);
    stream.seek(r.offset, r.from);
    const TagLib::ByteVector block = stream.readBlock(r.length);
    const std::string expected = r.at < size ? bytes.substr(r.at, r.length) : "";
    EXPECT_EQ(std::string(block.data(), block.size()), expected);
    EXPECT_EQ(stream.tell(), r.at + static_cast<long>(expected.size()));
  }
}

TEST_F(TagReading, OnlyWantedResultsAreFilled) {
  const char *title = nullptr;
  ASSERT_EQ(tags_read(pool_, mp3_.c_str(), &title, nullptr, nullptr, nullptr, nullptr, nullptr,
                      nullptr, nullptr, nullptr, nullptr),
            0);
  EXPECT_STREQ(title, "Tune");
}

TEST_F(TagReading, UnreadableFilesFailSilently) {
  LogCapture log;
  Tags t;
  EXPECT_EQ(read(folder_->file("missing.mp3"), &t), 20014);
  write_file(folder_->file("garbage.flac"), std::string(5000, '\x7f'));
  EXPECT_EQ(read(folder_->file("garbage.flac"), &t), 20014);
  write_file(folder_->file("empty.m4a"), "");
  EXPECT_EQ(read(folder_->file("empty.m4a"), &t), 20014);
  EXPECT_EQ(log.count("CommonTagLib", 3, "Exception thrown via taglib"), 0);
}

TEST_F(TagReading, TruncatedFileDoesNotCrash) {
  std::string data = read_file(m4a_);
  std::string cut = folder_->file("cut.m4a");
  write_file(cut, data.substr(0, data.size() / 3));
  Tags t;
  int status = read(cut, &t);
  EXPECT_TRUE(status == 0 || status == 20014);
}

TEST(TagFile, ListsTheTwelveTagExtensionsInAnyCase) {
  EXPECT_EQ(is_tag_file("MP3"), 1);
  EXPECT_EQ(is_tag_file("m4p"), 1);
  EXPECT_EQ(is_tag_file("Flac"), 1);
  EXPECT_EQ(is_tag_file("wav"), 0);
  EXPECT_EQ(is_tag_file("mp"), 0);
  EXPECT_EQ(is_tag_file(nullptr), 0);
}

TEST(GuidText, ReversesTheFirstThreeGroups) {
  const unsigned char bytes[16] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                   0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0xff};
  EXPECT_EQ(guid_text(bytes, 16), "03020100-0504-0706-0809-0A0B0C0D0EFF");
  EXPECT_EQ(guid_text(bytes, 15), "");
}

}  // namespace
