// The folder walk. A folder already open on the current path (reached again
// through a link to an ancestor) is not entered a second time, so link loops
// end; the same folder reached on two different paths is walked under both.
// Entries that vanish between the listing and their status are skipped with
// a warning naming them. Folders are read ahead of their turn by
// MSMediaScanListing, from listings MSMediaScanTreeRead made on a thread of
// its own when it got there first.
#include "MSMediaScanWalk.h"

#include <apr_file_info.h>
#include <apr_strings.h>

#include <cstring>
#include <memory>

#include "CommonPath.h"
#include "CommonText.h"
#include "MSDB.h"
#include "MSMediaScanClassify.h"
#include "MSMediaScanItem.h"
#include "MSMediaScanListing.h"
#include "MSMediaScanLog.h"
#include "MSMediaScanPrefetch.h"
#include "MSMediaScanTreeRead.h"
#include "MSMediaScanUrl.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr int kCommitEvery = 100;

// The walk that only notes playlist files leaves its warnings to the walk of
// the pass, which meets the same entries.
void warn(const ScanContext *scan, const char *text) {
  if (!scan->playlists_only) LOG4C(MSMS_MODULE, LOG4C_WARN, text);
}

// Commits what was created so far once more than 100 items wait, after
// removing the objects they replace. A pass that writes this much gets a
// page cache that grows with what it wrote; one that only reads (an
// unchanged rescan) keeps the 2 MiB it had.
int commit_if_due(apr_pool_t *pool, ScanContext *scan) {
  const int created = msms_scan_created(scan);
  if (created - scan->created_at_commit <= kCommitEvery) return APR_SUCCESS;
  int swept = 0;
  if (msdb_sweep_marked(pool, scan->db, &swept, scan->cancel, scan->cancel_context) != APR_SUCCESS) {
    return log4c_fail(MSMS_MODULE, "Could not delete objects that are no longer required");
  }
  if (msdb_medialib_commit(scan->db) != APR_SUCCESS) return log4c_fail(MSMS_MODULE, "Could not commit transaction on the db");
  // The scan holds the library lock from its first transaction to its last.
  if (msdb_medialib_begin_continued(scan->db) != APR_SUCCESS) {
    return log4c_fail(MSMS_MODULE, "Could not start a transaction on the db");
  }
  scan->created_at_commit = created;
  msdb_medialib_cache_grow(scan->db);
  return APR_SUCCESS;
}

// Gives each video of the folder its same-named subtitle file as the URI
// property zentoria:subtitles. The stored pairings are read once per walk,
// so an unchanged pairing costs no statement. Returns 0, or 20014 when the
// library could not be read or written.
int pair_subtitles(FolderScan *folder, ScanContext *scan) {
  if (apr_hash_count(folder->subtitles) == 0) return APR_SUCCESS;
  if (scan->subtitle_pairs == nullptr &&
      msdb_uri_prop_values(scan->pool, scan->db, "zentoria:subtitles", &scan->subtitle_pairs) != APR_SUCCESS) {
    return log4c_fail(MSMS_MODULE, "Could not read the subtitles of the videos");
  }
  for (apr_hash_index_t *hi = apr_hash_first(folder->pool, folder->videos); hi; hi = apr_hash_next(hi)) {
    const void *key = nullptr;
    apr_hash_this(hi, &key, nullptr, nullptr);
    const char *video = static_cast<const char *>(key);
    const char *srt_name = apr_pstrcat(folder->pool, path_strip_extension(folder->pool, path_last_component(video)), ".srt", nullptr);
    for (apr_hash_index_t *si = apr_hash_first(folder->pool, folder->subtitles); si; si = apr_hash_next(si)) {
      const void *name = nullptr;
      apr_hash_this(si, &name, nullptr, nullptr);
      if (str_icompare(static_cast<const char *>(name), srt_name) != 0) continue;
      Pool pool(folder->pool, MSMS_MODULE);
      const char *uri = apr_pstrcat(pool, "file://", video, nullptr);
      const char *srt = apr_pstrcat(pool, "file://", path_dirname(pool, video), name, nullptr);
      const char *stored_key = msdb_uri_prop_key(pool, uri);
      const auto *stored = static_cast<const char *>(apr_hash_get(scan->subtitle_pairs, stored_key, APR_HASH_KEY_STRING));
      if (str_compare(stored, srt) == 0) continue;
      if (msdb_uri_prop_set(pool, scan->db, uri, 0, "zentoria:subtitles", srt, nullptr, nullptr) != APR_SUCCESS) {
        return log4c_fail(MSMS_MODULE, log4c_sprintf("Could not record the subtitles of %s", video));
      }
      apr_hash_set(scan->subtitle_pairs, apr_pstrdup(scan->pool, stored_key), APR_HASH_KEY_STRING, apr_pstrdup(scan->pool, srt));
    }
  }
  return APR_SUCCESS;
}

