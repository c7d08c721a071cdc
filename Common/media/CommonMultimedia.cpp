// The type table and its two look-ups.
#include "CommonMultimedia.h"

#include <apr_hash.h>
#include <apr_strings.h>
#include <strings.h>

#include <cctype>
#include <cstring>
#include <string_view>

#include "log4c_pool.h"

const MediaTypeEntry MEDIA_TYPE_TABLE[MEDIA_TYPE_COUNT] = {
    {MEDIA_UNKNOWN, nullptr, "application/octet-stream"},
    {MEDIA_AUDIO, "pcm", "audio/L16"},
    {MEDIA_AUDIO, "aif", "audio/x-aiff"},
    {MEDIA_AUDIO, "aifc", "audio/x-aiff"},
    {MEDIA_AUDIO, "aiff", "audio/x-aiff"},
    {MEDIA_AUDIO, "au", "audio/basic"},
    {MEDIA_AUDIO, "snd", "audio/basic"},
    {MEDIA_AUDIO, "mid", "audio/mid"},
    {MEDIA_AUDIO, "midi", "audio/mid"},
    {MEDIA_AUDIO, "smf", "audio/mid"},
    {MEDIA_AUDIO, "rmi", "audio/mid"},
    {MEDIA_AUDIO, "lpcm", "audio/lpcm"},
    {MEDIA_AUDIO, "mp1", "audio/mp1"},
    {MEDIA_AUDIO, "mp2", "audio/mp2"},
    {MEDIA_AUDIO, "mp3", "audio/mpeg"},
    {MEDIA_AUDIO, "ac3", "audio/x-ac3"},
    {MEDIA_AUDIO, "aacp", "audio/x-aacp"},
    {MEDIA_AUDIO, "aacp", "audio/aacp"},
    {MEDIA_AUDIO, "m4a", "audio/mp4"},
    {MEDIA_AUDIO, "m4a", "audio/x-aac"},
    {MEDIA_AUDIO, "m4b", "audio/x-aac"},
    {MEDIA_AUDIO, "m4a", "audio/aac"},
    {MEDIA_AUDIO, "aac", "audio/aac"},
    {MEDIA_AUDIO, "aac", "audio/vnd.dlna.adts"},
    {MEDIA_AUDIO, "at3", "audio/x-atrac3"},
    {MEDIA_AUDIO, "at3p", "audio/x-atrac3"},
    {MEDIA_AUDIO, "dts", "audio/x-dts"},
    {MEDIA_AUDIO, "wav", "audio/x-wav"},
    {MEDIA_AUDIO, "wav", "audio/wav"},
    {MEDIA_AUDIO, "wv", "audio/x-wv"},
    {MEDIA_AUDIO, "ra", "audio/x-pn-realaudio"},
    {MEDIA_AUDIO, "wma", "audio/x-ms-wma"},
    {MEDIA_AUDIO, "wma", "audio/x-ms-asf"},
    {MEDIA_AUDIO, "mka", "audio/x-matroska"},
    {MEDIA_AUDIO, "flac", "audio/x-flac"},
    {MEDIA_AUDIO, "ape", "audio/x-ape"},
    {MEDIA_AUDIO, "mpc", "audio/x-mpc"},
    {MEDIA_AUDIO, "shn", "application/x-shorten"},
    {MEDIA_AUDIO, "amr", "audio/AMR"},
    {MEDIA_AUDIO, "oga", "audio/ogg"},
    {MEDIA_AUDIO, "mod", "audio/x-mod"},
    {MEDIA_AUDIO, "mo3", "audio/x-mo3"},
    {MEDIA_AUDIO, "it", "audio/x-it"},
    {MEDIA_AUDIO, "xm", "audio/x-xm"},
    {MEDIA_AUDIO, "s3m", "audio/x-s3m"},
    {MEDIA_AUDIO, "mtm", "audio/x-mtm"},
    {MEDIA_AUDIO, "umx", "audio/x-umx"},
    {MEDIA_AUDIO_OR_VIDEO, "asf", "application/x-ms-asf"},
    {MEDIA_VIDEO, "wmv", "video/x-ms-wmv"},
    {MEDIA_VIDEO, "wm", "video/x-ms-wm"},
    {MEDIA_VIDEO, "wmv", "video/x-ms-asf"},
    {MEDIA_VIDEO, "avi", "video/x-msvideo"},
    {MEDIA_VIDEO, "divx", "video/x-msvideo"},
    {MEDIA_VIDEO, "lsf", "video/x-la-asf"},
    {MEDIA_VIDEO, "lsx", "video/x-la-asf"},
    {MEDIA_VIDEO, "mov", "video/quicktime"},
    {MEDIA_VIDEO, "qt", "video/quicktime"},
    {MEDIA_VIDEO, "movie", "video/x-sgi-movie"},
    {MEDIA_VIDEO, "mpg", "video/mpeg"},
    {MEDIA_VIDEO, "mpeg", "video/mpeg"},
    {MEDIA_VIDEO, "mpe", "video/mpeg"},
    {MEDIA_VIDEO, "mpa", "video/mpeg"},
    {MEDIA_VIDEO, "m1v", "video/mpeg"},
    {MEDIA_VIDEO, "mpv2", "video/mpeg"},
    {MEDIA_VIDEO, "mpg2", "video/mpeg"},
    {MEDIA_VIDEO, "mpeg2", "video/mpeg"},
    {MEDIA_VIDEO, "m2v", "video/mpeg"},
    {MEDIA_VIDEO, "ts", "video/mp2t"},
    {MEDIA_VIDEO, "mp2t", "video/mp2t"},
    {MEDIA_VIDEO, "m2t", "video/mp2t"},
    {MEDIA_VIDEO, "tp", "video/mp2t"},
    {MEDIA_VIDEO, "trp", "video/mp2t"},
    {MEDIA_VIDEO, "ts", "video/x-mp2t-mphl-188"},
    {MEDIA_VIDEO, "vob", "video/mpeg"},
    {MEDIA_VIDEO, "mts", "video/mpeg"},
    {MEDIA_VIDEO, "m2ts", "video/mpeg"},
    {MEDIA_VIDEO, "m2ts", "video/vnd.dlna.mpeg-tts"},
    {MEDIA_VIDEO, "mp4", "video/mp4"},
    {MEDIA_VIDEO, "mp4", "video/MP4V-ES"},
    {MEDIA_VIDEO, "m4v", "video/mp4"},
    {MEDIA_VIDEO, "mp4", "video/h264"},
    {MEDIA_VIDEO, "dv", "video/x-dv"},
    {MEDIA_VIDEO, "mjpg", "video/x-motion-jpeg"},
    {MEDIA_AUDIO_OR_VIDEO, "ogg", "application/ogg"},
    {MEDIA_AUDIO_OR_VIDEO, "ogx", "application/ogg"},
    {MEDIA_VIDEO, "ogv", "video/ogg"},
    {MEDIA_AUDIO_OR_VIDEO, "3gp", "video/3gpp"},
    {MEDIA_AUDIO_OR_VIDEO, "3g2", "video/3gpp2"},
    {MEDIA_VIDEO, "ogm", "video/ogm"},
    {MEDIA_VIDEO, "tivo", "video/x-tivo"},
    {MEDIA_VIDEO, "dvr-ms", "video/x-ms-dvr"},
    {MEDIA_VIDEO, "wtv", "video/wtv"},
    {MEDIA_VIDEO, "rv", "video/vnd.rn-realvideo"},
    {MEDIA_AUDIO_OR_VIDEO, "rmvb", "application/vnd.rn-realmedia"},
    {MEDIA_AUDIO_OR_VIDEO, "rm", "application/vnd.rn-realmedia"},
    {MEDIA_VIDEO, "mkv", "video/x-matroska"},
    {MEDIA_AUDIO_OR_VIDEO, "mks", "application/x-matroska"},
    {MEDIA_VIDEO, "cdg", "video/x-cdg"},
    {MEDIA_VIDEO, "bin", "video/x-bin"},
    {MEDIA_VIDEO, "flv", "video/x-flv"},
    {MEDIA_VIDEO, "flv", "video/flv"},
    {MEDIA_VIDEO, "webm", "video/x-webm"},
    {MEDIA_VIDEO, "webm", "video/webm"},
    {MEDIA_AUDIO_OR_VIDEO, "uvox", "misc/ultravox"},
    {MEDIA_VIDEO, "mpg", "video/mpeg2"},
    {MEDIA_VIDEO, "mpg", "video/mpeg16"},
    {MEDIA_VIDEO, "mpg", "video/vcd"},
    {MEDIA_VIDEO, "mpg", "video/vob"},
    {MEDIA_VIDEO, "mpg", "video/vob16"},
    {MEDIA_VIDEO, "mpg", "video/dvd"},
    {MEDIA_VIDEO, "mpg", "video/vardvd"},
    {MEDIA_VIDEO, "avi", "video/divx16"},
    {MEDIA_VIDEO, "avi", "video/avi"},
    {MEDIA_AUDIO, "mp3", "audio/flmp3"},
    {MEDIA_VIDEO, "avi", "video/psp"},
    {MEDIA_VIDEO, "wmv", "video/x-ms-wmv9"},
    {MEDIA_VIDEO, "wmv", "video/wmv9"},
    {MEDIA_VIDEO, "wmv", "video/wmv"},
    {MEDIA_VIDEO, "ts", "video/mp2tavc"},
    {MEDIA_VIDEO, "ts", "video/mp2tavc2"},
    {MEDIA_VIDEO, "mpg", "video/mpeg;mp2t;avc"},
    {MEDIA_AUDIO, "ts", "audio/mp2t"},
    {MEDIA_VIDEO, "ts", "video/mp2tmpeg1"},
    {MEDIA_VIDEO, "ts", "video/mp2tmpeg2"},
    {MEDIA_IMAGE, "ras", "image/x-cmu-raster"},
    {MEDIA_IMAGE, "rgb", "image/x-rgb"},
    {MEDIA_IMAGE, "tif", "image/tiff"},
    {MEDIA_IMAGE, "tiff", "image/tiff"},
    {MEDIA_IMAGE, "xwd", "image/x-xwindowdump"},
    {MEDIA_IMAGE, "bmp", "image/bmp"},
    {MEDIA_IMAGE, "ico", "image/x-icon"},
    {MEDIA_IMAGE, "cmx", "image/x-cmx"},
    {MEDIA_IMAGE, "cod", "image/cis-cod"},
    {MEDIA_IMAGE, "gif", "image/gif"},
    {MEDIA_IMAGE, "png", "image/png"},
    {MEDIA_IMAGE, "ief", "image/ief"},
    {MEDIA_IMAGE, "jfif", "image/pipeg"},
    {MEDIA_IMAGE, "jpg", "image/jpeg"},
    {MEDIA_IMAGE, "jpeg", "image/jpeg"},
    {MEDIA_IMAGE, "jpe", "image/jpeg"},
    {MEDIA_IMAGE, "xpm", "image/x-xpixmap"},
    {MEDIA_IMAGE, "pbm", "image/x-portable-bitmap"},
    {MEDIA_IMAGE, "pgm", "image/x-portable-graymap"},
    {MEDIA_IMAGE, "pnm", "image/x-portable-anymap"},
    {MEDIA_IMAGE, "ppm", "image/x-portable-pixmap"},
    {MEDIA_IMAGE, "crw", "image/x-crw"},
    {MEDIA_IMAGE, "cr2", "image/x-cr2"},
    {MEDIA_IMAGE, "nef", "image/x-nef"},
    {MEDIA_IMAGE, "nrw", "image/x-nrw"},
    {MEDIA_IMAGE, "mrw", "image/x-mrw"},
    {MEDIA_IMAGE, "orf", "image/x-orf"},
    {MEDIA_IMAGE, "raf", "image/x-raf"},
    {MEDIA_IMAGE, "dng", "image/x-dng"},
    {MEDIA_IMAGE, "erf", "image/x-erf"},
    {MEDIA_IMAGE, "x3f", "image/x-x3f"},
    {MEDIA_IMAGE, "dcr", "image/x-dcr"},
    {MEDIA_IMAGE, "kdc", "image/x-kdc"},
    {MEDIA_IMAGE, "arw", "image/x-arw"},
    {MEDIA_IMAGE, "raw", "image/x-raw"},
    {MEDIA_METAFILE, "asx", "video/x-ms-asx"},
    {MEDIA_METAFILE, "wvx", "video/x-ms-wvx"},
    {MEDIA_METAFILE, "wmx", "video/x-ms-wmx"},
    {MEDIA_METAFILE, "wax", "audio/x-ms-wax"},
    {MEDIA_METAFILE, "ram", "application/x-pn-realaudio"},
    {MEDIA_METAFILE, "m3u", "audio/x-mpegurl"},
    {MEDIA_METAFILE, "pls", "audio/x-scpls"},
    {MEDIA_METAFILE, "wpl", "application/vnd.ms-wpl"},
    {MEDIA_METAFILE, "xml", "text/xml"},
    {MEDIA_METAFILE, "xml", "application/xml"},
    {MEDIA_METAFILE, "rss", "application/rss+xml"},
    {MEDIA_METAFILE, "atom", "application/atom+xml"},
    {MEDIA_METAFILE, "rdf", "application/rdf+xml"},
    {MEDIA_METAFILE, "opml", "text/x-opml"},
    {MEDIA_TEXT, "txt", "text/plain"},
    {MEDIA_TEXT, "htm", "text/html"},
    {MEDIA_TEXT, "html", "text/html"},
    {MEDIA_TEXT, "shtml", "text/html"},
    {MEDIA_TEXT, "css", "text/css"},
    {MEDIA_TEXT, "js", "text/javascript"},
    {MEDIA_TEXT, "srt", "text/plain"},
};

