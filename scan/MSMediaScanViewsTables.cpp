// The fixed tables of view filing: the container class made for each key
// and the sort specifications of containers and of the items linked below
// them.
#include <strings.h>

#include <cstring>

#include "CommonPropNames.h"
#include "MSMediaScanViewsTables.h"

namespace {

constexpr const char *kAudioItem = "object.item.audioItem";
constexpr const char *kImageItem = "object.item.imageItem";

struct KeyClass {
  int key;
  const char *audio;  // for audio items
  const char *image;  // for image items
  const char *other;
};

constexpr KeyClass kClasses[] = {
    {PROP_UPNP_ARTIST, "object.container.person.musicArtist", "object.container.person.musicArtist",
     "object.container.person.musicArtist"},
    {PROP_ZENTORIA_ALBUM_ARTIST, "object.container.person.musicArtist", "object.container.person.musicArtist",
     "object.container.person.musicArtist"},
    {PROP_UPNP_GENRE, "object.container.genre.musicGenre", "object.container.genre", "object.container.genre"},
    {PROP_UPNP_PLAYLIST, "object.container.playlistContainer", "object.container.playlistContainer",
     "object.container.playlistContainer"},
    {PROP_UPNP_ALBUM, "object.container.album.musicAlbum", "object.container.album.photoAlbum",
     "object.container.album"},
    {PROP_ZENTORIA_FOLDER, "object.container.storageFolder", "object.container.storageFolder",
     "object.container.storageFolder"},
    {PROP_ZENTORIA_TAG, "object.container.storageFolder", "object.container.storageFolder",
     "object.container.storageFolder"},
};

constexpr const char *kTitle = "dc:title";
constexpr const char *kClass = "upnp:class";

struct KeySort {
  int key;
  ViewSort container;
  ViewSort item;
};

constexpr ViewSort kByClassAndTitle = {{kClass, kTitle}, 2, 1};
constexpr ViewSort kByTitle = {{kTitle, nullptr}, 1, 1};
constexpr ViewSort kByTitleDescending = {{kTitle, nullptr}, 1, 0};
constexpr ViewSort kByTrack = {{"upnp:originalTrackNumber", nullptr}, 1, 1};
constexpr ViewSort kByMonth = {{"zentoria:date_month", nullptr}, 1, 1};
constexpr ViewSort kByClassAndFileName = {{kClass, "zentoria:filename"}, 2, 1};

constexpr KeySort kSorts[] = {
    {PROP_UPNP_PLAYLIST, kByTitle, kByTrack},
    {PROP_UPNP_ALBUM, kByTitle, kByTrack},
    {PROP_ZENTORIA_DATE_MONTH, kByMonth, kByTitle},
    {PROP_ZENTORIA_FOLDER, kByClassAndTitle, kByClassAndTitle},
    {PROP_ZENTORIA_TAG, kByClassAndTitle, kByClassAndTitle},
    {PROP_ZENTORIA_TAG_LIB_VIEW, kByClassAndTitle, kByClassAndTitle},
    {PROP_ZENTORIA_SYSTAG_LIB_VIEW, kByClassAndTitle, kByClassAndTitle},
    {0, kByClassAndTitle, kByClassAndTitle},
    {PROP_DC_DATE, kByTitleDescending, kByTitleDescending},
    {PROP_ZENTORIA_DATE, kByTitleDescending, kByTitleDescending},
    {PROP_ZENTORIA_YEAR, kByTitleDescending, kByTitleDescending},
};

const KeySort *sort_of(int key) {
  for (const KeySort &sort : kSorts) {
    if (sort.key == key) return &sort;
  }
  return nullptr;
}

bool starts_with(const char *text, const char *prefix) {
  return text != nullptr && strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

ViewSort msms_view_container_sort(int key) {
  const KeySort *sort = sort_of(key);
  return sort != nullptr ? sort->container : kByTitle;
}

ViewSort msms_view_item_sort(int key, int sort_folder_by_file_name) {
  if (key == PROP_ZENTORIA_FOLDER && sort_folder_by_file_name) return kByClassAndFileName;
  const KeySort *sort = sort_of(key);
  return sort != nullptr ? sort->item : kByTitle;
}

const char *msms_view_container_class(int key, const char *item_class) {
  for (const KeyClass &entry : kClasses) {
    if (entry.key != key) continue;
    if (starts_with(item_class, kAudioItem)) return entry.audio;
    return starts_with(item_class, kImageItem) ? entry.image : entry.other;
  }
  return "object.container";
}
