// tags_read through TagLib, the tag-file extension list and the debug hook.
#include "CommonTagLib.h"

#include <apr_strings.h>
#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <taglib/tdebuglistener.h>

#include <cstring>
#include <exception>
#include <string>

#include "Common.h"
#include "CommonTagLibExtra.h"
#include "CommonTagLibStream.h"
#include "CommonUtf8.h"
#include "log4c.h"

namespace {

constexpr const char *kModule = "CommonTagLib";

constexpr const char *kTagExtensions[] = {"ogg", "flac", "mp3", "mpc", "wma", "m4a",
                                          "m4b", "aac",  "mp4", "m4v", "m4p", "ape"};
constexpr int kTagExtensionCount = sizeof kTagExtensions / sizeof kTagExtensions[0];

class LogDebugListener : public TagLib::DebugListener {
 public:
  void printMessage(const TagLib::String &message) override {
    LOG4C(kModule, LOG4C_INFO, message.to8Bit(true).c_str());
  }
};

// Module state: the hook handed to TagLib by taglib_debug_on.
LogDebugListener debug_listener;

// A tag's text as valid XML text, cut to TEXT_MAX_BYTES.
const char *clean_text(apr_pool_t *pool, const char *text) {
  return apr_pstrdup(pool, utf8_xml_clean(pool, text, std::strlen(text), TEXT_MAX_BYTES, UTF8_REPAIR_TEXT));
}

const char *pool_text(apr_pool_t *pool, const TagLib::String &text) { return clean_text(pool, text.toCString(true)); }

struct TagOutputs {
  const char **title, **artist, **comment, **album, **album_artist, **genre;
  int *year, *track, *length;
  const char **collection_id;
};

void fill(apr_pool_t *pool, const TagLib::FileRef &file, const ExtraTagReader &extra,
          const TagOutputs &out) {
  const TagLib::Tag *tag = file.tag();
  if (out.title) *out.title = pool_text(pool, tag->title());
  if (out.artist) *out.artist = pool_text(pool, tag->artist());
  if (out.album) *out.album = pool_text(pool, tag->album());
  if (out.album_artist) *out.album_artist = clean_text(pool, extra.album_artist());
  if (out.comment) *out.comment = pool_text(pool, tag->comment());
  if (out.genre) *out.genre = pool_text(pool, tag->genre());
  if (out.track) *out.track = static_cast<int>(tag->track());
  if (out.year) *out.year = static_cast<int>(tag->year());
  if (out.length) {
    const TagLib::AudioProperties *properties = file.audioProperties();
    *out.length = properties ? properties->length() : 0;
  }
  if (out.collection_id) *out.collection_id = clean_text(pool, extra.collection_id());
}

int read_tags(apr_pool_t *pool, const char *path, const TagOutputs &out) {
  BoundedTagStream stream(path);
  if (!stream.isOpen()) return APR_EGENERAL;
  TagLib::FileRef file(&stream, out.length != nullptr, TagLib::AudioProperties::Average);
  if (file.isNull() || !file.tag()) return APR_EGENERAL;
  ExtraTagReader extra;
  extra.read(file);
  fill(pool, file, extra, out);
  return 0;
}

}  // namespace

int is_tag_file(const char *extension) {
  return str_index_of(extension, kTagExtensions, kTagExtensionCount, -1) >= 0 ? 1 : 0;
}

int tags_read(apr_pool_t *pool, const char *path, const char **title, const char **artist,
              const char **comment, const char **album, const char **album_artist,
              const char **genre, int *year, int *track, int *length, const char **collection_id) {
  try {
    return read_tags(pool, path,
                     TagOutputs{title, artist, comment, album, album_artist, genre, year, track,
                                length, collection_id});
  } catch (...) {
    LOG4C(kModule, LOG4C_ERROR, "Exception thrown via taglib");
    return APR_EGENERAL;
  }
}

void taglib_debug_on() { TagLib::setDebugListener(&debug_listener); }

void taglib_debug_off() { TagLib::setDebugListener(nullptr); }
