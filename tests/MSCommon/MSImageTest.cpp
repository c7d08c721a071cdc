// Image size and EXIF date through MagickCore's ping.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "LogCapture.h"
#include "MSImage.h"
#include "MSImageHeader.h"
#include "MediaFixtures.h"

namespace {

void put16(std::string &s, int v) {
  s += static_cast<char>(v >> 8);
  s += static_cast<char>(v & 0xff);
}
void put32(std::string &s, std::uint32_t v) {
  put16(s, static_cast<int>(v >> 16));
  put16(s, static_cast<int>(v & 0xffff));
}

// A JPEG with an APP1 EXIF segment: DateTime (0x0132) in IFD0 and
// DateTimeOriginal (0x9003) in the Exif IFD it points to, each left out when
// empty.
std::string with_exif_date(const std::string &jpeg, const std::string &date, const std::string &original = "") {
  const std::string value = date + '\0';
  const std::string original_value = original + '\0';
  const int entries = (date.empty() ? 0 : 1) + (original.empty() ? 0 : 1);
  const auto exif_ifd = static_cast<std::uint32_t>(8 + 2 + 12 * entries + 4);
  const std::uint32_t values = exif_ifd + (original.empty() ? 0 : 18);
  std::string tiff = "MM";
  put16(tiff, 42);
  put32(tiff, 8);  // IFD0 offset
  auto entry = [&tiff](int tag, int type, std::size_t count, std::uint32_t at) {
    put16(tiff, tag);
    put16(tiff, type);
    put32(tiff, static_cast<std::uint32_t>(count));
    put32(tiff, at);
  };
  put16(tiff, entries);
  if (!date.empty()) entry(0x0132, 2, value.size(), values);  // ASCII
  if (!original.empty()) entry(0x8769, 4, 1, exif_ifd);       // LONG
  put32(tiff, 0);  // no next IFD
  if (!original.empty()) {
    put16(tiff, 1);
    entry(0x9003, 2, original_value.size(), values + static_cast<std::uint32_t>(date.empty() ? 0 : value.size()));
    put32(tiff, 0);
  }
  if (!date.empty()) tiff += value;
  if (!original.empty()) tiff += original_value;
  std::string app1 = std::string("Exif\0\0", 6) + tiff;
  std::string segment = "\xFF\xE1";
  put16(segment, static_cast<int>(app1.size() + 2));
  return jpeg.substr(0, 2) + segment + app1 + jpeg.substr(2);
}

// A little-endian EXIF segment with DateTimeOriginal only, in the Exif IFD.
std::string with_little_endian_taken(const std::string &jpeg, const std::string &taken) {
  const std::string value = taken + '\0';
  auto le = [](std::uint32_t v, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i) & 0xff);
    return out;
  };
  std::string tiff = "II" + le(42, 2) + le(8, 4);
  tiff += le(1, 2) + le(0x8769, 2) + le(4, 2) + le(1, 4) + le(26, 4) + le(0, 4);
  tiff += le(1, 2) + le(0x9003, 2) + le(2, 2) + le(static_cast<std::uint32_t>(value.size()), 4) + le(44, 4) + le(0, 4);
  const std::string app1 = std::string("Exif\0\0", 6) + tiff + value;
  std::string segment = "\xFF\xE1";
  put16(segment, static_cast<int>(app1.size() + 2));
  return jpeg.substr(0, 2) + segment + app1 + jpeg.substr(2);
}

class ImageInfo : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempDir();
    jpeg_ = make_image(folder_->path(), "plain.jpg", "-size 64x48 xc:red");
    gif_ = make_image(folder_->path(), "anim.gif",
                      "-delay 10 -size 32x16 xc:red xc:blue xc:green -loop 0");
  }
  static void TearDownTestSuite() { delete folder_; }

  int read(const std::string &path) { return image_info_read(path.c_str(), &info_, &exif_); }

  TestPool apr_;  // APR must be up before a call
  ImageInfoRecord info_{};
  ExifTime exif_{};
  static TempDir *folder_;
  static std::string jpeg_, gif_;
};

TempDir *ImageInfo::folder_ = nullptr;
std::string ImageInfo::jpeg_, ImageInfo::gif_;

TEST_F(ImageInfo, JpegWithoutExifGivesSizeAndNoTime) {
  ASSERT_FALSE(jpeg_.empty());
  ASSERT_EQ(read(jpeg_), 0);
  EXPECT_EQ(info_.present, 1);
  EXPECT_EQ(info_.width, 64);
  EXPECT_EQ(info_.height, 48);
  EXPECT_EQ(exif_.time, 0);
  EXPECT_EQ(exif_.exploded.tm_year, 0);
}

