// Internal to CommonMetaFile: the parse record, the element rule tables of
// the XML formats, the level operations every reader shares, and the readers
// themselves. A MetaFileParser belongs to the one thread that runs the parse;
// its pool and every level pool are destroyed with it.
#pragma once

#include <apr_file_io.h>
#include <apr_pools.h>

#include <cstddef>
#include <string>

#include "CommonMetaFile.h"

// Converts an element's or attribute's text into the stored value (in pool);
// null stores nothing.
using MetaConverter = const char *(*)(apr_pool_t *pool, const MetaFileParser *parser, const char *text);
// Adjusts the list of one level before the item callback sees it.
using MetaLevelFixup = void (*)(MetaFileParser *parser, int level);
// Adjusts the finished sub-items of an item before they are reported.
using MetaSubitemsFixup = void (*)(MetaFileParser *parser);

enum MetaRuleKind : int {
  META_KIND_VALUE = 0,     // the value only, on the current instance
  META_KIND_SINGLE = 1,    // opens instance 0 unless the property has one
  META_KIND_REPEAT = 2,    // every start opens a new instance
  META_KIND_LEVEL1 = 3,    // opens the container
  META_KIND_LEVEL2 = 4,    // opens an item
  META_KIND_LEVEL3 = 5,    // opens a sub-item
};

enum MetaValueMode : int {
  META_VALUE_NONE = 0,
  META_VALUE_SET = 1,
  META_VALUE_APPEND = 2,   // existing value, separator, new value
  META_VALUE_IF_ABSENT = 3,
};

// One row of a format's table. The path is the chain of element names from
// the root joined by "/", with "@name" for an attribute; a part in square
// brackets is optional. Matching ignores case.
struct MetaElementRule {
  const char *path;
  int kind;
  int mode;
  int slot;  // PropNameTable slot, 0 for none
  MetaConverter convert;
  const char *separator;
};

struct MetaFormatTable {
  const char *root;
  int format;
  const MetaElementRule *rules;
  int count;
  MetaLevelFixup level_fixup;
  MetaSubitemsFixup subitems_fixup;
};

inline constexpr int META_FORMAT_TABLE_COUNT = 5;
// RSS (77 rows), RDF (25), Atom (74), OPML (9), SMIL (6).
extern const MetaFormatTable META_FORMAT_TABLES[META_FORMAT_TABLE_COUNT];

struct MetaFileParser {
  MetaFileParser(const char *path, int options, MetaItemCallback callback, void *context, CancelCheck cancel,
                 void *cancel_context);
  ~MetaFileParser();
  MetaFileParser(const MetaFileParser &) = delete;
  MetaFileParser &operator=(const MetaFileParser &) = delete;

  apr_pool_t *pool;
  const char *path;  // what the caller gave: a local path or a URL
  const char *file;  // what is read: path, or the fetched copy of a URL
  int options;
  int format = 0;
  const MetaFormatTable *table = nullptr;
  MetaItemCallback callback;
  void *context;
  CancelCheck cancel;
  void *cancel_context;
  bool stop = false;
  int result = 0;
  MetaFileLevels levels = {};
  PropList *subitems[METAFILE_MAX_SUBITEMS] = {};
  apr_pool_t *subitem_pools[METAFILE_MAX_SUBITEMS] = {};
  int subitem_count = 0;
  bool subitems_overflowed = false;
};

// Ends the parse with result (kept when one is already set).
void meta_stop(MetaFileParser *parser, int result);
// The deepest open level (0 when none).
int meta_current_level(const MetaFileParser *parser);
// Opens level (1-3) with an empty list. Returns 0, or 20014 after the
// internal-error text when it is open already or the level above is not.
int meta_level_open(MetaFileParser *parser, int level);
// Closes level: a sub-item joins its item's array, an item is reported with
// its sub-items, the container is reported alone. Does nothing for a level
// that is not open.
void meta_level_close(MetaFileParser *parser, int level);
// Closes the open levels from the deepest up (a finished parse).
void meta_levels_close_all(MetaFileParser *parser);

// Stores value on the newest instance of slot's property in list (opening
// instance 0 when there is none), as mode says.
void meta_store(apr_pool_t *pool, PropList *list, int slot, int mode, const char *separator, const char *value);

inline constexpr std::size_t META_FETCH_STEP = 64 * 1024;

// One blocking fetch. The body goes to file when it is set, else to memory;
// past limit bytes the transfer stops and the part received is kept.
struct MetaFetch {
  const char *url = nullptr;
  const char *user_agent = nullptr;  // null: the engine's own
  CancelCheck cancel = nullptr;
  void *cancel_context = nullptr;
  apr_file_t *file = nullptr;
  std::size_t limit = 0;
  // Asked each time another META_FETCH_STEP bytes reached file (its path):
  // true ends the transfer with success, the part received kept.
  MetaFetchEnough enough = nullptr;
  void *enough_context = nullptr;
  const char *path = nullptr;
  // Results.
  std::size_t asked_at = 0;
  bool satisfied = false;
  std::string memory;
  std::size_t received = 0;
  bool capped = false;
  const char *final_url = nullptr;  // after redirections
};

// Returns 0, 4 when cancelled, or 20014 after ERROR "Could not get url %s"
// for a failed transfer or an HTTP status of 400 or more.
int meta_fetch(apr_pool_t *pool, MetaFetch *fetch);

// The extension of a URL's path (without query or fragment), in pool; null
// when it has none.
const char *meta_url_extension(apr_pool_t *pool, const char *url);
// "http://x" as "mms://x" (Windows Media streams); other URLs copied as
// they are.
char *meta_as_mms(apr_pool_t *pool, const char *url);

// Forgets the remembered answer of metafile_media_url.
void meta_forget_media_url();

// The readers: each returns 0, 4, 20014 or 70023 (see metafile_parse).
int meta_read_xml(MetaFileParser *parser);
int meta_read_playlist(MetaFileParser *parser);

// The fix-ups the tables name.
void meta_fixup_rss(MetaFileParser *parser, int level);
void meta_fixup_rdf(MetaFileParser *parser, int level);
void meta_fixup_atom(MetaFileParser *parser, int level);
void meta_fixup_rss_subitems(MetaFileParser *parser);

// The converters the tables name.
const char *meta_rfc822_to_usec(apr_pool_t *pool, const MetaFileParser *parser, const char *text);
const char *meta_date_only(apr_pool_t *pool, const MetaFileParser *parser, const char *text);
const char *meta_iso8601_to_usec(apr_pool_t *pool, const MetaFileParser *parser, const char *text);
const char *meta_duration(apr_pool_t *pool, const MetaFileParser *parser, const char *text);
const char *meta_strip_tags(apr_pool_t *pool, const MetaFileParser *parser, const char *text);
const char *meta_first_image(apr_pool_t *pool, const MetaFileParser *parser, const char *text);
const char *meta_mark_enclosure(apr_pool_t *pool, const MetaFileParser *parser, const char *text);
const char *meta_explicit_rule(apr_pool_t *pool, const MetaFileParser *parser, const char *text);
const char *meta_adult_rule(apr_pool_t *pool, const MetaFileParser *parser, const char *text);
const char *meta_rating_rule(apr_pool_t *pool, const MetaFileParser *parser, const char *text);
const char *meta_scheme_rule(apr_pool_t *pool, const MetaFileParser *parser, const char *text);
const char *meta_category_rule(apr_pool_t *pool, const MetaFileParser *parser, const char *text);
const char *meta_parent_relative(apr_pool_t *pool, const MetaFileParser *parser, const char *text);
