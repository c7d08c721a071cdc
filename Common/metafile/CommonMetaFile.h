// CommonMetaFile: playlists, metafiles and feeds read into a stream of
// property lists (container, item, sub-item) handed to the caller one entry
// at a time, so that memory stays bounded by one item and its sub-items.
//
// A parse runs on the calling thread in a root pool of its own, destroyed
// when the parse returns: the lists handed to the item callback live only
// for that call. The module state (download folder, the remembered media URL)
// is set up by metafile_init and guarded by a mutex; parses share nothing.
// Logs on "CommonMetaFile".
#pragma once

#include <apr_pools.h>

#include <cstddef>

#include "CommonCancel.h"
#include "CommonMultimedia.h"
#include "CommonProp.h"

inline constexpr const char *METAFILE_MODULE = "CommonMetaFile";

enum MetaFileFormat : int {
  METAFILE_PLAIN_LIST = 1,
  METAFILE_PLS = 2,
  METAFILE_EXTENDED_M3U = 3,
  METAFILE_RSS = 4,
  METAFILE_RDF = 5,
  METAFILE_ATOM = 6,
  METAFILE_OPML = 7,
  METAFILE_SMIL = 8,
};

// Option of metafile_parse: apply the RSS enclosure rules (an image
// enclosure becomes the item's icon, see CommonMetaFileFixups.cpp).
inline constexpr int METAFILE_OPTION_ENCLOSURES = 1;
// Option of metafile_parse with METAFILE_OPTION_ENCLOSURES, for a feed of
// pictures: an entry whose only media is an image enclosure keeps it as its
// media (beside a media enclosure it is still the icon).
inline constexpr int METAFILE_OPTION_PICTURES = 4;
// Option of metafile_parse_copy: the copy is the start of a document that
// was cut anywhere, so its end is no error and what it leaves open (the
// entry being read) is not reported.
inline constexpr int METAFILE_OPTION_PARTIAL = 2;

// An item keeps at most this many finished sub-items.
inline constexpr int METAFILE_MAX_SUBITEMS = 300;

// Levels 1 (container), 2 (item) and 3 (sub-item); slot 0 is not used. A
// level that is not open has a null list. Each list lives in its own pool.
struct MetaFileLevels {
  PropList *list[4];
  apr_pool_t *pool[4];
};

struct MetaFileParser;

// Called once per sub-item (levels 1-3 set), once per item (level 3 null)
// and once for the container (levels 2 and 3 null). A non-zero result stops
// the parse: 4 is a cancellation, anything else a failure that is logged.
using MetaItemCallback = int (*)(const MetaFileLevels *levels, MetaFileParser *parser, void *context);

// Remembers the download folder (copied into pool) where fetched metafiles
// are kept while they are read, and removes the copies ("metafile-<pid>-
// <n>.tmp") that runs which are gone left there. Returns 0.
int metafile_init(apr_pool_t *pool, const char *download_folder);
// Forgets the module state and the remembered media URL; metafile_init may
// run again.
void metafile_terminate();

// 1 when the type row's extension names a format metafile_parse reads: "pls",
// "m3u", "xml", "rss", "rdf", "atom*", "opml*", "wpl", and "htm*" when
// html_allowed is set; else 0.
int metafile_is_parsable(const MediaTypeEntry *type, int html_allowed);

// Reads the playlist, metafile or feed at path (a local file, or a URL that
// is fetched first) and reports its entries through callback. options is 0
// or METAFILE_OPTION_ENCLOSURES, with METAFILE_OPTION_PICTURES; cancel may be
// null.
// Returns 0; 4 when cancelled (by cancel or by the callback); 70023 for an
// extension or an XML root that is not read (WARN "Unknown metafile format
// %s" / "Unknown XML file encountered, file type is %s"); 20014 after ERROR
// for a file that cannot be read or parsed, or a callback failure.
int metafile_parse(const MediaTypeEntry *type, int options, const char *path, MetaItemCallback callback,
                   void *context, CancelCheck cancel, void *cancel_context);

// Whether the part of a document fetched so far (the file at copy) is all
// its reader will use; context is the caller's.
using MetaFetchEnough = bool (*)(const char *copy, void *context);

// Fetches the document at url into a copy of its own in the download folder
// ("metafile-<pid>-<n>.tmp", its path in pool in *copy, cut at 32 MiB), for
// a caller that reads it later with metafile_parse_copy and then removes it.
// enough (may be null) is asked after every 64 KiB: true ends the transfer
// there, so an endless document costs what its reader keeps. Returns 0, 4
// when cancelled, or 20014 after ERROR "Could not get url %s".
int metafile_fetch(apr_pool_t *pool, const char *url, MetaFetchEnough enough, void *enough_context,
                   CancelCheck cancel, void *cancel_context, const char **copy);

// As metafile_parse, reading copy (fetched by metafile_fetch, null: path
// itself) as the document of path: path is what the entries hang off.
int metafile_parse_copy(const MediaTypeEntry *type, int options, const char *path, const char *copy,
                        MetaItemCallback callback, void *context, CancelCheck cancel, void *cancel_context);

// What a parse is reading: its format (MetaFileFormat, 0 before the format
// is known) and the path or URL it was given.
int metafile_parser_format(const MetaFileParser *parser);
const char *metafile_parser_path(const MetaFileParser *parser);

// One playable URL for a metafile URL, in pool: a URL that is not a web URL
// or is served as media (mime_type, when known) is its own answer; otherwise
// the metafile is fetched and scanned, and a web URL found in it is checked
// with the server. The last answer is remembered for every thread. Null
// after ERROR "Could not get media url for %s" or a failed fetch.
char *metafile_media_url(apr_pool_t *pool, const char *url, const char *mime_type, CancelCheck cancel,
                         void *context);

// Crawls a web site from start_url for links to media of expected_class
// (MediaClass; 3 for audio or video) and to "asx", "m3u" and "pls" playlists,
// following links to pages depth levels deep, and reports them like a feed:
// the site is the container, each page with such links an item, each link a
// sub-item. Returns 0, 4 when cancelled, or 20014 when the start page cannot
// be fetched (ERROR "Could not get url %s") or the callback fails.
int site_crawl(const char *site_url, const char *start_url, int depth, int expected_class, MetaItemCallback callback,
               void *context, CancelCheck cancel, void *cancel_context);

// link resolved against page_url (a web page or feed) as a browser does:
// "/x" from the host's root, "x" beside the page, "." and ".." steps taken
// out; an absolute link is its own answer. A pool copy, null when none.
char *metafile_resolve_link(apr_pool_t *pool, const char *page_url, const char *link);

// Digs one media URL out of the first 50 lines of a text metafile (ASX in
// text form, "[Reference]" files, RAM files). Returns a pool copy, or null
// when there is none or the text is an HTML or SMIL page.
char *metafile_scan_text(apr_pool_t *pool, const char *text, std::size_t length);
