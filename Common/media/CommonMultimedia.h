// CommonMultimedia: the constant table of file types every file, URL and
// download is classified by, and its look-ups by extension and MIME type.
//
// The table is constant and shared by all threads without a lock; the
// look-ups never fail (an unknown key gives the default row) and return
// pointers into the table, valid for the whole process.
#pragma once

#include <apr_pools.h>

#include <cstdint>

#include "CommonCancel.h"

enum MediaClass : std::int32_t {
  MEDIA_VIDEO = 1,
  MEDIA_AUDIO = 2,
  MEDIA_AUDIO_OR_VIDEO = 3,  // ASF, Ogg, 3GP, RealMedia...: decided from the content
  MEDIA_IMAGE = 4,
  MEDIA_UNKNOWN = 5,
  MEDIA_METAFILE = 6,  // playlists, metafiles and feeds
  MEDIA_TEXT = 7,
};

struct MediaTypeEntry {
  std::int32_t media_class;
  const char *extension;  // lower case, no dot; null on the default row
  const char *mime_type;
};

inline constexpr int MEDIA_TYPE_COUNT = 180;
// Row 0 is the default row {MEDIA_UNKNOWN, null, "application/octet-stream"}.
// An extension or MIME type listed on several rows maps to its first row.
extern const MediaTypeEntry MEDIA_TYPE_TABLE[MEDIA_TYPE_COUNT];

// Builds the look-ups' index in a pool under pool (a fatal stop when it
// cannot be made); until then, and after media_types_term, the look-ups scan
// the table, with the same answers. Call from one thread, before others look
// types up.
void media_types_init(apr_pool_t *pool);
void media_types_term();

// The first row whose extension equals the first length characters of
// extension (length -1: all of it), ignoring case; the default row when none
// matches or extension is null.
const MediaTypeEntry *media_type_by_extension(const char *extension, int length);

// As media_type_by_extension for a MIME type; parameters after a ';' within
// the first length characters are ignored ("audio/mpeg; charset=x").
const MediaTypeEntry *media_type_by_mime(const char *mime_type, int length);

// ---- URLs (CommonMultimediaUrl.cpp; logs on "CommonMultimedia") ----

// The MIME type of url, or null when none could be found or cancel stopped
// the probe. expected_class is 1 (video), 2 (audio), 3 (either) or 0. mms and
// pnm URLs are answered from their scheme, URLs with a trusted extension from
// the table; others are probed over HTTP (https URLs stay on HTTPS), following
// at most 10 redirections, whose final URL goes to *final_url (when given and
// it differs). The text lives in pool or is static.
const char *url_mime_type(apr_pool_t *pool, const char *url, int expected_class, const char **final_url,
                          CancelCheck cancel, void *context);

// Fetches the first 1001 bytes and the headers of url (any scheme but https
// is asked over http) and reports its content type (*mime null when there is
// none) and its redirection target (*location, null when none). Returns 0, 4
// when cancelled, or 20014 (ERROR "Could not get protocol headers for url
// http://%s" for an answer of 400 or more).
int url_probe_headers(apr_pool_t *pool, const char *url, int follow_redirects, const char **mime,
                      const char **location, CancelCheck cancel, void *context);