TEST_F(ImageInfo, ExifDateTimeIsTakenAsUtc) {
  std::string path = folder_->file("exif.jpg");
  write_file(path, with_exif_date(read_file(jpeg_), "2009:07:14 10:22:05"));
  ASSERT_EQ(read(path), 0);
  EXPECT_EQ(info_.width, 64);
  EXPECT_EQ(exif_.time, apr_time_from_sec(1247566925));
  EXPECT_EQ(exif_.exploded.tm_year, 109);
  EXPECT_EQ(exif_.exploded.tm_mon, 6);
  EXPECT_EQ(exif_.exploded.tm_hour, 10);
}

// A photo taken in one year and edited in another belongs to the year it was taken.
TEST_F(ImageInfo, TheTimeTakenComesBeforeTheTimeEdited) {
  struct Case {
    const char *edited;
    const char *taken;
    apr_time_t expected;
  };
  const Case cases[] = {
      {"2026:03:01 08:00:00", "2024:05:06 07:08:09", apr_time_from_sec(1714979289)},
      {"", "2024:05:06 07:08:09", apr_time_from_sec(1714979289)},
      {"2026:03:01 08:00:00", "", apr_time_from_sec(1772352000)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.edited) + "/" + c.taken);
    const std::string path = folder_->file("taken.jpg");
    write_file(path, with_exif_date(read_file(jpeg_), c.edited, c.taken));
    ASSERT_EQ(read(path), 0);
    EXPECT_EQ(exif_.time, c.expected);
  }
}

TEST_F(ImageInfo, DateOnlyExifIsAWrongFormat) {
  LogCapture log;
  std::string path = folder_->file("dateonly.jpg");
  write_file(path, with_exif_date(read_file(jpeg_), "2009:07:14"));
  ASSERT_EQ(read(path), 0);
  EXPECT_EQ(info_.present, 1);
  EXPECT_EQ(exif_.time, 0);
  EXPECT_EQ(log.count("MSImage", 2, "wrong exif format"), 1);
  EXPECT_EQ(log.count("Common", 3, "wrong exif date: 2009:07:14"), 1);
}

TEST_F(ImageInfo, AnimatedGifReportsTheFirstFrameAndWarns) {
  ASSERT_FALSE(gif_.empty());
  LogCapture log;
  ASSERT_EQ(read(gif_), 0);
  EXPECT_EQ(info_.width, 32);
  EXPECT_EQ(info_.height, 16);
  EXPECT_EQ(log.count("MSImage", 2, "Image sequence encounterd, ignoring all except first..."), 1);
}

TEST_F(ImageInfo, FileUrlsAndPngWork) {
  std::string png = make_image(folder_->path(), "pic.png", "-size 7x5 xc:blue");
  ASSERT_FALSE(png.empty());
  ASSERT_EQ(read("file://" + png), 0);
  EXPECT_EQ(info_.width, 7);
  EXPECT_EQ(info_.height, 5);
}

TEST_F(ImageInfo, EmptyAndOversizedFilesAreRefusedBeforeReading) {
  LogCapture log;
  std::string empty = folder_->file("empty.jpg");
  write_file(empty, "");
  EXPECT_EQ(read(empty), 20014);
  EXPECT_EQ(info_.present, 0);
  EXPECT_EQ(log.count("MSImage", 3, "Invalid image file size 0"), 1);
  EXPECT_EQ(log.count("MSImage", 3, "Could not read image " + empty), 2);

  std::string huge = folder_->file("huge.jpg");
  write_file(huge, read_file(jpeg_));
  ASSERT_EQ(truncate(huge.c_str(), IMAGE_FILE_MAX_SIZE + 1), 0);
  EXPECT_EQ(read(huge), 20014);
  EXPECT_EQ(log.count("MSImage", 3, "Invalid image file size 100000001"), 1);
}

TEST_F(ImageInfo, CorruptAndTruncatedImagesFailWithTheLibrarysReason) {
  LogCapture log;
  std::string text = folder_->file("notes.jpg");
  write_file(text, "just some text, not a picture\n");
  EXPECT_EQ(read(text), 20014);
  EXPECT_EQ(log.count("MSImage", 3, "Could not read image " + text), 1);
  EXPECT_TRUE(log.contains("ImageMagic Exception, Reason: "));

  std::string cut = folder_->file("cut.png");
  std::string png = read_file(make_image(folder_->path(), "whole.png", "-size 40x40 xc:red"));
  write_file(cut, png.substr(0, 20));
  EXPECT_EQ(read(cut), 20014);
  EXPECT_EQ(info_.present, 0);
}

