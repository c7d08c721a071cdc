// The folder walk. A folder already open on the current path (reached again
// through a link to an ancestor) is not entered a second time, so link loops
// end; the same folder reached on two different paths is walked under both.
// Entries that vanish between the listing and their status are skipped with
// a warning naming them.
//
// With an inspection worker, a folder is read a few entries ahead of the
// walk's turn: each plain file read early has its object looked up then, and
// its inspection queued when its turn will need it. Reading ahead stops after
// any entry that is not a plain file, so nothing is queued past a folder the
// walk is about to enter, and the worker's jobs are always the current
// folder's, in the walk's order.
#include "MSMediaScanWalk.h"

#include <apr_file_info.h>
#include <apr_strings.h>

#include <cstring>
#include <vector>

#include "CommonPath.h"
#include "CommonText.h"
#include "MSDB.h"
#include "MSMediaScanPrefetch.h"
#include "MSMediaScanState.h"
#include "PlatformPathNames.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr int kCommitEvery = 100;
constexpr std::size_t kPathBuffer = 512;
constexpr apr_int32_t kWanted = APR_FINFO_TYPE | APR_FINFO_NAME | APR_FINFO_SIZE | APR_FINFO_MTIME |
                                APR_FINFO_INODE | APR_FINFO_DEV;

struct FolderId {
  apr_dev_t device;
  apr_ino_t inode;
};

// The folders open on the current path.
using WalkChain = std::vector<FolderId>;

int fail(const char *message) {
  LOG4C(MSMS_MODULE, LOG4C_ERROR, message);
  return APR_EGENERAL;
}

bool on_chain(const WalkChain &chain, const apr_finfo_t &info) {
  for (const FolderId &id : chain) {
    if (id.device == info.device && id.inode == info.inode) return true;
  }
  return false;
}

// The relative folder in the letter case the file system reports, when the
// long form of the folder ends with it.
const char *true_case(apr_pool_t *pool, const char *folder, const char *relative) {
  char short_form[kPathBuffer];
  char long_form[kPathBuffer];
  std::size_t length = platform_short_path_name(folder, short_form, sizeof short_form);
  if (length >= sizeof short_form) {
    LOG4C(MSMS_MODULE, LOG4C_WARN, log4c_sprintf("short path too long for buffer: %s", folder));
    return relative;
  }
  length = platform_long_path_name(short_form, long_form, sizeof long_form);
  if (length >= sizeof long_form) {
    LOG4C(MSMS_MODULE, LOG4C_WARN, log4c_sprintf("long path too long for buffer: %s", folder));
    return relative;
  }
  const std::size_t relative_length = std::strlen(relative);
  if (length < relative_length) {
    LOG4C(MSMS_MODULE, LOG4C_WARN, log4c_sprintf("some weird buffer length issue: %s and %s", long_form, relative));
    return relative;
  }
  const char *ending = long_form + length - relative_length;
  return str_icompare(ending, relative) == 0 ? apr_pstrdup(pool, ending) : relative;
}

// Commits what was created so far once more than 100 items wait, after
// removing the objects they replace.
int commit_if_due(apr_pool_t *pool, ScanContext *scan) {
  const int created = msms_scan_created(scan);
  if (created - scan->created_at_commit <= kCommitEvery) return APR_SUCCESS;
  int swept = 0;
  if (msdb_sweep_marked(pool, scan->db, &swept, scan->cancel, scan->cancel_context) != APR_SUCCESS) {
    return fail("Could not delete objects that are no longer required");
  }
  if (msdb_medialib_commit(scan->db) != APR_SUCCESS) return fail("Could not commit transaction on the db");
  // The scan holds the library lock from its first transaction to its last.
  if (msdb_medialib_begin_continued(scan->db) != APR_SUCCESS) {
    return fail("Could not start a transaction on the db");
  }
  scan->created_at_commit = created;
  return APR_SUCCESS;
}

// Gives each video of the folder its same-named subtitle file as the URI
// property zentoria:subtitles; an unchanged pairing costs one read.
void pair_subtitles(FolderScan *folder, ScanContext *scan) {
  if (apr_hash_count(folder->subtitles) == 0) return;
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
      const char *current = nullptr;
      if (msdb_uri_prop_get(pool, scan->db, uri, 0, nullptr, nullptr, "zentoria:subtitles", &current) == APR_SUCCESS &&
          str_compare(current, srt) != 0 &&
          msdb_uri_prop_set(pool, scan->db, uri, 0, "zentoria:subtitles", srt, nullptr, nullptr) != APR_SUCCESS) {
        LOG4C(MSMS_MODULE, LOG4C_WARN, log4c_sprintf("Could not record the subtitles of %s", video));
      }
    }
  }
}

int walk_folder(apr_pool_t *parent, ScanContext *scan, const char *relative, int recursive, WalkChain &chain);

