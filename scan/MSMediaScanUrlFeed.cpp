// Playlists and feeds: a playlist container per playlist with an item per
// entry (a nested playlist becomes a nested container). Nested playlists
// wait on a work list, not on the stack, and the bounds of the share (depth,
// requests, objects, entries per feed) end any nesting and any document;
// a playlist is read once per share. Each entry is stored in a pool of its
// own, so a feed of any length is read in bounded memory. A web document is
// walked twice: while fetching (before the library is locked) its copy is
// made, cut once it holds what an undated feed keeps, its nested playlists
// fetched and a dated feed's newest entries chosen; the locked pass then
// reads that copy and stores the entries.
#include <apr_strings.h>

#include <algorithm>
#include <cstring>
#include <strings.h>
#include <vector>

#include "CommonFiles.h"
#include "CommonHttp.h"
#include "CommonMetaFile.h"
#include "CommonNumbers.h"
#include "CommonPath.h"
#include "CommonText.h"
#include "CommonTime.h"
#include "CommonUrl.h"
#include "CommonUserMessage.h"
#include "MSDB.h"
#include "MSMediaScanLog.h"
#include "MSMediaScanLookup.h"
#include "MSMediaScanSkeleton.h"
#include "MSMediaScanTidy.h"
#include "MSMediaScanUrl.h"
#include "MSMediaScanViews.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kPlaylistClass = "object.container.playlistContainer";

// A nested playlist waiting for its turn: its container is made when its
// entry is met, so entries keep their order; texts in the top-level pool.
struct Pending {
  const MediaTypeEntry *type;
  const char *path_or_url;
  const char *container;
  unsigned int depth;
};

struct PlaylistRun {
  apr_pool_t *pool;  // the playlist's
  UrlScan *u;
  const char *feed_title;  // the title the feed gives itself, null when none
  const char *container;
  const char *base;  // folder of a local playlist, null for a web one
  const char *url;   // the playlist's own url, after redirections
  int taken;         // entries taken from sub-items of the current item
  unsigned int depth;        // 0 for a top-level playlist
  unsigned int entries;      // entries taken from this document
  apr_array_header_t *pending;  // Pending
  bool bounded;              // a bound ended the document
  unsigned int seen;         // entries with a URL met in this document
  apr_array_header_t *dates;  // while fetching: each entry's date, -1 for none
  const apr_array_header_t *newest;  // the entries a dated feed keeps (FetchedDocument)
};

bool is_dated(const PlaylistRun &run) { return run.dates != nullptr; }

// Counts what a bound left out; the first few are logged one by one, the
// rest in the share's summary. The fetch before the pass logs none: the
// pass meets them again.
void leave_out(const UrlScan *u, const char *what, const char *url) {
  ScanBounds &bounds = u->scan->bounds;
  if (++bounds.left_out <= 10 && !u->fetching) LOG4C(MSMS_MODULE, LOG4C_WARN, log4c_sprintf("%s, leaving out %s", what, url));
}

// Whether one more object may be made from an entry; else the document
// ends (the callback's status), its left-out entry logged.
bool take_object(PlaylistRun &run, const char *url) {
  ScanBounds &bounds = run.u->scan->bounds;
  // A dated feed is fetched whole, as its newest entries are kept.
  const bool feed_full = run.base == nullptr && run.entries >= bounds.feed_items && !(run.u->fetching && is_dated(run));
  if (!feed_full && bounds.items_made < bounds.items) {
    bounds.items_made++;
    run.entries++;
    return true;
  }
  leave_out(run.u, feed_full ? "Feed reached maxItemsPerFeed" : "Share reached maxItemsPerShare", url);
  run.bounded = true;
  return false;
}

