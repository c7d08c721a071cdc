// MSMediaScanItem: one file of a shared folder turned into a library item,
// or its existing item kept, refreshed or replaced.
//
// A ScanContext lives for one scan of one source, in that scan's pool; a
// FolderScan for one folder, in the folder's pool; each file gets a pool of
// its own, destroyed when the file is done. Everything runs on the scan's
// thread inside its medialib transaction; only the inspection of files may
// run ahead on the worker of MSMediaScanAhead. Logs on "MSMediaScan".
#pragma once

#include <apr_hash.h>
#include <apr_pools.h>
#include <apr_tables.h>
#include <apr_time.h>

#include "CommonProp.h"
#include "MSDBConnection.h"
#include "MSDBQuery.h"
#include "MSMediaScan.h"
#include "MSMediaScanAhead.h"

// Counter arrays are indexed by media class (1 video, 2 audio, 4 image, 6 playlist).
inline constexpr int SCAN_KINDS = 7;

struct ScanPrefetch;
struct TreeReader;

struct ScanContext {
  apr_pool_t *pool;
  MediaLibraryDB *db;
  const char *source_oid;
  const char *root;  // canonical source folder, without trailing "/"
  int lookfor_audio;
  int lookfor_video;
  int lookfor_photo;
  int pretty_tags;
  int long_title;
  int read_avi_tags;
  int handle_album_art;
  int allow_album_art_as_photo;
  int print;
  const char *transcode_when;  // "never", "pprofile", "always", or null
  apr_array_header_t *tags;       // const char *: the source's plain tags, tidied
  apr_array_header_t *view_tags;  // const char *: view tags without their prefix
  apr_hash_t *art_cache;
  CancelCheck cancel;
  void *cancel_context;
  int created[SCAN_KINDS];
  int up_to_date[SCAN_KINDS];
  int created_at_commit;  // items created when the transaction was last committed
  ScanAhead *ahead;       // the walk's inspection worker; null: files are inspected at their turn
  ScanPrefetch *prefetch;  // the walk's tree look-ups; null: each file is looked up alone
  TreeReader *tree;        // the walk's folders listed ahead; null: each folder is read at its turn
};

// One folder of the walk: subtitles (file name -> "auto") and videos (full
// path -> oid) of this folder are paired when the folder is done.
struct FolderScan {
  apr_pool_t *pool;
  const char *relative;  // below the source root, "" for the root itself
  apr_hash_t *subtitles;
  apr_hash_t *videos;
};

struct ScanFile {
  const char *name;
  apr_off_t size;
  apr_time_t mtime;
};

// A file's object, looked up before the file's turn by msms_look_up_ahead,
// and the inspection queued for it. The look-up stays right until the turn:
// only the file's own turn changes the objects of its url.
struct FileLookup {
  bool found;             // false: the turn looks the file up itself
  const char *oid;        // the object of the file, null when there is none
  const char *signature;  // its signature
  const PropRows *stored;  // its properties the turn checks; null: read at the turn
  AheadJob *job;          // queued on scan->ahead; null: inspected at the turn if needed
};

// Fills the parts of scan that come from the source and the configuration
// (tags parsed, counters zero, cache empty) in pool. Returns 0, or 20014 when
// the configuration cannot be read (logged).
int msms_scan_context_init(apr_pool_t *pool, MediaLibraryDB *db, const MediaSource *source,
                           const char *root, CancelCheck cancel, void *context, ScanContext *scan);

// The sum of the created counters.
int msms_scan_created(const ScanContext *scan);

// The properties the turn of a file with an object checks, of each of the
// objects oids, into *found (oid -> PropRows, none for an object without
// them). Returns 0 or 20014.
int msms_fetch_checked_props(apr_pool_t *pool, MediaLibraryDB *db, const char *const *oids, int count,
                             apr_hash_t **found);

// Looks up, silently and in pool, the object of a file that its turn will
// look up, and queues the file's inspection on scan->ahead when the turn will
// need its facts (no object, or a changed one, of a wanted kind). Files the
// turn passes over by name or size, and failed look-ups, are left to the turn
// (lookup->found false).
void msms_look_up_ahead(apr_pool_t *pool, ScanContext *scan, const FolderScan *folder, const ScanFile *file,
                        FileLookup *lookup);

// Processes one file of folder: skips what is not media or not wanted,
// keeps an up-to-date item (marked as seen), replaces a changed one, creates
// a new one and files it into the views. lookup (may be null) is what
// msms_look_up_ahead found for the file; its job is taken here, and released
// by the caller. Returns 0 (also for skipped files), 4 when cancelled, or
// 20014 (logged; the walk goes on with the next file).
int msms_process_file(ScanContext *scan, FolderScan *folder, const ScanFile *file, const FileLookup *lookup);

// The tidied form of a tag text (quotes and blanks trimmed, words
// capitalised), a copy in pool.
const char *msms_tidy(apr_pool_t *pool, const char *text);
