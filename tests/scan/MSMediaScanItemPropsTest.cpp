// Rules of a new item's properties that no scan of ordinary media reaches:
// the long title's folder text cut at 20 characters, two-digit tag years
// read as years of the 1900s, and the photo month counted from 0.
#include <gtest/gtest.h>

#include <string>

#include "LogCapture.h"
#include "MSMediaScanItemProps.h"

namespace {

class ItemProps : public ::testing::Test {
 protected:
  ItemProps() {
    scan_.library = &library_;
    scan_.root = "/srv/media";
    scan_.lookfor_audio = scan_.lookfor_video = scan_.lookfor_photo = 1;
  }

  ItemSource source(const char *name, const char *extension) {
    file_ = ScanFile{name, 1000, apr_time_from_sec(1700000000)};
    path_ = std::string("/srv/media/Music/") + name;
    url_ = "file://" + path_;
    return ItemSource{&scan_, &file_, "/Music", path_.c_str(), url_.c_str(), extension,
                      media_type_by_extension(extension, -1)};
  }

  std::string value(PropList *list, int slot) {
    return prop_count(list, slot) > 0 ? prop_get(pool_, list, slot, 0) : "(none)";
  }

  // The year rows of a track whose tag says year.
  std::pair<std::string, std::string> year_rows(int year) {
    FileFacts facts;
    facts.tags.read = true;
    facts.tags.title = "Song";
    facts.tags.year = year;
    PropList *list = nullptr;
    int media_class = 0;
    msms_media_item_props(pool_, source("song.mp3", "mp3"), facts, &list, &media_class);
    return {value(list, PROP_ZENTORIA_YEAR), value(list, PROP_DC_DATE)};
  }

  TestPool pool_;
  LogCapture log_;
  ScanLibrary library_{};
  ScanContext scan_{};
  ScanFile file_{};
  std::string path_;
  std::string url_;
};

TEST_F(ItemProps, LongTitleKeepsFolderTextUpTo20CharactersAndCutsLongerTo18) {
  scan_.long_title = 1;
  // Exactly 20 characters stay whole; "/", "_" and "." read as spaces.
  EXPECT_STREQ(msms_item_title(pool_, &scan_, "/Holidays_2023.Romes", "Song", "a.mp3", true),
               " Holidays 2023 Romes Song");
  EXPECT_STREQ(msms_item_title(pool_, &scan_, "/Holidays_2023.Romesx", "Song", "a.mp3", true),
               " Holidays 2023 Rom.. Song");
  // Without tags read the folder text stays as written; no title leaves the folder text alone.
  EXPECT_STREQ(msms_item_title(pool_, &scan_, "/A_B", "", ".mp3", false), "/A_B");
  scan_.long_title = 0;
  EXPECT_STREQ(msms_item_title(pool_, &scan_, "/Holidays_2023.Romes", "", "b side.mp3", true), "b side");
}

TEST_F(ItemProps, TwoDigitTagYearsAreYearsOfThe1900s) {
  EXPECT_EQ(year_rows(99), std::make_pair(std::string("1999"), std::string("1999-01-01")));
  EXPECT_EQ(year_rows(5), std::make_pair(std::string("1905"), std::string("1905-01-01")));
  EXPECT_EQ(year_rows(100), std::make_pair(std::string("100"), std::string("100-01-01")));
  EXPECT_EQ(year_rows(2011), std::make_pair(std::string("2011"), std::string("2011-01-01")));
  // No year: the file's own day is the date.
  const auto [year, date] = year_rows(0);
  EXPECT_EQ(year, "(none)");
  EXPECT_EQ(date.size(), 10u);
}

TEST_F(ItemProps, PhotoMonthCountsFromZeroWhileItsDateCountsFromOne) {
  ImageFacts image;
  image.ok = true;
  image.info.width = 4;
  image.info.height = 3;
  image.exif.time = apr_time_from_sec(1);
  image.exif.exploded.tm_year = 2024 - 1900;
  image.exif.exploded.tm_mon = 0;
  image.exif.exploded.tm_mday = 7;
  PropList *list = nullptr;
  msms_image_item_props(pool_, source("beach.jpg", "jpg"), image, &list);
  EXPECT_EQ(value(list, PROP_ZENTORIA_DATE_MONTH), "0");
  EXPECT_EQ(value(list, PROP_ZENTORIA_DATE_YEAR), "2024");
  EXPECT_EQ(value(list, PROP_ZENTORIA_DATE_DAY), "7");
  EXPECT_EQ(value(list, PROP_DC_DATE), "2024-01-07");
  EXPECT_EQ(value(list, PROP_RES_RESOLUTION), "4x3");
  EXPECT_EQ(value(list, PROP_UPNP_ALBUM), "Music");
}

}  // namespace