// An entry's value, null when it has none or an empty one.
const char *value_of(apr_pool_t *pool, PropList *list, int slot) {
  if (list == nullptr || prop_count(list, slot) == 0) return nullptr;
  const char *value = prop_get(pool, list, slot, 0);
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

// The last path component of a URL, query and fragment cut; null when empty.
const char *name_of(apr_pool_t *pool, const char *url) {
  const char *after = url_after_scheme(url);
  const char *start = after != nullptr ? after : url;
  const std::size_t length = std::strcspn(start, "?#");
  const char *path = apr_pstrndup(pool, start, length);
  const char *slash = std::strrchr(path, '/');
  if (after != nullptr && slash == nullptr) return nullptr;
  const char *name = slash != nullptr ? slash + 1 : path;
  return name[0] != '\0' ? name : nullptr;
}

// A local entry's full path, or null (logged) when it is missing or empty.
const char *local_entry(apr_pool_t *pool, const PlaylistRun &run, const char *entry) {
  const char *path = url_file_path(entry);
  if (!path_is_absolute(path)) path = path_join(pool, run.base, nullptr, path);
  path = path != nullptr ? path_canonical(pool, path) : nullptr;
  if (path == nullptr || !file_exists(path) || file_size(path) <= 0) {
    if (!run.u->fetching) {
      LOG4C(MSMS_MODULE, LOG4C_WARN, log4c_sprintf("Can't find playlist item %s or is of zero size, ignoring...", entry));
    }
    return nullptr;
  }
  return path;
}

// Entries that name a web page about an item rather than its media: by
// type, or by relation when they give no type.
constexpr const char *kPageTypes[] = {"text/html", "application/xhtml+xml"};
constexpr const char *kPageRelations[] = {"alternate", "self", "related"};

bool names_one_of(const char *value, const auto &names) {
  if (value == nullptr) return false;
  for (const char *name : names) {
    if (strcasecmp(value, name) == 0) return true;
  }
  return false;
}

// An RSS item without media is reported with its own link, the item's page,
// as its url: unless its name says media, that is a page too.
bool is_own_page(apr_pool_t *pool, PropList *entry) {
  const char *res = value_of(pool, entry, PROP_RES);
  if (res == nullptr) return false;
  const int named = media_type_by_extension(path_extension(res, 1), -1)->media_class;
  if (named != MEDIA_UNKNOWN && named != MEDIA_TEXT) return false;
  const int count = prop_count(entry, PROP_DC_RELATION);
  for (int i = 0; i < count; ++i) {
    if (str_compare(prop_get(pool, entry, PROP_DC_RELATION, i), res) == 0) return true;
  }
  return false;
}

bool is_web_page(apr_pool_t *pool, PropList *entry) {
  const char *mime = value_of(pool, entry, PROP_RES_MIME_TYPE);
  if (mime != nullptr) return names_one_of(msms_mime_base(pool, mime), kPageTypes);
  return names_one_of(value_of(pool, entry, PROP_RES_REL), kPageRelations) || is_own_page(pool, entry);
}

// An entry's url with the white space around it cut; a relative one of a
// web playlist resolved against the playlist's own url. Null when empty.
const char *entry_url(apr_pool_t *pool, const PlaylistRun &run, const char *res) {
  const char *url = str_trim(apr_pstrdup(pool, res));
  if (url[0] == '\0') return nullptr;
  if (run.base != nullptr || url_after_scheme(url) != nullptr) return url;
  return metafile_resolve_link(pool, run.url, url);
}

int entry_class(const MediaTypeEntry *type, int expected) {
  const int media_class = type->media_class;
  if (media_class == MEDIA_VIDEO || media_class == MEDIA_AUDIO || media_class == MEDIA_IMAGE) return media_class;
  if (expected == MEDIA_AUDIO || expected == MEDIA_VIDEO) return expected;
  return MEDIA_VIDEO;
}

// The web pages of an entry and of the item holding it, as relations.
void add_relations(apr_pool_t *pool, const PlaylistRun &run, PropList *list, PropList *entry, PropList *fallback) {
  for (PropList *from : {entry, fallback}) {
    const int count = from != nullptr ? prop_count(from, PROP_DC_RELATION) : 0;
    for (int i = 0; i < count; ++i) {
      const char *value = prop_get(pool, from, PROP_DC_RELATION, i);
      if (const char *url = value != nullptr ? entry_url(pool, run, value) : nullptr) prop_add(pool, list, PROP_DC_RELATION, url);
    }
  }
}

// The size an entry declares (RSS length, Media RSS fileSize), null when it
// cannot be one: generators that do not know it write 0, 1 or text, and a
// renderer trusting a size of 1 stops after one byte.
const char *declared_size(apr_pool_t *pool, PropList *entry) {
  apr_int64_t size = 0;
  if (parse_int64(value_of(pool, entry, PROP_RES_SIZE), &size) == 0 || size < 2) return nullptr;
  return str_from_int64(pool, size);
}

int add_item(apr_pool_t *pool, PlaylistRun &run, PropList *entry, PropList *fallback, const char *res,
             const char *title, const MediaTypeEntry *type) {
  if (!take_object(run, res)) return COMMON_CANCELLED;
  UrlScan *u = run.u;
  if (u->fetching) return APR_SUCCESS;
  const char *mime = value_of(pool, entry, PROP_RES_MIME_TYPE);
  mime = mime != nullptr ? msms_mime_base(pool, mime) : type->mime_type;
  const MediaTypeEntry *by_mime = media_type_by_mime(mime, -1);
  const int media_class = entry_class(by_mime->media_class != MEDIA_UNKNOWN ? by_mime : type, u->expected_class);
  PropList *list = prop_list_create(pool);
  prop_add(pool, list, PROP_RES, res);
  prop_set(pool, list, PROP_RES_PROTOCOL_INFO, protocol_info_http(pool, mime));
  if (const char *size = declared_size(pool, entry)) prop_set(pool, list, PROP_RES_SIZE, size);
  if (const char *duration = value_of(pool, entry, PROP_RES_DURATION)) prop_set(pool, list, PROP_RES_DURATION, duration);
  // The entry's own, else those of the item holding it, as the title: the
  // reader gives an entry's cover (an image enclosure beside its media) to
  // the item.
  for (int slot : {PROP_DC_CREATOR, PROP_UPNP_ICON}) {
    const char *value = value_of(pool, entry, slot);
    if (value == nullptr) value = value_of(pool, fallback, slot);
    if (value != nullptr) prop_add(pool, list, slot, value);
  }
  add_relations(pool, run, list, entry, fallback);
  const char *oid = nullptr;
  if (msms_url_store_item(pool, u, run.container, nullptr, list, media_class, title, run.base == nullptr, &oid) !=
      APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("Could not add metafile item %s", res));
  }
  return APR_SUCCESS;
}