int enter_folder(apr_pool_t *pool, ScanContext *scan, const char *relative, int recursive, WalkChain &chain,
                 const apr_finfo_t &info, const char *path) {
  if (on_chain(chain, info)) {
    LOG4C(MSMS_MODULE, LOG4C_WARN, log4c_sprintf("Folder %s leads back to a folder being scanned, skipping...", path));
    return APR_SUCCESS;
  }
  chain.push_back({info.device, info.inode});
  const int audio = scan->lookfor_audio, video = scan->lookfor_video, photo = scan->lookfor_photo;
  if (!recursive) scan->lookfor_audio = scan->lookfor_video = scan->lookfor_photo = 0;
  int status = walk_folder(pool, scan, relative, recursive, chain);
  scan->lookfor_audio = audio;
  scan->lookfor_video = video;
  scan->lookfor_photo = photo;
  chain.pop_back();
  if (status != APR_SUCCESS && status != 4) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("Could not successfully scan the folder %s", path));
  }
  return status;
}

int scan_file(apr_pool_t *pool, ScanContext *scan, FolderScan *folder, const apr_finfo_t &info, const char *path,
              const FileLookup *lookup) {
  if (commit_if_due(pool, scan) != APR_SUCCESS) return APR_EGENERAL;
  ScanFile file{apr_pstrdup(pool, path_last_component(path)), info.size, info.mtime};
  const int status = msms_process_file(scan, folder, &file, lookup);
  if (status == 4) return 4;
  if (status != APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("Could not successfully scan the file %s, skipping without rollback...", path));
  }
  return APR_SUCCESS;
}

// False when the entry vanished or is a dangling link.
bool resolve_entry(apr_pool_t *pool, const char *path, apr_finfo_t *info) {
  if ((info->valid & APR_FINFO_TYPE) == 0) return false;
  if (info->filetype != APR_LNK) return true;
  const apr_status_t status = apr_stat(info, path, kWanted, pool);
  return (status == APR_SUCCESS || status == APR_INCOMPLETE) && (info->valid & APR_FINFO_TYPE) != 0;
}

bool plain_file(const apr_finfo_t &info) { return (info.valid & APR_FINFO_TYPE) != 0 && info.filetype == APR_REG; }

// An entry read before its turn: its name copied (the reader reuses its
// buffer), its full path and, for a plain file, its object looked up in a
// pool of its own.
struct Listed {
  apr_finfo_t info;
  const char *path;
  apr_pool_t *pool;  // null: not looked up
  FileLookup lookup;
};

// The folder's entries read ahead, oldest first: up to AHEAD_WINDOW with an
// inspection worker, else one at a time. Entries not done when the folder
// ends give their jobs back.
class Listing {
 public:
  Listing(FolderScan *folder, ScanContext *scan, apr_dir_t *dir, const char *folder_path)
      : folder_(folder), scan_(scan), dir_(dir), folder_path_(folder_path) {}
  ~Listing() {
    while (count_ > 0) pop();
  }
  Listing(const Listing &) = delete;
  Listing &operator=(const Listing &) = delete;

  // Reads ahead, then gives the oldest entry; null at the end of the folder.
  Listed *front() {
    fill();
    return count_ > 0 ? &ring_[first_] : nullptr;
  }

  // The oldest entry's turn is over.
  void pop() {
    Listed &entry = ring_[first_];
    if (entry.lookup.job != nullptr) msms_ahead_release(scan_->ahead, entry.lookup.job);
    if (entry.pool != nullptr) apr_pool_destroy(entry.pool);
    first_ = (first_ + 1) % AHEAD_WINDOW;
    --count_;
  }

 private:
  void fill() {
    const int capacity = scan_->ahead != nullptr ? AHEAD_WINDOW : 1;
    while (!end_ && count_ < capacity && (count_ == 0 || plain_file(ring_[(first_ + count_ - 1) % AHEAD_WINDOW].info))) {
      Listed &entry = ring_[(first_ + count_) % AHEAD_WINDOW];
      end_ = !read(&entry);
      if (end_) return;
      entry.pool = nullptr;
      entry.lookup = FileLookup{};
      if (scan_->ahead != nullptr && plain_file(entry.info)) look_up(&entry);
      ++count_;
    }
  }

  // The next entry but "." and "..", which are only named, never looked at.
  // An entry that vanished before its status was read keeps no type.
  bool read(Listed *entry) {
    apr_finfo_t *info = &entry->info;
    for (;;) {
      const apr_status_t status = apr_dir_read(info, APR_FINFO_NAME, dir_);
      if (status != APR_SUCCESS && status != APR_INCOMPLETE) return false;
      if ((info->valid & APR_FINFO_NAME) == 0 || std::strcmp(info->name, ".") == 0 || std::strcmp(info->name, "..") == 0) {
        continue;
      }
      const char *name = apr_pstrdup(folder_->pool, info->name);
      entry->path = apr_pstrcat(folder_->pool, folder_path_, "/", name, nullptr);
      const apr_status_t stat = apr_stat(info, entry->path, kWanted | APR_FINFO_LINK, folder_->pool);
      if (stat != APR_SUCCESS && stat != APR_INCOMPLETE) info->valid = 0;
      info->name = name;
      return true;
    }
  }