// The JPEG header reader answers for ordinary photos (so a scan of them never
// loads MagickCore) and leaves the rest to MagickCore; either way
// image_info_read gives exactly what MagickCore's ping gives.
TEST_F(ImageInfo, HeaderReaderAgreesWithMagickCore) {
  const std::string dir = folder_->path(), base = read_file(jpeg_);
  const std::string progressive = read_file(make_image(dir, "p.jpg", "-size 50x30 gradient: -interlace Plane"));
  write_file(folder_->file("dated.jpg"), with_exif_date(base, "2009:07:14 10:22:05", "2008:01:02 03:04:05"));
  const struct {
    const char *name;
    std::string bytes;
    bool native;
  } cases[] = {
      {"baseline", base, true},
      {"progressive", progressive, true},
      {"gray", read_file(make_image(dir, "g.jpg", "-size 33x17 gradient: -colorspace Gray")), true},
      {"cmyk", read_file(make_image(dir, "k.jpg", "-size 20x10 xc:red -colorspace CMYK")), true},
      {"subsampled, comment", read_file(make_image(dir, "c.jpg", "-size 31x9 xc:red -sampling-factor 2x2 -set comment hi")), true},
      {"edited", with_exif_date(base, "2009:07:14 10:22:05"), true},
      {"taken and edited", with_exif_date(base, "2026:03:01 08:00:00", "2024:05:06 07:08:09"), true},
      {"little-endian taken", with_little_endian_taken(base, "2011:02:03 04:05:06"), true},
      {"unprintable in a field", with_exif_date(base, "2009:07:\t4 10:22:\x85" "5"), true},
      {"date only", with_exif_date(base, "2009:07:14"), true},
      {"empty taken", with_little_endian_taken(base, ""), true},
      {"date too long", with_exif_date(base, std::string(70, '1')), false},
      {"two exif segments", with_exif_date(with_exif_date(base, "2001:01:01 00:00:00"), "2002:02:02 00:00:00"), false},
      {"exif kept, rotated", read_file(make_image(dir, "r.jpg", folder_->file("dated.jpg") + " -rotate 90")), true},
      {"cut in the scan", base.substr(0, base.size() - 40), true},
      {"progressive cut", progressive.substr(0, progressive.size() - 40), true},
      {"cut in the header", base.substr(0, 100), false},
      {"png", read_file(make_image(dir, "n.png", "-size 7x5 xc:blue")), false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_GT(c.bytes.size(), 2u);
    ImageHeader header;
    EXPECT_EQ(image_header_read(reinterpret_cast<const unsigned char *>(c.bytes.data()), c.bytes.size(), &header),
              c.native);
    const std::string path = folder_->file(std::string(c.name) + ".jpg");
    write_file(path, c.bytes);
    LogCapture log;
    const int status = read(path);
    const ImageInfoRecord info = info_;
    const ExifTime exif = exif_;
    const std::vector<LoggedEvent> lines = log.events();
    log.clear();
    EXPECT_EQ(status, image_info_ping(path.c_str(), &info_, &exif_));
    EXPECT_EQ(info.present, info_.present);
    EXPECT_EQ(info.width, info_.width);
    EXPECT_EQ(info.height, info_.height);
    EXPECT_EQ(exif.time, exif_.time);
    EXPECT_EQ(exif.exploded.tm_mday, exif_.exploded.tm_mday);
    ASSERT_EQ(lines.size(), log.events().size());
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].message, log.events()[i].message);
  }
}

TEST(ImageExceptionLog, MapsSeverityToLevel) {
  LogCapture log;
  const struct {
    int severity;
    int level;
  } cases[] = {{0, 2}, {1, 0}, {299, 0}, {300, 2}, {399, 2}, {400, 3}, {700, 3}};
  for (const auto &c : cases) {
    log.clear();
    image_exception_log(c.severity, "r", "d");
    EXPECT_EQ(log.count("MSImage", c.level, "ImageMagic Exception, Reason: r, Description: d"), 1)
        << c.severity;
  }
}

TEST(ExifDateParse, NeedsExactlyNineteenCharacters) {
  apr_time_t time = 1;
  apr_time_exp_t exploded{};
  EXPECT_EQ(exif_date_parse("2009-07-14T10:22:05", &time, &exploded), 0);
  EXPECT_EQ(time, apr_time_from_sec(1247566925));
  EXPECT_EQ(exif_date_parse("2009:07:14 10:22:0", &time, &exploded), 20014);
  EXPECT_EQ(exif_date_parse("2009:07:14 10:22:05 ", &time, &exploded), 20014);
  EXPECT_EQ(time, 0);
}

}  // namespace