// A local file the source already holds is listed as it is; any other gets
// an item of its own. While fetching, the walk of the pass has not yet made
// the objects of new files, so no entry is counted: the fetch then reads
// every document the pass will read, and at most a few more.
int add_local_item(apr_pool_t *pool, PlaylistRun &run, PropList *entry, PropList *fallback, const char *url,
                   const char *title, const MediaTypeEntry *type) {
  if (run.u->fetching) return APR_SUCCESS;
  FileLookup lookup{};
  if (msms_find_file_object(pool, run.u->scan, url, &lookup) != APR_SUCCESS || lookup.oid == nullptr) {
    return add_item(pool, run, entry, fallback, url, title, type);
  }
  const int status = msdb_add_edge(pool, run.u->scan->db, run.container, lookup.oid, 1, nullptr, nullptr);
  if (status != APR_SUCCESS && status != APR_EEXIST) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("Could not link metafile item %s as child", url));
  }
  return APR_SUCCESS;
}

int make_container(apr_pool_t *pool, UrlScan *u, const char *url, const char *title, const char *parent,
                   const char *signature, bool internet, const char **oid) {
  PropList *list = prop_list_create(pool);
  prop_add(pool, list, PROP_UPNP_CLASS, kPlaylistClass);
  prop_add(pool, list, PROP_DC_TITLE, title);
  prop_add(pool, list, PROP_RES, url);
  const char *view = msms_system_view_path(pool, msms_url_item_class(u->expected_class).kind, internet, 1);
  // A nested playlist is reached through its parent alone.
  if (u->index && parent == nullptr) prop_add(pool, list, PROP_ZENTORIA_SYSTAG_LIB_VIEW, view != nullptr ? view : "Hidden");
  // Filed into the views once read, under the title the feed may give itself.
  UrlScan unindexed = *u;
  unindexed.index = 0;
  if (msms_url_store_object(pool, &unindexed, parent, signature, list, oid) != APR_SUCCESS) return APR_EGENERAL;
  u->scan->created[MEDIA_METAFILE]++;
  u->scan->up_to_date[MEDIA_METAFILE]++;
  return APR_SUCCESS;
}

// The key of a playlist in the share's read set.
const char *read_key(const char *path_or_url) { return url_file_path(path_or_url); }

