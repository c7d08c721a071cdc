// Scan engine start-up: the skeleton made once and found again, the library
// lock, the parsing of `index` elements, system view paths, reserved names
// and dotted paths.
#include <gtest/gtest.h>

#include "CommonFiles.h"
#include "MSConfig.h"
#include "MSMediaScan.h"
#include "MSMediaScanSkeleton.h"
#include "MSMediaScanViews.h"
#include "MSMediaScanViewsPath.h"
#include "ScanEngineFixture.h"

namespace {

constexpr int kFixedObjects = 8;
constexpr const char *kInternalError =
    "Internal server error, unexpected software state encountered. It is recommended to close the application.";

std::vector<std::string> all_slots() {
  std::vector<std::string> oids;
  for (int kind = 0; kind < MEDIA_KINDS; kind++) {
    for (int slot = 0; slot < MSMS_SLOTS; slot++) {
      StandardContainer c = msms_standard_container(msms_library(), kind, slot);
      oids.push_back(c.oid ? std::string(c.oid) + "@" + c.path : "-");
    }
  }
  return oids;
}

int known_slots(int kind) {
  int known = 0;
  for (int slot = 2; slot < MSMS_SLOTS; slot++) known += msms_standard_container(msms_library(), kind, slot).oid != nullptr;
  return known;
}

LibraryView *parse(apr_pool_t *pool, const char *parent, const char *trigger, const char *props,
                   const char *filter) {
  MSConfigView index{parent, trigger, props, filter, nullptr};
  LibraryView *view = nullptr;
  return msms_view_parse(pool, &index, &view) == 0 ? view : nullptr;
}

}  // namespace

TEST_F(ScanEngineTest, FreshLibraryGetsItsSkeletonOnceAndTheSameIdsNextRun) {
  ASSERT_TRUE(start_engine());
  EXPECT_EQ(known_slots(MEDIA_KIND_AUDIO), 16);
  EXPECT_EQ(known_slots(MEDIA_KIND_PHOTO), 9);
  EXPECT_EQ(known_slots(MEDIA_KIND_VIDEO), 10);
  EXPECT_EQ(object_count(), kFixedObjects + 35);
  EXPECT_EQ(slot(MEDIA_KIND_VIDEO, SLOT_PUBLISHERS), "");
  EXPECT_EQ(slot(MEDIA_KIND_PHOTO, SLOT_GENRES), "");
  const StandardContainer all = msms_standard_container(msms_library(), MEDIA_KIND_AUDIO, SLOT_ALL);
  EXPECT_EQ(std::string(all.path), "0/1/" + slot(MEDIA_KIND_AUDIO, SLOT_INDEXES) + "/" + all.oid);
  EXPECT_EQ(below("1", {"Music Indexes", "Year / Artists / Albums"}), slot(MEDIA_KIND_AUDIO, SLOT_YEAR_ARTISTS_ALBUMS));
  EXPECT_EQ(prop(slot(MEDIA_KIND_PHOTO, SLOT_INTERNET), PROP_UPNP_CLASS), "object.container");

  const std::vector<std::string> first = all_slots();
  ASSERT_EQ(msms_terminate(), 0);
  engine_started_ = false;
  ASSERT_TRUE(start_engine());
  EXPECT_EQ(object_count(), kFixedObjects + 35);
  EXPECT_EQ(all_slots(), first);
}

TEST_F(ScanEngineTest, SecondStartInOneProcessFailsAndChangesNothing) {
  ASSERT_TRUE(start_engine());
  const int objects = object_count();
  log_.clear();
  EXPECT_EQ(msms_init(pool_, db_, 0, 0), 20014);
  EXPECT_EQ(log_.count("MSMediaScan", 3, kInternalError), 1);
  EXPECT_EQ(object_count(), objects);
  EXPECT_EQ(msms_terminate(), 20014);  // undoes the failed start's count only
}

