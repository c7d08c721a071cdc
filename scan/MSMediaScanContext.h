// MSMediaScanContext: what one scan of one source carries from the walk
// down to each file: the library record, the source's choices and the
// configuration's, the counters and the walk's helpers; and the records of
// a folder and of a file being walked.
//
// A ScanContext lives for one scan, in that scan's pool; a FolderScan for
// one folder, in the folder's pool. Both are used on the scan's thread only.
#pragma once

#include <apr_hash.h>
#include <apr_pools.h>
#include <apr_tables.h>
#include <apr_time.h>

#include "CommonCancel.h"
#include "CommonMultimedia.h"
#include "MSDBQuery.h"
#include "MSDBSources.h"
#include "MSMediaScanLibrary.h"

// Counter arrays are indexed by media class (1 video, 2 audio, 4 image, 6 playlist).
inline constexpr int SCAN_KINDS = 7;

struct ScanAhead;
struct ScanPrefetch;
struct PrefetchEarly;
struct TreeReader;
struct TreeListings;
struct AheadJob;
struct UrlFetched;

// The marks a scan leaves on objects (msdb_mark_object) for the sweep that
// ends it: seen and kept, or replaced by a new object.
inline constexpr int MSMS_MARK_REPLACED = 1;
inline constexpr int MSMS_MARK_SEEN = 2;

// What the playlists and feeds of one share may cost (config.xml), and what
// they cost so far. A playlist is read once per share: read holds the path
// or url of every playlist read or about to be read.
struct ScanBounds {
  unsigned int depth;       // nesting levels below a top-level playlist
  unsigned int requests;    // nested documents read
  unsigned int items;       // objects made from entries
  unsigned int feed_items;  // entries taken from one remote feed
  apr_hash_t *read;
  unsigned int requests_made;
  unsigned int items_made;
  unsigned int left_out;  // entries and playlists the bounds left out
};

struct ScanContext {
  apr_pool_t *pool;
  const ScanLibrary *library;
  MediaLibraryDB *db;  // library->db
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
  int listings_ahead;     // the walk's folder listings open before their turn (MSMediaScanListing)
  ScanPrefetch *prefetch;  // the walk's tree look-ups; null: each file is looked up alone
  PrefetchEarly *early;    // the root's look-up begun before the pass; null: none
  TreeReader *tree;        // the walk's folders listed ahead; null: each folder is read at its turn
  // The folders the walk before the locked pass listed, kept by that walk
  // and taken by the pass (by its tree reader when it has one); null: none.
  TreeListings *listings;
  apr_array_header_t *playlists;  // PlaylistFile: met by the walk, read once every file has its object
  // The walk before the locked pass notes the playlist files it meets and
  // nothing else: no file is inspected or looked up, no warning given.
  bool playlists_only;
  UrlFetched *fetched;  // web playlists fetched before the pass; null: fetched when read
  // The stored subtitle pairings (msdb_uri_prop_values of zentoria:subtitles),
  // read at the first folder with a subtitle file; null: not read yet.
  apr_hash_t *subtitle_pairs;
  ScanBounds bounds;
};

// A playlist file whose reading waits for the end of the walk; texts in the scan's pool.
struct PlaylistFile {
  const char *path;
  const char *url;
  const MediaTypeEntry *type;
  const char *signature;
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
struct ClassifiedFile;

struct FileLookup {
  // The file classified when it was looked up ahead; null: at its turn.
  const ClassifiedFile *classified;
  bool found;             // false: the turn looks the file up itself
  const char *oid;        // the object of the file, null when there is none
  const char *signature;  // its signature
  const PropRows *stored;  // its properties the turn checks; null: read at the turn
  AheadJob *job;          // queued on scan->ahead; null: inspected at the turn if needed
};

// Fills the parts of scan that come from the library, the source and the
// configuration (tags parsed, counters zero, cache empty) in pool. Returns
// 0, or 20014 when the configuration cannot be read (logged).
int msms_scan_context_init(apr_pool_t *pool, const ScanLibrary *library, const MediaSource *source,
                           const char *root, CancelCheck cancel, void *context, ScanContext *scan);

// The sum of the created counters.
int msms_scan_created(const ScanContext *scan);