// A nested playlist gets its container now and its turn on the work list,
// unless the share read it already or a bound leaves it out.
int queue_playlist(apr_pool_t *pool, PlaylistRun &run, const MediaTypeEntry *type, const char *path, const char *title) {
  ScanBounds &bounds = run.u->scan->bounds;
  const char *key = read_key(path);
  if (apr_hash_get(bounds.read, key, APR_HASH_KEY_STRING) != nullptr) {
    if (!run.u->fetching) LOG4C(MSMS_MODULE, LOG4C_DEBUG, log4c_sprintf("Playlist %s is read once per share, skipping", path));
    return APR_SUCCESS;
  }
  const bool internet = url_is_remote(path) != 0;
  if (run.depth >= bounds.depth) {
    leave_out(run.u, apr_psprintf(pool, "Playlists nested deeper than maxPlaylistDepth (%u)", bounds.depth), path);
    return APR_SUCCESS;
  }
  if (internet && bounds.requests_made >= bounds.requests) {
    leave_out(run.u, "Share reached maxRequestsPerShare", path);
    return APR_SUCCESS;
  }
  if (!take_object(run, path)) return COMMON_CANCELLED;
  if (internet) bounds.requests_made++;
  const char *oid = "";
  if (!run.u->fetching && make_container(pool, run.u, path, title, run.container, nullptr, internet, &oid) != APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("Could not process playlist item %s", path));
    return APR_SUCCESS;
  }
  apr_pool_t *keep = run.pending->pool;
  apr_hash_set(bounds.read, apr_pstrdup(apr_hash_pool_get(bounds.read), key), APR_HASH_KEY_STRING, "");
  APR_ARRAY_PUSH(run.pending, Pending) = Pending{type, apr_pstrdup(keep, path), apr_pstrdup(keep, oid), run.depth + 1};
  return APR_SUCCESS;
}

// An entry's date as its feed gives it (Atom's updated, else RSS's pubDate
// or Atom's published), -1 for none.
apr_time_t entry_date(apr_pool_t *pool, PropList *entry, PropList *fallback) {
  for (PropList *list : {entry, fallback}) {
    if (const char *usec = value_of(pool, list, PROP_ZENTORIA_MOD_DATE_TIME)) return apr_atoi64(usec);
    const char *date = value_of(pool, list, PROP_DC_DATE);
    if (const apr_time_t time = date != nullptr ? time_iso8601_parse(date) : -1; time >= 0) return time;
  }
  return -1;
}

// While fetching, notes the entry's date; in the pass, whether a dated
// feed keeps the entry among its newest (else it is left out).
bool kept_by_date(apr_pool_t *pool, PlaylistRun &run, PropList *entry, PropList *fallback, const char *res) {
  const unsigned int number = run.seen++;
  if (run.u->fetching) {
    const apr_time_t date = entry_date(pool, entry, fallback);
    if (date >= 0 && run.dates == nullptr) {
      run.dates = apr_array_make(run.pool, 64, sizeof(apr_time_t));
      for (unsigned int i = 0; i < number; ++i) APR_ARRAY_PUSH(run.dates, apr_time_t) = -1;
    }
    if (run.dates != nullptr) APR_ARRAY_PUSH(run.dates, apr_time_t) = date;
    return true;
  }
  if (run.newest == nullptr) return true;
  const auto *first = reinterpret_cast<const unsigned int *>(run.newest->elts);
  if (std::binary_search(first, first + run.newest->nelts, number)) return true;
  leave_out(run.u, "Feed reached maxItemsPerFeed", res);
  return false;
}

// The numbers of the feed_items newest entries of a dated document,
// ascending; an undated entry is older than any dated one, and of two
// entries of one date the first listed is kept.
const apr_array_header_t *newest_entries(apr_pool_t *pool, const apr_array_header_t *dates, unsigned int feed_items) {
  const auto *date = reinterpret_cast<const apr_time_t *>(dates->elts);
  std::vector<unsigned int> order(static_cast<std::size_t>(dates->nelts));
  for (unsigned int i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [date](unsigned int a, unsigned int b) { return date[a] > date[b]; });
  if (order.size() > feed_items) order.resize(feed_items);
  std::sort(order.begin(), order.end());
  apr_array_header_t *kept = apr_array_make(pool, static_cast<int>(order.size()) + 1, sizeof(unsigned int));
  for (unsigned int number : order) APR_ARRAY_PUSH(kept, unsigned int) = number;
  return kept;
}