int walk_folder(FolderListing &listing, ScanContext *scan, int recursive, WalkChain &chain);

// The folder relative (below the walk's root) opened at its turn; null,
// with a warning, when it cannot be.
std::unique_ptr<FolderListing> open_at_turn(apr_pool_t *pool, ScanContext *scan, const char *relative, int recursive,
                                            FolderListing *parent) {
  std::unique_ptr<FolderListing> listing = FolderListing::open(pool, scan, relative, recursive, parent);
  if (listing == nullptr) {
    warn(scan, log4c_sprintf("Could not open folder %s, skipping...", apr_pstrcat(pool, scan->root, relative, nullptr)));
  }
  return listing;
}

// The folder of entry, in parent's listing, is walked with the listing
// opened early when there is one; it is closed once walked.
int enter_folder(FolderListing &parent, ScanContext *scan, const char *relative, int recursive, WalkChain &chain,
                 Listed &entry) {
  const apr_finfo_t &info = entry.info;
  if (on_walk_chain(chain, info)) {
    warn(scan, log4c_sprintf("Folder %s leads back to a folder being scanned, skipping...", entry.path));
    return APR_SUCCESS;
  }
  if (entry.opened == nullptr) entry.opened = open_at_turn(parent.folder()->pool, scan, relative, recursive, &parent);
  if (entry.opened == nullptr) return APR_SUCCESS;
  chain.push_back({info.device, info.inode});
  const int audio = scan->lookfor_audio, video = scan->lookfor_video, photo = scan->lookfor_photo;
  if (!recursive) scan->lookfor_audio = scan->lookfor_video = scan->lookfor_photo = 0;
  int status = walk_folder(*entry.opened, scan, recursive, chain);
  entry.opened.reset();
  scan->lookfor_audio = audio;
  scan->lookfor_video = video;
  scan->lookfor_photo = photo;
  chain.pop_back();
  if (status != APR_SUCCESS && status != COMMON_CANCELLED) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("Could not successfully scan the folder %s", entry.path));
  }
  return status;
}

int scan_file(apr_pool_t *pool, ScanContext *scan, FolderScan *folder, const apr_finfo_t &info, const char *path,
              const FileLookup *lookup) {
  if (commit_if_due(pool, scan) != APR_SUCCESS) return APR_EGENERAL;
  ScanFile file{apr_pstrdup(pool, path_last_component(path)), info.size, info.mtime};
  // A file's inspection never fails the file (what cannot be read leaves
  // its facts empty), so a failure here is the library's: the writes of the
  // file may be half done or the transaction gone, and the scan must stop
  // for its transaction to be rolled back.
  const int status = msms_process_file(scan, folder, &file, lookup);
  if (status != APR_SUCCESS && status != COMMON_CANCELLED) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("Could not successfully scan the file %s", path));
  }
  return status;
}

// False when the entry vanished or is a dangling link.
bool resolve_entry(apr_pool_t *pool, const char *path, apr_finfo_t *info) {
  if ((info->valid & APR_FINFO_TYPE) == 0) return false;
  if (info->filetype != APR_LNK) return true;
  const apr_status_t status = apr_stat(info, path, LISTING_WANTED, pool);
  return (status == APR_SUCCESS || status == APR_INCOMPLETE) && (info->valid & APR_FINFO_TYPE) != 0;
}

