// Filing items into the views of the example configuration and of small
// custom view lists: every standard view of a kind, multi-valued and missing
// keys, class filters, triggered views below each leaf, container classes
// and properties, and the sort orders browsing then shows.
#include <gtest/gtest.h>

#include <algorithm>

#include "MSConfig.h"
#include "MSDBQuery.h"
#include "MSMediaScanSkeleton.h"
#include "MSMediaScanViews.h"
#include "MSMediaScanViewsMemory.h"
#include "MSMediaScanViewsPath.h"
#include "ScanEngineFixture.h"

namespace {

constexpr const char *kTrack = "object.item.audioItem.musicTrack";
constexpr const char *kPhoto = "object.item.imageItem.photo";
constexpr const char *kVideo = "object.item.videoItem.movie";

bool contains(const std::vector<std::string> &list, const std::string &value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

class ViewsTest : public ScanEngineTest {
 protected:
  void SetUp() override {
    ScanEngineTest::SetUp();
    ASSERT_TRUE(start_engine());
  }

  PropPairs track(const char *artist, const char *album, std::vector<const char *> genres, const char *year) {
    PropPairs props{{"zentoria:systagLibView", msms_system_view_path(pool_, MEDIA_KIND_AUDIO, 0, 0)}};
    if (artist) props.push_back({"upnp:artist", artist});
    if (album) props.push_back({"upnp:album", album});
    for (const char *genre : genres) props.push_back({"upnp:genre", genre});
    if (year) props.push_back({"zentoria:year", year});
    return props;
  }

  // Replaces the configured views by a list built from (parent, trigger, props, filter).
  void use_views(std::vector<MSConfigView> views) {
    stored_ = std::move(views);
    for (size_t i = 0; i + 1 < stored_.size(); i++) stored_[i].next = &stored_[i + 1];
    const MSConfig *loaded = nullptr;
    ASSERT_EQ(msconfig_get(&loaded), 0);
    MSConfig config = *loaded;
    msconfig_release();
    config.views = stored_.empty() ? nullptr : &stored_[0];
    ASSERT_EQ(msms_views_build(msms_library(), &config), 0);
  }

  std::vector<std::string> browse_titles(const std::string &container) {
    const char *id = container.c_str();
    const char *document = nullptr;
    int returned = 0;
    EXPECT_EQ(cds_metadata_fetch_children2(pool_, db_, &id, 1, "*", 0, 0, nullptr, nullptr, FORMAT_DIDL_LITE, nullptr,
                                           &returned, nullptr, &document),
              0);
    return titles_of(document ? document : "");
  }

  // The views of the loaded configuration.
  const MSConfigView *config_views() {
    const MSConfig *loaded = nullptr;
    EXPECT_EQ(msconfig_get(&loaded), 0);
    const MSConfigView *views = loaded != nullptr ? loaded->views : nullptr;
    msconfig_release();
    return views;
  }

  std::vector<MSConfigView> stored_;
};

}  // namespace

TEST_F(ViewsTest, AudioTrackLandsInAllArtistsAlbumsGenresAndEveryCombinedView) {
  const std::string item = index_item("Song", kTrack, track("Artist A", "Album X", {"Rock", "Pop"}, "1999"));
  const auto audio = [&](int s) { return slot(MEDIA_KIND_AUDIO, s); };
  EXPECT_TRUE(contains(children(audio(SLOT_ALL)), item));
  EXPECT_TRUE(contains(children(below(audio(SLOT_ARTISTS), {"Artist A"})), item));
  EXPECT_TRUE(contains(children(below(audio(SLOT_ALBUMS), {"Album X"})), item));
  for (const char *genre : {"Rock", "Pop"}) {
    EXPECT_TRUE(contains(children(below(audio(SLOT_GENRES), {genre})), item)) << genre;
    EXPECT_TRUE(contains(children(below(audio(SLOT_GENRES_ARTISTS_ALBUMS), {genre, "Artist A", "Album X"})), item));
    EXPECT_TRUE(contains(children(below(audio(SLOT_GENRES_ALBUMS), {genre, "Album X"})), item));
    EXPECT_TRUE(contains(children(below(audio(SLOT_GENRES_ARTISTS), {genre, "Artist A"})), item));
  }
  EXPECT_TRUE(contains(children(below(audio(SLOT_ARTISTS_ALBUMS), {"Artist A", "Album X"})), item));
  EXPECT_TRUE(contains(children(below(audio(SLOT_YEAR_ARTISTS_ALBUMS), {"1999", "Artist A", "Album X"})), item));
  EXPECT_EQ(prop(below(audio(SLOT_ARTISTS), {"Artist A"}), PROP_UPNP_CLASS), "object.container.person.musicArtist");
  EXPECT_EQ(prop(below(audio(SLOT_ALBUMS), {"Album X"}), PROP_UPNP_CLASS), "object.container.album.musicAlbum");
  EXPECT_EQ(prop(below(audio(SLOT_GENRES), {"Rock"}), PROP_UPNP_CLASS), "object.container.genre.musicGenre");
  // No photo or video view receives it.
  EXPECT_TRUE(children(slot(MEDIA_KIND_PHOTO, SLOT_ALL)).empty());
  EXPECT_TRUE(children(slot(MEDIA_KIND_VIDEO, SLOT_ALL)).empty());
}

TEST_F(ViewsTest, GroupingContainersAreMadeOnceAndReused) {
  const std::string first = index_item("One", kTrack, track("Artist A", nullptr, {"Rock"}, nullptr));
  const int objects = object_count();
  const std::string second = index_item("Two", kTrack, track("Artist A", nullptr, {"Rock"}, nullptr));
  EXPECT_EQ(object_count(), objects + 1);  // only the item itself
  EXPECT_EQ(children(slot(MEDIA_KIND_AUDIO, SLOT_ARTISTS)).size(), 1u);
  EXPECT_EQ(children(below(slot(MEDIA_KIND_AUDIO, SLOT_GENRES_ARTISTS), {"Rock", "Artist A"})).size(), 2u);
  // Filing an item again keeps one link.
  in_transaction([&] { EXPECT_EQ(msms_index_object(pool_, msms_library(), second.c_str(), kTrack, nullptr), 0); });
  EXPECT_EQ(children(below(slot(MEDIA_KIND_AUDIO, SLOT_ARTISTS), {"Artist A"})).size(), 2u);
  EXPECT_EQ(prop(below(slot(MEDIA_KIND_AUDIO, SLOT_ARTISTS), {"Artist A"}), PROP_CHILD_COUNT), "2");
}

TEST_F(ViewsTest, MissingKeyLeavesTheItemOutOfThatViewOnly) {
  const std::string item = index_item("No Album", kTrack, track("Artist B", nullptr, {}, nullptr));
  EXPECT_TRUE(children(slot(MEDIA_KIND_AUDIO, SLOT_ALBUMS)).empty());
  EXPECT_TRUE(children(slot(MEDIA_KIND_AUDIO, SLOT_GENRES)).empty());
  EXPECT_TRUE(contains(children(below(slot(MEDIA_KIND_AUDIO, SLOT_ARTISTS), {"Artist B"})), item));
  EXPECT_GE(log_.count("MSMediaScan", 0, "Could not index object by property upnp:album since it was not assigned a value"), 1);
}

TEST_F(ViewsTest, PhotoAndVideoLandInTheirKindsViews) {
  PropPairs photo{{"zentoria:systagLibView", msms_system_view_path(pool_, MEDIA_KIND_PHOTO, 0, 0)},
                  {"upnp:album", "Holiday"},
                  {"zentoria:date_year", "2020"},
                  {"zentoria:date", "2020-05-01"}};
  const std::string picture = index_item("Beach", kPhoto, photo);
  EXPECT_TRUE(contains(children(slot(MEDIA_KIND_PHOTO, SLOT_ALL)), picture));
  const std::string album = below(slot(MEDIA_KIND_PHOTO, SLOT_ALBUMS), {"Holiday"});
  EXPECT_TRUE(contains(children(album), picture));
  EXPECT_EQ(prop(album, PROP_UPNP_CLASS), "object.container.album.photoAlbum");
  EXPECT_TRUE(contains(children(below(slot(MEDIA_KIND_PHOTO, SLOT_DATES), {"2020", "2020-05-01"})), picture));

  PropPairs video{{"zentoria:systagLibView", msms_system_view_path(pool_, MEDIA_KIND_VIDEO, 0, 0)},
                  {"upnp:genre", "Drama"},
                  {"dc:publisher", "Studio"}};
  const std::string movie = index_item("Film", kVideo, video);
  EXPECT_TRUE(contains(children(slot(MEDIA_KIND_VIDEO, SLOT_ALL)), movie));
  const std::string genre = below(slot(MEDIA_KIND_VIDEO, SLOT_GENRES), {"Drama"});
  EXPECT_TRUE(contains(children(genre), movie));
  EXPECT_EQ(prop(genre, PROP_UPNP_CLASS), "object.container.genre");
  EXPECT_TRUE(contains(children(below(slot(MEDIA_KIND_VIDEO, SLOT_INDEXES), {"Publishers", "Studio"})), movie));
  EXPECT_TRUE(children(slot(MEDIA_KIND_AUDIO, SLOT_ALL)).empty());
}

TEST_F(ViewsTest, ClassFilterKeepsImagesOutAndComparesIgnoringCase) {
  use_views({{"Only Tracks", "", "upnp:genre", "upnp:class=OBJECT.ITEM.AUDIOITEM.MUSICTRACK", nullptr}});
  const std::string song = index_item("Song", kTrack, {{"upnp:genre", "Rock"}});
  const std::string picture = index_item("Picture", kPhoto, {{"upnp:genre", "Rock"}});
  const std::vector<std::string> rock = children(below("0", {"Only Tracks", "Rock"}));
  EXPECT_TRUE(contains(rock, song));
  EXPECT_FALSE(contains(rock, picture));
}

TEST_F(ViewsTest, TriggeredViewIsAppliedBelowEachLeafOfTheTriggeringView) {
  use_views({{"By Genre", "", "upnp:genre", "", nullptr}, {"By Artist", "By Genre", "upnp:artist", "", nullptr}});
  const std::string item = index_item("Song", kTrack, {{"upnp:genre", "Rock"}, {"upnp:genre", "Pop"}, {"upnp:artist", "Ann"}});
  for (const char *genre : {"Rock", "Pop"}) {
    EXPECT_TRUE(contains(children(below("0", {"By Genre", genre})), item)) << genre;
    EXPECT_TRUE(contains(children(below("0", {"By Genre", genre, "By Artist", "Ann"})), item)) << genre;
  }
}

TEST_F(ViewsTest, TriggeredViewBelowItsOwnTriggerDoesNotRecurse) {
  use_views({{"Loop", "", "", "", nullptr}, {"Loop.Inner", "", "upnp:artist", "", nullptr}});
  const std::string item = index_item("Song", kTrack, {{"upnp:artist", "Ann"}});
  EXPECT_TRUE(contains(children(below("0", {"Loop"})), item));
  EXPECT_TRUE(contains(children(below("0", {"Loop", "Loop", "Inner", "Ann"})), item));
  EXPECT_EQ(below("0", {"Loop", "Loop", "Inner", "Ann", "Loop"}), "");
}

TEST_F(ViewsTest, ConstantKeysFolderPathsAndAlbumArtAreFiled) {
  use_views({{"Fixed", "", "=Everything,zentoria:folder", "", nullptr}, {"Albums Here", "", "upnp:album", "", nullptr}});
  const std::string item = index_item("Song", kTrack,
                                      {{"zentoria:folder", "/Rock/Live"},
                                       {"zentoria:basePath", "/music"},
                                       {"upnp:album", "Live"},
                                       {"zentoria:artLarge", "file:///music/Rock/Live/folder.jpg"}});
  const std::string folder = below("0", {"Fixed", "Everything", "/Rock/Live"});
  EXPECT_TRUE(contains(children(folder), item));
  EXPECT_EQ(prop(folder, PROP_UPNP_CLASS), "object.container.storageFolder");
  EXPECT_EQ(prop(folder, PROP_ZENTORIA_FULL_PATH), "file:///music/Rock/Live");
  EXPECT_EQ(prop(below("0", {"Albums Here", "Live"}), PROP_ZENTORIA_ART_LARGE), "file:///music/Rock/Live/folder.jpg");
}

TEST_F(ViewsTest, AlbumListsTracksByNumberAndArtistListsTitlesWithoutArticles) {
  for (const auto &[title, number] : {std::pair{"Ten", "10"}, {"Two", "2"}, {"One", "1"}}) {
    PropPairs props = track("Artist A", "Album X", {}, nullptr);
    props.push_back({"upnp:originalTrackNumber", number});
    index_item(title, kTrack, props);
  }
  const StandardContainer albums = msms_standard_container(msms_library(), MEDIA_KIND_AUDIO, SLOT_ALBUMS);
  const std::string album = below(albums.oid, {"Album X"});
  EXPECT_EQ(browse_titles(std::string(albums.path) + "/" + album), (std::vector<std::string>{"One", "Two", "Ten"}));

  for (const char *title : {"The Zoo", "Apple", "10 Songs", "9 Lives"}) {
    index_item(title, kTrack, track("Artist B", nullptr, {}, nullptr));
  }
  const StandardContainer artists = msms_standard_container(msms_library(), MEDIA_KIND_AUDIO, SLOT_ARTISTS);
  const std::string artist = below(artists.oid, {"Artist B"});
  EXPECT_EQ(browse_titles(std::string(artists.path) + "/" + artist),
            (std::vector<std::string>{"9 Lives", "10 Songs", "Apple", "The Zoo"}));
  EXPECT_EQ(browse_titles(artists.path), (std::vector<std::string>{"Artist A", "Artist B"}));
}

// Filing remembers the containers it found; a container deleted or rolled
// back must be made again, not reused from memory.
TEST_F(ViewsTest, GroupingContainerSweptMidTransactionIsMadeAgain) {
  use_views({{"Genres Here", "", "upnp:genre", "", nullptr}});
  std::string first, second, swept;
  in_transaction([&] {
    first = object(nullptr, "First", kTrack, {{"upnp:genre", "Rock"}});
    ASSERT_EQ(msms_index_object(pool_, msms_library(), first.c_str(), kTrack, nullptr), 0);
    swept = below("0", {"Genres Here", "Rock"});
    ASSERT_EQ(msdb_delete_objects(pool_, db_, ("select " + swept + " as deleteoid").c_str(), nullptr, nullptr), 0);
    second = object(nullptr, "Second", kTrack, {{"upnp:genre", "Rock"}});
    ASSERT_EQ(msms_index_object(pool_, msms_library(), second.c_str(), kTrack, nullptr), 0);
  });
  const std::string rock = below("0", {"Genres Here", "Rock"});
  ASSERT_NE(rock, "");
  EXPECT_NE(rock, swept);
  EXPECT_EQ(children(rock), std::vector<std::string>{second});
  EXPECT_EQ(prop(rock, PROP_UPNP_CLASS), "object.container.genre.musicGenre");
}

TEST_F(ViewsTest, GroupingContainerOfARolledBackFilingIsMadeAgain) {
  use_views({{"Genres Here", "", "upnp:genre", "", nullptr}});
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  std::string lost = object(nullptr, "Lost", kTrack, {{"upnp:genre", "Jazz"}});
  ASSERT_EQ(msms_index_object(pool_, msms_library(), lost.c_str(), kTrack, nullptr), 0);
  ASSERT_EQ(msdb_medialib_rollback(db_), 0);
  const std::string kept = index_item("Kept", kTrack, {{"upnp:genre", "Jazz"}});
  const std::string jazz = below("0", {"Genres Here", "Jazz"});
  ASSERT_NE(jazz, "");
  EXPECT_EQ(children(jazz), std::vector<std::string>{kept});
  EXPECT_EQ(prop(jazz, PROP_DC_TITLE), "Jazz");
}

// Titles are compared as stored (entity-escaped): one container per title
// however it is written, and a title that looks escaped is not another's.
TEST_F(ViewsTest, ContainersWithEscapedTitlesAreFoundAgainInLaterTransactions) {
  use_views({{"Genres Here", "", "upnp:genre", "", nullptr}});
  const char *genres[] = {"R&B <\"Live\">", "Drum &amp; Bass", "Drum & Bass", "it's"};
  std::vector<std::string> first, second;
  for (const char *genre : genres) first.push_back(index_item("A", kTrack, {{"upnp:genre", genre}}));
  for (const char *genre : genres) second.push_back(index_item("B", kTrack, {{"upnp:genre", genre}}));
  const std::string view = below("0", {"Genres Here"});
  std::vector<std::string> containers = children(view);
  EXPECT_EQ(containers.size(), 3u);  // "Drum &amp; Bass" is stored as "Drum & Bass" is
  const char *shown[] = {genres[0], "Drum & Bass", genres[2], genres[3]};
  for (size_t i = 0; i < 4; ++i) {
    const std::string genre = below(view, {shown[i]});
    ASSERT_NE(genre, "") << genres[i];
    EXPECT_TRUE(contains(children(genre), first[i]) && contains(children(genre), second[i])) << genres[i];
  }
}

// More containers than the memory holds: one forgotten is found again
// below its parent, not made a second time.
TEST_F(ViewsTest, ContainersForgottenByTheBoundedMemoryAreFoundAgain) {
  const std::size_t count = 2 * kViewMemoryGeneration + 16;
  std::vector<std::string> made(count);
  std::string parent;
  in_transaction([&] {
    const char *view = nullptr;
    ASSERT_EQ(msms_find_or_create_path(pool_, msms_library(), nullptr, "Many", &view), 0);
    parent = view;
    for (std::size_t i = 0; i < count; ++i) {
      const char *oid = nullptr;
      const std::string title = "Title " + std::to_string(i);
      ASSERT_EQ(msms_find_or_create_child(pool_, msms_library(), view, title.c_str(), "object.container", 0, &oid), 0);
      made[i] = oid;
    }
    for (std::size_t i : {std::size_t{0}, count / 2, count - 1}) {
      const char *oid = nullptr;
      const std::string title = "Title " + std::to_string(i);
      ASSERT_EQ(msms_find_or_create_child(pool_, msms_library(), view, title.c_str(), "object.container", 0, &oid), 0);
      EXPECT_EQ(oid, made[i]) << title;
    }
  });
  EXPECT_EQ(children(parent).size(), count);
}

// A new item is filed from the list it was stored from instead of reading
// its values back; both ways must give the same links and ordinals, also
// for values the database stores escaped or that already read as entities.
TEST_F(ViewsTest, ItemFiledFromItsListIsLinkedAsOneReadBackFromTheDatabase) {
  PropPairs props = track("Rock &amp; Roll <Band>", "\"Best\" Of 'Em", {"Pop", "R&amp;B", "pop"}, "1999");
  props.push_back({"upnp:originalTrackNumber", "0000000003"});
  props.push_back({"zentoria:folder", "/Music/B & C"});
  props.push_back({"zentoria:basePath", "/srv"});
  props.push_back({"zentoria:tag", "Family"});
  std::vector<MSConfigView> views;
  for (const MSConfigView *view = config_views(); view != nullptr; view = view->next) views.push_back(*view);
  // Read back, "R&amp;B" is "R&B" and passes this filter.
  views.push_back({"Soul", "", "upnp:album", "upnp:genre=R&B", nullptr});
  use_views(views);
  const std::string read_back = index_item("Song & Dance", kTrack, props);
  std::string listed;
  in_transaction([&] {
    listed = object(nullptr, "Song & Dance", kTrack, props);
    PropList *list = prop_list_create(pool_);
    prop_add(pool_, list, PROP_DC_TITLE, "Song & Dance");
    prop_add(pool_, list, PROP_UPNP_CLASS, kTrack);
    for (const auto &[name, value] : props) prop_add(pool_, list, name, value.c_str());
    EXPECT_EQ(msms_index_object(pool_, msms_library(), listed.c_str(), kTrack, list), 0);
  });
  const auto links = [&](const std::string &oid) {
    return column("select parentObjectOid || ' ' || hex(ordinal) from edge where objectOid=" + oid + " order by 1");
  };
  EXPECT_GT(links(read_back).size(), 8u);
  EXPECT_EQ(links(listed), links(read_back));
  EXPECT_EQ(children(below("0", {"Soul", "\"Best\" Of 'Em"})).size(), 2u);
}