// One entry (fallback: the item holding a sub-item entry), in its own pool.
int take_entry(PlaylistRun &run, PropList *entry, PropList *fallback) {
  Pool pool(run.u->scan->pool, MSMS_MODULE);
  const char *given = value_of(pool, entry, PROP_RES);
  const char *res = given != nullptr ? entry_url(pool, run, given) : nullptr;
  if (res == nullptr) return APR_SUCCESS;
  const int number = ++run.u->entry_number;
  const bool local = run.base != nullptr && !url_is_remote(res);
  const char *path = local ? local_entry(pool, run, res) : res;
  if (path == nullptr) return APR_SUCCESS;
  // A web feed's entry must name a scheme the engine speaks, never a local
  // file in disguise ("file:/etc/passwd#://x.mp3", "/etc/passwd?://x.mp3").
  if (!local && !url_is_spoken(res)) {
    if (!run.u->fetching) LOG4C(MSMS_MODULE, LOG4C_WARN, log4c_sprintf("Could not process playlist item %s", res));
    return APR_SUCCESS;
  }
  if (!kept_by_date(pool, run, entry, fallback, res)) return APR_SUCCESS;
  const char *title = value_of(pool, entry, PROP_DC_TITLE);
  if (title == nullptr) title = value_of(pool, fallback, PROP_DC_TITLE);
  if (title == nullptr) title = local ? path_strip_extension(pool, path_last_component(path)) : name_of(pool, res);
  if (title == nullptr) title = apr_psprintf(pool, "Item %d", number);
  const MediaTypeEntry *type = media_type_by_extension(path_extension(path, local ? 0 : 1), -1);
  if (type->media_class != MEDIA_METAFILE) {
    const char *item_url = local ? apr_pstrcat(pool, "file://", path, nullptr) : res;
    return local ? add_local_item(pool, run, entry, fallback, item_url, title, type)
                 : add_item(pool, run, entry, fallback, item_url, title, type);
  }
  return queue_playlist(pool, run, type, path, title);
}

int on_entry(const MetaFileLevels *levels, MetaFileParser *, void *context) {
  PlaylistRun &run = *static_cast<PlaylistRun *>(context);
  if (msms_url_cancel(run.u->scan)) return COMMON_CANCELLED;
  if (levels->list[3] != nullptr && is_web_page(levels->pool[3], levels->list[3])) {
    // Kept for the item's media entries that follow, not made an item.
    if (const char *page = value_of(levels->pool[3], levels->list[3], PROP_RES)) {
      prop_add(levels->pool[2], levels->list[2], PROP_DC_RELATION, apr_pstrdup(levels->pool[2], page));
    }
    return APR_SUCCESS;
  }
  if (levels->list[3] != nullptr) {
    run.taken++;
    return take_entry(run, levels->list[3], levels->list[2]);
  }
  if (levels->list[2] == nullptr) {
    const char *title = levels->list[1] != nullptr ? value_of(run.pool, levels->list[1], PROP_DC_TITLE) : nullptr;
    if (title != nullptr) run.feed_title = apr_pstrdup(run.pool, title);
    return APR_SUCCESS;
  }
  const int taken = run.taken;
  run.taken = 0;
  return taken == 0 ? take_entry(run, levels->list[2], nullptr) : APR_SUCCESS;
}

// A top-level container named after its url takes the feed's own title,
// then is filed into the views.
int file_container(apr_pool_t *pool, const PlaylistRun &run, const char *title, bool rename) {
  ScanContext *scan = run.u->scan;
  if (rename && run.feed_title != nullptr) {
    title = scan->pretty_tags ? msms_tidy(pool, run.feed_title) : run.feed_title;
    if (msdb_set_slot(pool, scan->db, run.container, PROP_DC_TITLE, title) != APR_SUCCESS) {
      return APR_EGENERAL;
    }
  }
  if (!run.u->index || msms_index_object(pool, scan->library, run.container, kPlaylistClass, nullptr) == APR_SUCCESS) {
    return APR_SUCCESS;
  }
  return log4c_fail(MSMS_MODULE, log4c_sprintf("Could not index object %s, ignoring...", run.container));
}

int parse_result(const char *url, int status) {
  if (status == APR_SUCCESS || status == COMMON_CANCELLED) return status;
  if (status == APR_ENOTIMPL) {
    LOG4C(MSMS_MODULE, LOG4C_WARN, log4c_sprintf("Ignoring metafile %s", url));
    return APR_SUCCESS;
  }
  return log4c_fail(MSMS_MODULE, log4c_sprintf("Could not process metafile %s", url));
}

// How the reader treats an entry's enclosures: an image beside other media
// is the entry's icon; alone, it is the entry's media in a feed of pictures,
// while an audio or video feed keeps the rule that makes the entry's page
// link its media and leaves a lone picture as the icon.
int parse_options(const UrlScan *u) {
  return METAFILE_OPTION_ENCLOSURES | (u->expected_class == MEDIA_IMAGE ? METAFILE_OPTION_PICTURES : 0);
}

// A part of a web document being fetched, checked by the reader.
struct PartCheck {
  const PlaylistRun *run;
  const MediaTypeEntry *type;
  const char *path;
};

