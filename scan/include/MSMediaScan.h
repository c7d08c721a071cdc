// MSMediaScan: the media library scan engine's interface to sharectl.
//
// Every modifying operation takes the library lock (the file
// "zentoria.ZentoriaMediaLibLock" in the installation's "logs/" folder) so
// that the media server and sharectl never write the library at the same
// time. Runs on the calling thread; results live in the caller's pool.
// Statuses: 0 success, 4 (COMMON_CANCELLED) stopped by the cancel check,
// 70025 library busy, 20014 any other failure (logged).
#pragma once

#include <apr_pools.h>
#include <apr_time.h>

#include "CommonCancel.h"
#include "MSDBSources.h"

struct MediaLibraryDB;

// Starts the engine once per process on the open library db: under the
// library lock, in one transaction, finds or creates the standard
// containers and builds the views from the configuration; then registers
// the automatic-refresh timeout (never due when refresh_interval is 0).
// Needs the configuration, CommonTimeout and the scheduler. Returns 0, or
// 20014 (logged; "Could not acquire DB modification mutex" at once when
// another process holds the lock). A failed start cannot be retried before
// msms_terminate.
int msms_init(apr_pool_t *pool, MediaLibraryDB *db, apr_time_t refresh_start,
              apr_interval_time_t refresh_interval);

// Removes the refresh timeout and stops the scheduler's priorities. Returns
// 0, or 20014 at the first failure ("Could not remove timeout for automatic
// media library refresh", "Could not cleanup priority") or when the engine
// was not started once.
int msms_terminate();

// Looks a source up by url (normalised unless it has a scheme). Returns
// source, filled, when it exists, else null.
MediaSource *msms_find_media_source(apr_pool_t *pool, const char *url, MediaSource *source);

// Record a new file or folder source (its oid is filled in), or rewrite an
// existing one. 0; 20024 (APR_EBADPATH, logged) when the url is no absolute
// local path, which a URL or feed option must share instead; or 20014 (also
// for a path that is neither a regular file nor a folder).
// user_message receives the user-message text.
int msms_add_media_source(apr_pool_t *pool, MediaSource *source, const char **user_message);
int msms_update_media_source(apr_pool_t *pool, MediaSource *source, const char **user_message);

// Shares a file or folder path (request->url) in one go: a path shared
// already keeps its source, which takes the request's name and, when not
// null, its tags; any other path becomes a new source with the request's
// kinds, recursion and tags ("" for null). With scan set the source is then
// scanned (printing its progress with print, as msms_refresh_media_source)
// and the counts set. Returns 0; 20024 (APR_EBADPATH, logged) when the url
// is no absolute local path; or 20014 when recording or the scan failed
// (logged).
int msms_share_path(apr_pool_t *pool, const MediaSource *request, int scan, int print, int *added, int *removed);

// Scans one source (by oid or url) in transactions committed every hundred
// items or so; any failure of the library rolls the open one back and ends
// the scan (what the earlier ones committed is consistent, and the next scan
// completes it). 0, 4, 70025 or 20014.
int msms_refresh_media_source(const char *source, int full, int print, int *added, int *removed,
                              CancelCheck cancel, void *context);

// What msms_share_url does with a URL or feed source.
enum UrlShareMode : int {
  // Records the url as a new source, or rewrites the source of that url (or
  // of source->oid), keeping it only when the url can be inspected; sets
  // source->oid.
  URL_SHARE_RECORD = 1,
  // Fetches and indexes the recorded source; *added counts its new objects.
  URL_SHARE_PROCESS = 2,
  // Records, then processes.
  URL_SHARE_BOTH = 3,
};

// Shares a URL or feed source as mode says; cancel (may be null) is polled
// by the processing. 0, 4 or 20014.
int msms_share_url(apr_pool_t *pool, MediaSource *source, UrlShareMode mode, int *added, const char **user_message,
                   CancelCheck cancel = nullptr, void *context = nullptr);

// Refreshes every source in order; sets both counts to 0 first. A source
// that cannot be refreshed is named on standard output ("Could not refresh
// URL") and the others are still refreshed; the result is then 20014.
// 0, 4 or 20014.
int msms_refresh_all(int *added, int *removed, CancelCheck cancel, void *context);

// Unshares a source (url or oid) and deletes its objects. 0, 4 or 20014.
int msms_remove_media_source(apr_pool_t *pool, const char *source, int full, const char **user_message,
                             CancelCheck cancel, void *context);

// Prints every source url, one per line. 0 or 20014.
int msms_list_media_sources();
