// MSMediaScanUrl: URL and feed sources turned into library objects: one
// broadcast item for a single audio, image or video URL, and a playlist
// container with one item per entry for a feed or a playlist file (nested
// playlists become nested containers). Objects of a URL keep the server's
// validators (Last-Modified / ETag lines) as their signature, so a refresh
// asks the server one conditional question per URL, not one per entry.
//
// Runs on the scan's thread: the fetch before the library is locked, the
// rest inside the scan's medialib transaction; texts live in the pool
// passed. Logs on "MSMediaScan".
#pragma once

#include <apr_hash.h>
#include <apr_pools.h>

#include "CommonMultimedia.h"
#include "MSMediaScanContext.h"
#include "MSMediaScanLibrary.h"

// The class of an item of a URL source by its media class, and the kind of
// library container it is listed under. An undecided kind is a video.
struct UrlItemClass {
  int media_class;
  int kind;
  const char *item_class;
};
inline constexpr UrlItemClass URL_ITEM_CLASSES[] = {
    {MEDIA_VIDEO, MEDIA_KIND_VIDEO, "object.item.videoItem.videoBroadcast"},
    {MEDIA_AUDIO, MEDIA_KIND_AUDIO, "object.item.audioItem.audioBroadcast"},
    {MEDIA_IMAGE, MEDIA_KIND_PHOTO, "object.item.imageItem.photo"},
};

// The row of media_class, the video row for any other.
const UrlItemClass &msms_url_item_class(int media_class);

// The head of an online item copied for its stream probe: enough for the
// index of a file that carries it up front, with room for the first frames.
inline constexpr apr_int64_t URL_HEAD_BYTES = 4 * 1024 * 1024;

struct UrlFetched;

struct UrlScan {
  ScanContext *scan;
  const char *url;
  const char *name;        // the source's name, may be null
  int expected_class;      // MEDIA_AUDIO, MEDIA_IMAGE, MEDIA_VIDEO or 0
  int validate_only;
  int index;
  int refresh_existing;
  int entry_number;        // running number of the entries without a name
  UrlFetched *fetched;     // what was fetched before the locked pass, may be null
  bool fetching;           // fetching into fetched: nothing is stored
};

// What a URL source needs from servers, fetched before its locked pass so
// that the pass waits on none: the server's answer about the object of an
// earlier scan, the inspection, the documents of a feed and of its nested
// playlists (copies in the download area, removed with pool), the stream
// facts of a single item. A step the fetch did not take (the server said
// "unchanged" but a title or tag of the source did change) is taken by the
// pass itself.
UrlFetched *msms_url_fetched_make(apr_pool_t *pool);

// Fetches what url (with url->fetched set) will need, writing nothing;
// failures are kept for the pass to report. Returns 0, 4 when cancelled, or
// 20014 when the library could not be read (logged).
int msms_fetch_url(apr_pool_t *pool, UrlScan *url);

// A document the fetch reached, in the fetch's pool.
struct FetchedDocument {
  apr_pool_t *pool;   // the fetch's
  const char *copy;   // null after a failed fetch
  int status;         // the fetch's
  // A dated feed: the numbers (0 first) of its entries that are kept, the
  // newest, ascending; null: the first entries it lists.
  const apr_array_header_t *newest;
};

// Whether the fetch reached any document (or tried to).
bool msms_url_fetched_any(const UrlFetched *fetched);

// The document at url as the fetch kept it; null when the fetch did not
// reach it.
FetchedDocument *msms_fetched_document(UrlFetched *fetched, const char *url);
// Keeps the copy of url (null after a failed fetch, with status).
FetchedDocument *msms_fetched_keep_document(UrlFetched *fetched, const char *url, const char *copy, int status);

// The fetch's walk of a feed or playlist at url of format type and of the
// nested playlists it lists, within the bounds of url->scan->bounds.
// Returns 0 or 4.
int msms_fetch_playlist(UrlScan *url, const MediaTypeEntry *type, const char *path_or_url);

// Refreshes the recorded URL source: announced as msms_source_announce does,
// fetched (msms_fetch_url), then indexed in one locked pass (see
// msms_source_pass); full
// also deletes the containers left empty. *added counts the new objects.
// Returns 0, 4 or 20014 (logged).
int msms_refresh_url(apr_pool_t *pool, const ScanLibrary *library, MediaSource *source, int full, int print,
                     int *added, CancelCheck cancel, void *context);

// The expected media class of a source type ("audurl"... "vidfeed"), else 0.
int msms_url_expected_class(const char *type);

// Processes url->url as one URL source: inspection, refresh of the object an
// earlier scan made, then the single item or the feed. Returns 0, 4 when
// cancelled, 70015 when the URL does not exist, or 20014 (logged).
int msms_process_url(apr_pool_t *pool, UrlScan *url);

// Reads the playlist or feed at path_or_url (a "file://" url, a local path or
// a web URL) of format type into a new playlist container titled title,
// under parent when given; signature is kept on the container. Nested
// playlists are read within the bounds of url->scan->bounds; what the bounds
// leave out is logged and the rest is kept. Returns 0, 4 or 20014 (logged).
// *oid receives the container.
int msms_process_playlist(apr_pool_t *pool, UrlScan *url, const MediaTypeEntry *type, const char *path_or_url,
                          const char *title, const char *parent, const char *signature, const char **oid);

// A playlist file met by a folder walk: its container and entries, kept as
// they are while the file is unchanged. During a walk (scan->playlists set)
// it is only noted, so that its entries find the objects of their files.
// Returns 0, 4 or 20014 (logged).
int msms_scan_playlist_file(apr_pool_t *pool, ScanContext *scan, const char *path, const char *url,
                            const MediaTypeEntry *type, const char *signature);

// Reads the playlist files the walk noted. Returns 0, 4 or 20014 (logged).
int msms_scan_playlist_files(apr_pool_t *pool, ScanContext *scan);

// Before the locked pass: fetches into scan->fetched the web playlists that
// the playlist files in scan->playlists list, nested ones too, as
// msms_scan_playlist_files will read those files (unchanged ones are not
// read) and within the same bounds; writes nothing. A failed fetch is kept
// for the pass to report. Returns 0, 4 or 20014 (logged).
int msms_fetch_playlist_files(apr_pool_t *pool, ScanContext *scan);

// Shared by the item and feed modules: the cancel check of a parser or a
// download, context being the ScanContext; 1 when the scan is cancelled.
int msms_url_cancel(void *context);

// mime cut before its parameters ("audio/mpeg; charset=x" -> "audio/mpeg").
const char *msms_mime_base(apr_pool_t *pool, const char *mime);

// Shared by the item and feed modules: creates an object under parent (may be
// null) with list stored, tagged, marked as seen and, with url->index, filed
// into the views under item_class. *oid receives it. Returns 0 or 20014.
int msms_url_store_object(apr_pool_t *pool, UrlScan *url, const char *parent, const char *signature, PropList *list,
                          const char **oid);

// An item of media_class titled title: its class, title and (with
// url->index) its library view added to list, then stored as
// msms_url_store_object does and counted as created. internet chooses the
// view of online media. Returns 0 or 20014.
int msms_url_store_item(apr_pool_t *pool, UrlScan *url, const char *parent, const char *signature, PropList *list,
                        int media_class, const char *title, int internet, const char **oid);