// Whether the part of a document fetched so far holds every entry the pass
// will keep: read as the fetch reads it, the feed's bound ends it before its
// end, and no entry is dated (a dated feed keeps its newest entries, so it
// is read whole). The read changes nothing of the share's.
bool part_is_enough(const char *copy, void *context) {
  const PartCheck &check = *static_cast<const PartCheck *>(context);
  const PlaylistRun &whole = *check.run;
  Pool pool(whole.pool, MSMS_MODULE);
  ScanContext scan = *whole.u->scan;
  scan.pool = pool;
  scan.bounds.read = apr_hash_copy(pool, scan.bounds.read);
  UrlScan u = *whole.u;
  u.scan = &scan;
  PlaylistRun run{pool, &u, nullptr, nullptr, whole.base, whole.url, 0, whole.depth, 0,
                  apr_array_make(pool, 8, sizeof(Pending)), false, 0, nullptr, nullptr};
  metafile_parse_copy(check.type, parse_options(&u) | METAFILE_OPTION_PARTIAL, check.path, copy, on_entry, &run,
                      msms_url_cancel, &scan);
  return run.bounded && !is_dated(run);
}

// The copy of a web document made and kept while fetching, its failure too.
FetchedDocument *fetch_document(PlaylistRun &run, const MediaTypeEntry *type, const char *path) {
  UrlScan *u = run.u;
  PartCheck check{&run, type, path};
  const char *copy = nullptr;
  const int status = metafile_fetch(run.pool, path, part_is_enough, &check, msms_url_cancel, u->scan, &copy);
  if (status == COMMON_CANCELLED) return nullptr;
  return msms_fetched_keep_document(u->fetched, path, copy, status);
}

// A web document is read from the copy fetched before the pass; while
// fetching, that copy is made and kept, with the newest entries of a dated
// feed.
int parse_document(PlaylistRun &run, const MediaTypeEntry *type, const char *path) {
  UrlScan *u = run.u;
  const bool copied = run.base == nullptr && u->fetched != nullptr && metafile_is_parsable(type, 1);
  FetchedDocument *fetched = copied ? msms_fetched_document(u->fetched, path) : nullptr;
  if (copied && fetched == nullptr && u->fetching) {
    fetched = fetch_document(run, type, path);
    if (fetched == nullptr) return COMMON_CANCELLED;
  }
  if (fetched == nullptr) {
    if (copied) LOG4C(MSMS_MODULE, LOG4C_DEBUG, log4c_sprintf("Playlist %s was not fetched before the pass", path));
    return metafile_parse(type, parse_options(u), path, on_entry, &run, msms_url_cancel, u->scan);
  }
  if (fetched->status != APR_SUCCESS) return fetched->status;
  run.newest = fetched->newest;
  const int status =
      metafile_parse_copy(type, parse_options(u), path, fetched->copy, on_entry, &run, msms_url_cancel, u->scan);
  if (u->fetching && is_dated(run)) {
    fetched->newest = newest_entries(fetched->pool, run.dates, u->scan->bounds.feed_items);
  }
  return status;
}

// Reads the document of run's container. A file that turns out to be no
// playlist leaves no container behind. Returns 0, 4 or 20014 (logged).
int read_document(PlaylistRun &run, const MediaTypeEntry *type, const char *path_or_url) {
  UrlScan *u = run.u;
  const char *path = url_file_path(path_or_url);
  if (url_is_remote(path_or_url) == 0) run.base = path_dirname(run.pool, path);
  run.url = path_or_url;
  int status = parse_document(run, type, path);
  if (status == COMMON_CANCELLED && run.bounded && !msms_url_cancel(u->scan)) status = APR_SUCCESS;
  if (u->fetching) return status == COMMON_CANCELLED ? status : APR_SUCCESS;
  if (status != APR_SUCCESS && status != COMMON_CANCELLED &&
      msdb_mark_object(run.pool, u->scan->db, run.container, MSMS_MARK_REPLACED) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  return parse_result(path, status);
}

// The nested playlists in the order they were met, each document adding its
// own to the list; one that fails is logged and left out, and none is
// fetched once the share has made all the objects it may.
int read_pending(apr_pool_t *pool, UrlScan *u, apr_array_header_t *pending) {
  ScanBounds &bounds = u->scan->bounds;
  for (int i = 0; i < pending->nelts; ++i) {
    const Pending next = APR_ARRAY_IDX(pending, i, Pending);
    if (bounds.items_made >= bounds.items) {
      leave_out(u, "Share reached maxItemsPerShare", next.path_or_url);
      continue;
    }
    Pool work(pool, MSMS_MODULE);
    PlaylistRun run{work, u, nullptr, next.container, nullptr, nullptr, 0, next.depth, 0, pending, false, 0, nullptr, nullptr};
    const int status = read_document(run, next.type, next.path_or_url);
    if (status == COMMON_CANCELLED) return status;
    if (status != APR_SUCCESS) {
      LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("Could not process playlist item %s", next.path_or_url));
    }
  }
  return APR_SUCCESS;
}

}  // namespace

