// Streaming reader of the iTunes library property list. The handlers keep a
// stack with one set of marks per open element, so that the end of the
// dictionary of tracks, the array of playlists, a playlist's items and a
// playlist's dictionary are recognised without keeping the document.
#include "itunesLibrary.h"

#include <apr_strings.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "CommonEscape.h"
#include "CommonXML.h"
#include "itunesConversionUtils.h"
#include "log4c.h"

namespace {

enum Mark : unsigned {
  kTracksDict = 1,
  kTrackDict = 2,
  kPlaylistsArray = 4,
  kItemsArray = 8,
  kPlaylistDict = 16,
};

enum class Mode { none, tracks, playlists };

// The forms of a local file's location: iTunes writes the first, Music and
// other writers of the format the second. Other URLs are kept as they are.
constexpr std::string_view kLocalPrefixes[] = {"file://localhost/", "file:///"};

// Elements whose end carries a value, and the value of the empty ones.
struct ValueElement {
  const char *name;
  const char *fixed_value;  // null: the element's text
};
constexpr ValueElement kValueElements[] = {
    {"string", nullptr}, {"integer", nullptr}, {"date", nullptr}, {"true", "true"}, {"false", "false"},
};

struct Reader {
  apr_pool_t *pool = nullptr;
  ItunesLibrary *library = nullptr;
  std::vector<unsigned> marks;  // one entry per open element
  std::string text;             // character data of the innermost element
  std::string key;              // text of the last "key" element
  Mode mode = Mode::none;
  bool is_plist = false;
  ItunesTrack *track = nullptr;
  ItunesPlaylist *playlist = nullptr;
  apr_array_header_t *items = nullptr;
};

bool same(const char *a, const char *b) { return strcasecmp(a, b) == 0; }

bool key_is(const Reader &reader, const char *name) { return same(reader.key.c_str(), name); }

// Cuts text to at most limit bytes without splitting a UTF-8 sequence.
void cut_text(std::string &text, std::size_t limit) {
  if (text.size() <= limit) return;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
}

const char *pool_copy(const Reader &reader, const std::string &text) {
  return apr_pstrmemdup(reader.pool, text.data(), text.size());
}

// A local location keeps its leading "/" (macOS and Linux libraries), except
// before a drive letter (Windows libraries: "/C:/Music/x.mp3" is "C:/Music/x.mp3").
const char *decode_location(apr_pool_t *pool, const char *location) {
  for (std::string_view prefix : kLocalPrefixes) {
    if (strncasecmp(location, prefix.data(), prefix.size()) != 0) continue;
    const char *path = location + prefix.size() - 1;
    if (std::isalpha(static_cast<unsigned char>(path[1])) && path[2] == ':') ++path;
    return url_decode(pool, path);
  }
  return url_decode(pool, location);
}

// The value of the element that just ended, copied into the pool only when
// it is kept: most of a track's keys are never used.
const char *value_of(const Reader &reader, const ValueElement &element) {
  return element.fixed_value != nullptr ? element.fixed_value : pool_copy(reader, reader.text);
}

void store_track_value(Reader &reader, const ValueElement &element) {
  ItunesTrack *track = reader.track;
  if (key_is(reader, "Location"))
    track->location = decode_location(reader.pool, value_of(reader, element));
  else if (key_is(reader, "Name"))
    track->title = value_of(reader, element);
  else if (key_is(reader, "Total Time"))
    track->total_time = value_of(reader, element);
  else if (key_is(reader, "Protected"))
    track->is_protected = true;
}

void store_value(Reader &reader, const ValueElement &element) {
  cut_text(reader.text, ITUNES_MAX_TEXT);
  if (reader.mode == Mode::tracks && reader.track != nullptr) {
    store_track_value(reader, element);
  } else if (reader.mode == Mode::playlists && reader.items != nullptr) {
    APR_ARRAY_PUSH(reader.items, const char *) = value_of(reader, element);
  } else if (reader.mode == Mode::playlists && reader.playlist != nullptr && key_is(reader, "Name")) {
    reader.playlist->name = value_of(reader, element);
  }
}

void end_key(Reader &reader) {
  reader.key = reader.text;
  cut_text(reader.key, ITUNES_MAX_KEY);
  if (key_is(reader, "Tracks")) {
    reader.mode = Mode::tracks;
    reader.library->tracks = apr_hash_make(reader.pool);
  } else if (key_is(reader, "Playlists")) {
    reader.mode = Mode::playlists;
    reader.library->playlists = apr_hash_make(reader.pool);
  }
}

unsigned start_dict(Reader &reader) {
  if (reader.mode == Mode::tracks) {
    if (key_is(reader, "Tracks")) return kTracksDict;
    if (reader.track != nullptr) return 0;
    reader.track = static_cast<ItunesTrack *>(apr_pcalloc(reader.pool, sizeof(ItunesTrack)));
    apr_hash_set(reader.library->tracks, pool_copy(reader, reader.key), APR_HASH_KEY_STRING, reader.track);
    return kTrackDict;
  }
  if (reader.mode == Mode::playlists && reader.playlist == nullptr) {
    reader.playlist = static_cast<ItunesPlaylist *>(apr_pcalloc(reader.pool, sizeof(ItunesPlaylist)));
    return kPlaylistDict;
  }
  return 0;
}

unsigned start_array(Reader &reader) {
  if (reader.mode != Mode::playlists) return 0;
  if (key_is(reader, "Playlists")) return kPlaylistsArray;
  if (reader.playlist != nullptr && reader.items == nullptr && key_is(reader, "Playlist Items")) {
    reader.items = apr_array_make(reader.pool, 64, sizeof(const char *));
    return kItemsArray;
  }
  return 0;
}

void end_playlist(Reader &reader) {
  ItunesPlaylist *playlist = reader.playlist;
  reader.playlist = nullptr;
  if (playlist->name == nullptr) {
    LOG4C(ITUNES_MODULE, LOG4C_WARN, "playlist without a name - ignoring playlist");
    return;
  }
  apr_hash_set(reader.library->playlists, playlist->name, APR_HASH_KEY_STRING, playlist);
}

void close_marks(Reader &reader, unsigned marks) {
  if (marks & (kTracksDict | kPlaylistsArray)) reader.mode = Mode::none;
  if (marks & kTrackDict) reader.track = nullptr;
  if (marks & kItemsArray) {
    reader.playlist->items = reader.items;
    reader.items = nullptr;
  }
  if (marks & kPlaylistDict) end_playlist(reader);
}

void on_start(void *data, const XML_Char *name, const XML_Char **) {
  auto &reader = *static_cast<Reader *>(data);
  if (reader.marks.empty()) reader.is_plist = same(name, "plist");
  unsigned marks = 0;
  if (same(name, "dict"))
    marks = start_dict(reader);
  else if (same(name, "array"))
    marks = start_array(reader);
  reader.marks.push_back(marks);
  reader.text.clear();
}

void on_end(void *data, const XML_Char *name) {
  auto &reader = *static_cast<Reader *>(data);
  unsigned marks = reader.marks.back();
  reader.marks.pop_back();
  if (same(name, "key")) {
    end_key(reader);
  } else {
    for (const ValueElement &element : kValueElements) {
      if (!same(name, element.name)) continue;
      store_value(reader, element);
      break;
    }
  }
  close_marks(reader, marks);
  reader.text.clear();
}

void on_characters(void *data, const XML_Char *text, int length) {
  auto &reader = *static_cast<Reader *>(data);
  // A little past the limit, so that cut_text can find a whole character.
  std::size_t room = ITUNES_MAX_TEXT + 4 - std::min(reader.text.size(), ITUNES_MAX_TEXT + 4);
  reader.text.append(text, std::min(room, static_cast<std::size_t>(length)));
}

}  // namespace

int itunes_library_read(apr_pool_t *pool, const char *path, ItunesLibrary *library) {
  *library = ItunesLibrary{};
  Reader reader;
  reader.pool = pool;
  reader.library = library;
  int status = xml_parse_file_stream(path, on_start, on_end, on_characters, nullptr, &reader);
  // A well-formed document that is not a library must not empty the target.
  if (status != APR_SUCCESS || !reader.is_plist || library->playlists == nullptr) {
    LOG4C(ITUNES_MODULE, LOG4C_ERROR, log4c_sprintf("Could not parse %s", path));
    return APR_EGENERAL;
  }
  if (library->tracks == nullptr) library->tracks = apr_hash_make(pool);
  return APR_SUCCESS;
}