// One directory entry; links are followed to what they point at.
int walk_entry(FolderListing &listing, ScanContext *scan, int recursive, WalkChain &chain, Listed &entry) {
  FolderScan *folder = listing.folder();
  apr_pool_t *pool = folder->pool;
  apr_finfo_t &info = entry.info;
  const char *name = info.name;
  const char *path = entry.path;
  if (!resolve_entry(pool, path, &info)) {
    warn(scan, log4c_sprintf("Could not read %s, skipping...", path));
    return APR_SUCCESS;
  }
  if (info.filetype == APR_DIR) {
    return enter_folder(listing, scan, apr_pstrcat(pool, folder->relative, "/", name, nullptr), recursive, chain,
                        entry);
  }
  if (info.filetype != APR_REG || info.size <= 0) return APR_SUCCESS;
  // The walk that only notes playlist files has no turn to give any other.
  if (scan->playlists_only && !msms_is_playlist_name(name)) return APR_SUCCESS;
  return scan_file(pool, scan, folder, info, path, entry.pool != nullptr ? &entry.lookup : nullptr);
}

int walk_entries(FolderListing &listing, ScanContext *scan, int recursive, WalkChain &chain) {
  for (;;) {
    if (cancel_requested(scan->cancel, scan->cancel_context)) return COMMON_CANCELLED;
    Listed *entry = listing.front();
    if (entry == nullptr) return APR_SUCCESS;
    const int status = walk_entry(listing, scan, recursive, chain, *entry);
    listing.pop();
    if (status != APR_SUCCESS) return status;
  }
}

int walk_folder(FolderListing &listing, ScanContext *scan, int recursive, WalkChain &chain) {
  int status = walk_entries(listing, scan, recursive, chain);
  if (status == APR_SUCCESS) status = pair_subtitles(listing.folder(), scan);
  return status;
}

// The root of the walk, opened at its turn.
int walk_root(apr_pool_t *pool, ScanContext *scan, int recursive, WalkChain &chain) {
  std::unique_ptr<FolderListing> root = open_at_turn(pool, scan, "", recursive, nullptr);
  return root != nullptr ? walk_folder(*root, scan, recursive, chain) : APR_SUCCESS;
}

}  // namespace

int msms_walk(apr_pool_t *pool, ScanContext *scan, int recursive) {
  WalkChain chain = walk_chain_start(pool, scan->root);
  if (scan->playlists_only) return walk_root(pool, scan, recursive, chain);
  // Without the worker every file is inspected at its turn, as it is then.
  if (msms_ahead_enabled()) msms_ahead_start(pool, &scan->ahead);
  // Started first, the reader lists the tree while the walk looks up its
  // objects in the library, unless the walk before the pass kept it all.
  const bool kept = scan->listings != nullptr && scan->listings->whole;
  if (recursive && !kept && msms_tree_read_enabled()) {
    scan->tree = msms_tree_read_start(pool, scan->root, scan->listings);
  }
  if (scan->tree != nullptr) scan->listings = nullptr;
  scan->prefetch = msms_prefetch_create(pool, scan->source_oid, scan->early);
  scan->playlists = apr_array_make(pool, 4, sizeof(PlaylistFile));
  int status = walk_root(pool, scan, recursive, chain);
  msms_tree_read_stop(scan->tree);
  scan->tree = nullptr;
  msms_ahead_stop(scan->ahead);
  scan->ahead = nullptr;
  scan->prefetch = nullptr;
  if (status == APR_SUCCESS) status = msms_scan_playlist_files(pool, scan);
  scan->playlists = nullptr;
  return status;
}

int msms_scan_single_file(apr_pool_t *pool, ScanContext *scan, const ScanFile *file) {
  Pool folder_pool(pool, MSMS_MODULE);
  FolderScan folder{folder_pool, "", apr_hash_make(folder_pool), apr_hash_make(folder_pool)};
  return msms_process_file(scan, &folder, file, nullptr);
}