TEST_F(ScanEngineTest, LockedLibraryIsRefusedAtOnceWithoutTouchingTheDatabase) {
  ASSERT_EQ(apr_dir_make_recursive(dir_.file("logs").c_str(), APR_FPROT_OS_DEFAULT, pool_), 0);
  apr_file_t *held = nullptr;
  ASSERT_EQ(lock_file_acquire(pool_, dir_.file("logs/zentoria.ZentoriaMediaLibLock").c_str(), &held), 0);
  EXPECT_FALSE(start_engine());
  EXPECT_EQ(log_.count("MSMediaScan", 3, "Could not acquire DB modification mutex"), 1);
  EXPECT_EQ(object_count(), kFixedObjects);
  EXPECT_EQ(msdb_medialib_begin(db_), 0);  // no transaction was left open
  EXPECT_EQ(msdb_medialib_rollback(db_), 0);
  EXPECT_EQ(lock_file_release(held), 0);
  msms_terminate();
}

TEST_F(ScanEngineTest, InvalidIndexPropertyFailsStartAndRollsTheSkeletonBack) {
  msconfig_unload();
  std::string config = read_file(dir_.file("config.xml"));
  config.replace(config.find("props=\"upnp:artist\""), 19, "props=\"upnp:nosuch\"");
  write_file(dir_.file("config.xml"), config);
  ASSERT_EQ(msconfig_load(pool_, install_dir_.c_str(), "library_tests"), 0);
  EXPECT_FALSE(start_engine());
  EXPECT_EQ(log_.count("MSMediaScan", 3, "Invalid property name upnp:nosuch in index"), 1);
  EXPECT_EQ(object_count(), kFixedObjects);
  msms_terminate();
}

TEST_F(ScanEngineTest, RefreshTimeoutIsRegisteredAndRemoved) {
  ASSERT_EQ(msms_init(pool_, db_, apr_time_now() + apr_time_from_sec(86400 * 3), apr_time_from_sec(86400)), 0);
  engine_started_ = true;
  EXPECT_TRUE(log_.contains("msms_init: automatic media library refresh time starts at "));
  EXPECT_TRUE(log_.contains(", every 1440 minutes"));
}

TEST_F(ScanEngineTest, DueRefreshTimeoutRunsTheAutorefreshJobInTheBackground) {
  // Whatever the random offset (under two hours), a start 200 minutes ago is
  // past, so the entry falls due on its one-second grid.
  const apr_time_t start = apr_time_now() - apr_time_from_sec(200 * 60);
  ASSERT_EQ(msms_init(pool_, db_, start, apr_time_from_sec(1)), 0);
  engine_started_ = true;
  bool refreshed = false;
  for (int i = 0; i < 100 && !refreshed; i++) {
    apr_sleep(apr_time_from_msec(100));
    refreshed = log_.contains("Refesh all time");
  }
  EXPECT_TRUE(refreshed);
}

TEST_F(ScanEngineTest, IndexElementsBecomeKeysConstantsFiltersAndTriggers) {
  LibraryView *view = parse(pool_, "A.B.C", "", "upnp:genre, =Fixed", "upnp:class = x,bogus=1,noequals,title= y,genre=z,artist=w");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->keys[0], PROP_UPNP_GENRE);
  EXPECT_EQ(view->keys[1], VIEW_KEY_CONSTANT);
  EXPECT_STREQ(view->constants[1], "Fixed");
  EXPECT_EQ(view->keys[2], 0);
  ASSERT_EQ(view->filter_count, 3);
  EXPECT_EQ(view->filter_slots[0], PROP_UPNP_CLASS);
  EXPECT_STREQ(view->filter_values[0], "x");
  EXPECT_EQ(view->filter_slots[1], PROP_DC_TITLE);
  EXPECT_STREQ(view->filter_values[1], "y");
  EXPECT_EQ(view->filter_slots[2], PROP_UPNP_GENRE);
  EXPECT_STREQ(view->trigger, "A.B");
  EXPECT_EQ(view->trigger_length, 3);

  LibraryView *flat = parse(pool_, "Flat", "", "upnp:album", "");
  ASSERT_NE(flat, nullptr);
  EXPECT_EQ(flat->trigger, nullptr);
  LibraryView *explicit_trigger = parse(pool_, "X.Y", "T", "", "");
  ASSERT_NE(explicit_trigger, nullptr);
  EXPECT_STREQ(explicit_trigger->trigger, "T");
  EXPECT_EQ(parse(pool_, "", "", "upnp:album,nosuch", ""), nullptr);
  EXPECT_EQ(log_.count("MSMediaScan", 3, "Invalid property name nosuch in index"), 1);
}

