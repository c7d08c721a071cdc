// MSMediaScanUrl: URL and feed sources turned into library objects: one
// broadcast item for a single audio, image or video URL, and a playlist
// container with one item per entry for a feed or a playlist file (nested
// playlists become nested containers). Objects of a URL keep the server's
// validators (Last-Modified / ETag lines) as their signature, so a refresh
// asks the server one conditional question per URL, not one per entry.
//
// Runs on the scan's thread inside its medialib transaction; texts live in
// the pool passed. Logs on "MSMediaScan".
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

struct UrlScan {
  ScanContext *scan;
  const char *url;
  const char *name;        // the source's name, may be null
  int expected_class;      // MEDIA_AUDIO, MEDIA_IMAGE, MEDIA_VIDEO or 0
  int validate_only;
  int index;
  int refresh_existing;
  int entry_number;        // running number of the entries without a name
};

// Refreshes the recorded URL source: announced as msms_source_announce does,
// then fetched and indexed in one locked pass (see msms_source_pass); full
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