int msms_fetch_playlist(UrlScan *u, const MediaTypeEntry *type, const char *path_or_url) {
  apr_pool_t *pool = u->scan->pool;
  ScanBounds &bounds = u->scan->bounds;
  apr_hash_set(bounds.read, apr_pstrdup(apr_hash_pool_get(bounds.read), read_key(path_or_url)), APR_HASH_KEY_STRING, "");
  PlaylistRun run{pool, u, nullptr, nullptr, nullptr, nullptr, 0, 0, 0, apr_array_make(pool, 8, sizeof(Pending)), false, 0, nullptr, nullptr};
  const int status = read_document(run, type, path_or_url);
  return status == APR_SUCCESS ? read_pending(pool, u, run.pending) : status;
}

int msms_process_playlist(apr_pool_t *pool, UrlScan *u, const MediaTypeEntry *type, const char *path_or_url,
                          const char *title, const char *parent, const char *signature, const char **oid) {
  *oid = nullptr;
  if (type == nullptr || type->media_class != MEDIA_METAFILE) return log4c_fail(MSMS_MODULE, INTERNAL_ERROR_TEXT);
  ScanBounds &bounds = u->scan->bounds;
  const bool internet = url_is_remote(path_or_url) != 0;
  if (make_container(pool, u, path_or_url, title, parent, signature, internet, oid) != APR_SUCCESS) return APR_EGENERAL;
  const char *key = read_key(path_or_url);
  apr_hash_set(bounds.read, apr_pstrdup(apr_hash_pool_get(bounds.read), key), APR_HASH_KEY_STRING, "");
  const unsigned int left_before = bounds.left_out;
  PlaylistRun run{pool, u, nullptr, *oid, nullptr, nullptr, 0, 0, 0, apr_array_make(pool, 8, sizeof(Pending)), false, 0, nullptr, nullptr};
  int status = read_document(run, type, path_or_url);
  if (status == APR_SUCCESS && parent == nullptr) {
    const bool named_by_url = std::strcmp(title, path_or_url) == 0 || std::strcmp(title, u->url) == 0;
    status = file_container(pool, run, title, named_by_url);
  }
  if (status == APR_SUCCESS) status = read_pending(pool, u, run.pending);
  if (bounds.left_out > left_before) {
    LOG4C(MSMS_MODULE, LOG4C_WARN, log4c_sprintf("Playlist %s: %u entries left out by the bounds of its share",
                                                 path_or_url, bounds.left_out - left_before));
  }
  return status;
}