TEST_F(ScanEngineTest, SystemViewPathsNameTheKindsStandardContainers) {
  ASSERT_TRUE(start_engine());
  EXPECT_STREQ(msms_system_view_path(pool_, MEDIA_KIND_AUDIO, 0, 0), "Zentoria.Audio.Music Indexes.All");
  EXPECT_STREQ(msms_system_view_path(pool_, MEDIA_KIND_PHOTO, 0, 1), "Zentoria.Photos.Photo Indexes.Playlists");
  EXPECT_STREQ(msms_system_view_path(pool_, MEDIA_KIND_VIDEO, 1, 0), "Zentoria.Video.Internet");
  EXPECT_STREQ(msms_system_view_path(pool_, MEDIA_KIND_AUDIO, 1, 1), "Zentoria.Audio.Internet Playlists");
  EXPECT_EQ(msms_system_view_path(pool_, 3, 0, 0), nullptr);
}

TEST_F(ScanEngineTest, ReservedNamesAndStandardTitlesResolveWithoutTheDatabase) {
  ASSERT_TRUE(start_engine());
  EXPECT_STREQ(msms_top_level_oid(msms_library(), "Zentoria"), "0");
  EXPECT_STREQ(msms_top_level_oid(msms_library(), "Zentoria Custom"), "300");
  EXPECT_STREQ(msms_top_level_oid(msms_library(), "Hidden"), "400");
  EXPECT_STREQ(msms_top_level_oid(msms_library(), "Video"), "3");
  EXPECT_EQ(msms_top_level_oid(msms_library(), "Folders"), slot(MEDIA_KIND_AUDIO, SLOT_FOLDERS));
  EXPECT_EQ(msms_top_level_oid(msms_library(), "Publishers"), nullptr);
  EXPECT_EQ(msms_top_level_oid(msms_library(), "users"), nullptr);
}

TEST_F(ScanEngineTest, DottedPathsResolveToOneContainerAndCreateWhatIsMissing) {
  ASSERT_TRUE(start_engine());
  in_transaction([&] {
    const char *oid = nullptr;
    ASSERT_EQ(msms_find_or_create_path(pool_, msms_library(), nullptr, "Zentoria.Audio.Music Indexes.Artists", &oid), 0);
    EXPECT_EQ(oid, slot(MEDIA_KIND_AUDIO, SLOT_ARTISTS));
    const int before = object_count();
    ASSERT_EQ(msms_find_or_create_path(pool_, msms_library(), nullptr, "Zentoria.Video.Video Indexes.Publishers", &oid), 0);
    const std::string publishers = oid;
    ASSERT_EQ(msms_find_or_create_path(pool_, msms_library(), nullptr, "Zentoria.Video.Video Indexes.Publishers", &oid), 0);
    EXPECT_EQ(oid, publishers);
    EXPECT_EQ(object_count(), before + 1);
    EXPECT_EQ(below(slot(MEDIA_KIND_VIDEO, SLOT_INDEXES), {"Publishers"}), publishers);

    ASSERT_EQ(msms_find_or_create_path(pool_, msms_library(), nullptr, "My Views..Rock.", &oid), 0);
    EXPECT_EQ(below("0", {"My Views", "Rock"}), oid);
    const std::string relative_start = publishers;
    ASSERT_EQ(msms_find_or_create_path(pool_, msms_library(), relative_start.c_str(), "Sub.Deeper", &oid), 0);
    EXPECT_EQ(below(publishers, {"Sub", "Deeper"}), oid);
    EXPECT_EQ(msms_find_or_create_path(pool_, msms_library(), nullptr, "...", &oid), 20014);
  });
}