namespace {

using KeyOf = const char *(*)(const MediaTypeEntry &);

// The first row from 1 on whose key has exactly length characters, equal to
// the first length characters of key ignoring case.
const MediaTypeEntry *first_match(std::string_view key, KeyOf key_of) {
  for (int row = 1; row < MEDIA_TYPE_COUNT; ++row) {
    const char *candidate = key_of(MEDIA_TYPE_TABLE[row]);
    if (std::strlen(candidate) == key.size() &&
        strncasecmp(candidate, key.data(), key.size()) == 0) {
      return &MEDIA_TYPE_TABLE[row];
    }
  }
  return &MEDIA_TYPE_TABLE[0];
}

std::string_view key_view(const char *key, int length) {
  return length < 0 ? std::string_view(key) : std::string_view(key, strnlen(key, length));
}

// The look-ups' answers by lower-cased key, built once at start-up: the
// same first rows as the scan above, found in one probe. Read-only between
// media_types_init and media_types_term.
struct TypeIndex {
  apr_pool_t *pool = nullptr;
  apr_hash_t *by_extension = nullptr;
  apr_hash_t *by_mime = nullptr;
};
TypeIndex g_index;

// Longer keys than any row's are never indexed (and match no row).
constexpr std::size_t kIndexedKeyMax = 64;

apr_hash_t *build_index(apr_pool_t *pool, KeyOf key_of) {
  apr_hash_t *index = apr_hash_make(pool);
  for (int row = 1; row < MEDIA_TYPE_COUNT; ++row) {
    char *key = apr_pstrdup(pool, key_of(MEDIA_TYPE_TABLE[row]));
    for (char *c = key; *c != '\0'; ++c) *c = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    if (apr_hash_get(index, key, APR_HASH_KEY_STRING) == nullptr)
      apr_hash_set(index, key, APR_HASH_KEY_STRING, &MEDIA_TYPE_TABLE[row]);
  }
  return index;
}

const MediaTypeEntry *look_up(apr_hash_t *index, std::string_view key, KeyOf key_of) {
  if (index == nullptr || key.size() >= kIndexedKeyMax) return first_match(key, key_of);
  char lower[kIndexedKeyMax];
  for (std::size_t i = 0; i < key.size(); ++i)
    lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(key[i])));
  const auto *row = static_cast<const MediaTypeEntry *>(apr_hash_get(index, lower, static_cast<apr_ssize_t>(key.size())));
  return row != nullptr ? row : &MEDIA_TYPE_TABLE[0];
}

const char *extension_of(const MediaTypeEntry &e) { return e.extension; }
const char *mime_of(const MediaTypeEntry &e) { return e.mime_type; }

}  // namespace

void media_types_init(apr_pool_t *pool) {
  g_index.pool = pool_create_or_die(pool, "CommonMultimedia");
  g_index.by_extension = build_index(g_index.pool, extension_of);
  g_index.by_mime = build_index(g_index.pool, mime_of);
}

void media_types_term() {
  if (g_index.pool == nullptr) return;
  apr_pool_destroy(g_index.pool);
  g_index = TypeIndex{};
}

const MediaTypeEntry *media_type_by_extension(const char *extension, int length) {
  if (!extension) return &MEDIA_TYPE_TABLE[0];
  return look_up(g_index.by_extension, key_view(extension, length), extension_of);
}

const MediaTypeEntry *media_type_by_mime(const char *mime_type, int length) {
  if (!mime_type) return &MEDIA_TYPE_TABLE[0];
  std::string_view key = key_view(mime_type, length);
  key = key.substr(0, key.find(';'));
  return look_up(g_index.by_mime, key, mime_of);
}