namespace {

// The object of a playlist file, and whether the scan keeps it as it is.
int find_playlist_file(apr_pool_t *pool, ScanContext *scan, const char *url, const char *signature,
                       FileLookup *lookup, bool *unchanged) {
  *lookup = FileLookup{};
  if (msms_find_file_object(pool, scan, url, lookup) != APR_SUCCESS) return log4c_fail(MSMS_MODULE, "Can't fetch object by its property");
  *unchanged = lookup->oid != nullptr && str_compare(lookup->signature, signature) == 0;
  return APR_SUCCESS;
}

// The media class of a playlist file's entries whose name says none.
int expected_class(const ScanContext *scan) {
  return scan->lookfor_audio ? MEDIA_AUDIO : scan->lookfor_video ? MEDIA_VIDEO : MEDIA_IMAGE;
}

int read_playlist_file(apr_pool_t *pool, ScanContext *scan, const char *path, const char *url,
                       const MediaTypeEntry *type, const char *signature) {
  UrlScan u{scan, url, nullptr, expected_class(scan), 0, 1, 1, 0, scan->fetched, false};
  FileLookup lookup;
  bool unchanged = false;
  if (find_playlist_file(pool, scan, url, signature, &lookup, &unchanged) != APR_SUCCESS) return APR_EGENERAL;
  if (unchanged) {
    scan->up_to_date[MEDIA_METAFILE]++;
    return msdb_mark_subtree(pool, scan->db, lookup.oid, MSMS_MARK_SEEN);
  }
  if (lookup.oid != nullptr && msdb_mark_object(pool, scan->db, lookup.oid, MSMS_MARK_REPLACED) != APR_SUCCESS) return APR_EGENERAL;
  const char *oid = nullptr;
  const int status = msms_process_playlist(pool, &u, type, url, path_strip_extension(pool, path_last_component(path)),
                                           nullptr, signature, &oid);
  if (status != APR_SUCCESS || lookup.oid == nullptr || oid == nullptr) return status;
  if (msdb_copy_parents(pool, scan->db, lookup.oid, oid) != APR_SUCCESS) return log4c_fail(MSMS_MODULE, "Could not copy parents from old to new object");
  return APR_SUCCESS;
}

// A playlist file listed by another is read as its own, not once more
// below every playlist that lists it.
void mark_playlist_files(ScanContext *scan) {
  for (int i = 0; i < scan->playlists->nelts; ++i) {
    const char *path = APR_ARRAY_IDX(scan->playlists, i, PlaylistFile).path;
    apr_hash_set(scan->bounds.read, path, APR_HASH_KEY_STRING, "");
  }
}

// The playlist files that the pass will read, looked up in one read
// transaction (a transaction per statement costs a dozen system calls); no
// server is waited on while it is open.
int find_changed_playlist_files(apr_pool_t *pool, ScanContext *scan, std::vector<const PlaylistFile *> *changed) {
  if (scan->playlists->nelts == 0) return APR_SUCCESS;
  if (msdb_medialib_begin(scan->db) != APR_SUCCESS) {
    return log4c_fail(MSMS_MODULE, "Could not start a transaction on the db");
  }
  for (int i = 0; i < scan->playlists->nelts; ++i) {
    const PlaylistFile &file = APR_ARRAY_IDX(scan->playlists, i, PlaylistFile);
    Pool work(pool, MSMS_MODULE);
    FileLookup lookup;
    bool unchanged = false;
    if (find_playlist_file(work, scan, file.url, file.signature, &lookup, &unchanged) != APR_SUCCESS) {
      if (msdb_medialib_rollback(scan->db) != APR_SUCCESS) {
        LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not rollback transaction on the db");
      }
      return APR_EGENERAL;
    }
    if (!unchanged) changed->push_back(&file);
  }
  return msdb_medialib_commit(scan->db) == APR_SUCCESS ? APR_SUCCESS
                                                        : log4c_fail(MSMS_MODULE, "Could not commit transaction on the db");
}

}  // namespace

int msms_scan_playlist_file(apr_pool_t *pool, ScanContext *scan, const char *path, const char *url,
                            const MediaTypeEntry *type, const char *signature) {
  if (scan->playlists == nullptr) return read_playlist_file(pool, scan, path, url, type, signature);
  apr_pool_t *keep = scan->playlists->pool;
  APR_ARRAY_PUSH(scan->playlists, PlaylistFile) =
      PlaylistFile{apr_pstrdup(keep, path), apr_pstrdup(keep, url), type, apr_pstrdup(keep, signature)};
  return APR_SUCCESS;
}

int msms_scan_playlist_files(apr_pool_t *pool, ScanContext *scan) {
  mark_playlist_files(scan);
  for (int i = 0; i < scan->playlists->nelts; ++i) {
    const PlaylistFile &file = APR_ARRAY_IDX(scan->playlists, i, PlaylistFile);
    Pool work(pool, MSMS_MODULE);
    if (scan->print) msms_print_progress(work, path_last_component(file.path));
    const int status = read_playlist_file(work, scan, file.path, file.url, file.type, file.signature);
    if (status != APR_SUCCESS) return status;
  }
  return APR_SUCCESS;
}

int msms_fetch_playlist_files(apr_pool_t *pool, ScanContext *scan) {
  mark_playlist_files(scan);
  std::vector<const PlaylistFile *> changed;
  if (find_changed_playlist_files(pool, scan, &changed) != APR_SUCCESS) return APR_EGENERAL;
  for (const PlaylistFile *file : changed) {
    UrlScan u{scan, file->url, nullptr, expected_class(scan), 0, 1, 1, 0, scan->fetched, true};
    if (msms_fetch_playlist(&u, file->type, file->url) == COMMON_CANCELLED) return COMMON_CANCELLED;
  }
  return APR_SUCCESS;
}