  void look_up(Listed *entry) {
    entry->pool = pool_create_or_die(folder_->pool, MSMS_MODULE);
    const ScanFile file{entry->info.name, entry->info.size, entry->info.mtime};
    msms_look_up_ahead(entry->pool, scan_, folder_, &file, &entry->lookup);
  }

  FolderScan *folder_;
  ScanContext *scan_;
  apr_dir_t *dir_;
  const char *folder_path_;
  Listed ring_[AHEAD_WINDOW];
  int first_ = 0;
  int count_ = 0;
  bool end_ = false;
};

// One directory entry; links are followed to what they point at.
int walk_entry(FolderScan *folder, ScanContext *scan, int recursive, WalkChain &chain, Listed &entry) {
  apr_pool_t *pool = folder->pool;
  apr_finfo_t &info = entry.info;
  const char *name = info.name;
  const char *path = entry.path;
  if (!resolve_entry(pool, path, &info)) {
    LOG4C(MSMS_MODULE, LOG4C_WARN, log4c_sprintf("Could not read %s, skipping...", path));
    return APR_SUCCESS;
  }
  if (info.filetype == APR_DIR) {
    return enter_folder(pool, scan, apr_pstrcat(pool, folder->relative, "/", name, nullptr), recursive, chain, info,
                        path);
  }
  if (info.filetype != APR_REG || info.size <= 0) return APR_SUCCESS;
  return scan_file(pool, scan, folder, info, path, entry.pool != nullptr ? &entry.lookup : nullptr);
}

int walk_entries(FolderScan *folder, ScanContext *scan, int recursive, WalkChain &chain, apr_dir_t *dir,
                 const char *folder_path) {
  Listing listing(folder, scan, dir, folder_path);
  for (;;) {
    if (scan->cancel != nullptr && scan->cancel(scan->cancel_context)) return 4;
    Listed *entry = listing.front();
    if (entry == nullptr) return APR_SUCCESS;
    const int status = walk_entry(folder, scan, recursive, chain, *entry);
    listing.pop();
    if (status != APR_SUCCESS) return status;
  }
}

int walk_folder(apr_pool_t *parent, ScanContext *scan, const char *relative, int recursive, WalkChain &chain) {
  Pool pool(parent, MSMS_MODULE);
  FolderScan folder{pool, relative, apr_hash_make(pool), apr_hash_make(pool)};
  const char *folder_path = apr_pstrcat(pool, scan->root, relative, nullptr);
  if (relative[0] != '\0') folder.relative = true_case(pool, folder_path, relative);
  apr_dir_t *dir = nullptr;
  if (apr_dir_open(&dir, folder_path, pool) != APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_WARN, log4c_sprintf("Could not open folder %s, skipping...", folder_path));
    return APR_SUCCESS;
  }
  msms_prefetch_enter(scan->prefetch, scan->db, path_canonical(pool, folder_path));
  int status = walk_entries(&folder, scan, recursive, chain, dir, folder_path);
  if (status == APR_SUCCESS) pair_subtitles(&folder, scan);
  if (apr_dir_close(dir) != APR_SUCCESS) LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("Could not close folder %s", folder_path));
  return status;
}

}  // namespace

int msms_walk(apr_pool_t *pool, ScanContext *scan, int recursive) {
  WalkChain chain;
  apr_finfo_t info;
  if (apr_stat(&info, scan->root, APR_FINFO_INODE | APR_FINFO_DEV, pool) == APR_SUCCESS) {
    chain.push_back({info.device, info.inode});
  }
  // Without the worker every file is inspected at its turn, as it is then.
  if (msms_ahead_enabled()) msms_ahead_start(pool, &scan->ahead);
  scan->prefetch = msms_prefetch_create(pool, scan->source_oid);
  const int status = walk_folder(pool, scan, "", recursive, chain);
  msms_ahead_stop(scan->ahead);
  scan->ahead = nullptr;
  scan->prefetch = nullptr;
  return status;
}

int msms_scan_single_file(apr_pool_t *pool, ScanContext *scan, const ScanFile *file) {
  Pool folder_pool(pool, MSMS_MODULE);
  FolderScan folder{folder_pool, "", apr_hash_make(folder_pool), apr_hash_make(folder_pool)};
  return msms_process_file(scan, &folder, file, nullptr);
}
