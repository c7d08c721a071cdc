// The file cache: its budget, its locked and deleted sets, and the cleanup
// pass that deletes least recently used files.
#include "CommonFileCache.h"

#include <apr_atomic.h>
#include <apr_file_info.h>
#include <apr_file_io.h>
#include <apr_strings.h>
#include <apr_thread_rwlock.h>

#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "CommonFiles.h"
#include "CommonTimeout.h"
#include "CommonUserMessage.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "CommonFileCache";
constexpr apr_int64_t kMebibyte = 1048576;

struct CacheState {
  apr_pool_t *pool = nullptr;
  std::mutex folders_mutex;
  std::vector<std::string> folders;
  volatile apr_uint32_t max_mib = 0;
  volatile apr_uint32_t min_mib = 0;
  apr_thread_rwlock_t *locked_lock = nullptr;
  // Each locked path with the number of its users: a file two streams use
  // stays locked until both have released it.
  std::unordered_map<std::string, int> locked;
  apr_thread_rwlock_t *deleted_lock = nullptr;
  std::unordered_set<std::string> deleted;
  CacheDeletedFn observer = nullptr;
  void *observer_context = nullptr;
  bool timed = false;
};
CacheState g_cache;

apr_uint32_t to_mib(apr_int64_t bytes) { return static_cast<apr_uint32_t>(bytes > 0 ? bytes / kMebibyte : 0); }

bool is_locked(const std::string &path) {
  if (g_cache.locked_lock == nullptr) return false;
  apr_thread_rwlock_rdlock(g_cache.locked_lock);
  bool locked = g_cache.locked.count(path) > 0;
  apr_thread_rwlock_unlock(g_cache.locked_lock);
  return locked;
}

void note_deleted(const std::string &path) {
  apr_thread_rwlock_wrlock(g_cache.deleted_lock);
  g_cache.deleted.insert(path);
  apr_thread_rwlock_unlock(g_cache.deleted_lock);
}

struct Candidate {
  std::string path;
  apr_int64_t size = 0;
  apr_time_t mtime = 0;
};

// Visits the regular files under folder, sub-folders included.
template <typename Visit>
void walk(apr_pool_t *pool, const std::string &folder, Visit &&visit) {
  apr_dir_t *dir = nullptr;
  if (apr_dir_open(&dir, folder.c_str(), pool) != APR_SUCCESS) return;
  apr_finfo_t entry;
  while (apr_dir_read(&entry, APR_FINFO_TYPE | APR_FINFO_NAME | APR_FINFO_SIZE | APR_FINFO_MTIME, dir) ==
         APR_SUCCESS) {
    std::string name = entry.name;
    if (name == "." || name == "..") continue;
    std::string path = folder + "/" + name;
    if (entry.filetype == APR_DIR) walk(pool, path, visit);
    if (entry.filetype == APR_REG) visit(path, entry);
  }
  apr_dir_close(dir);
}

std::vector<std::string> folders_now() {
  std::lock_guard<std::mutex> lock(g_cache.folders_mutex);
  return g_cache.folders;
}

// The oldest unlocked file not in skipped; false when there is none.
bool find_candidate(const std::unordered_set<std::string> &skipped, Candidate *found) {
  Pool pool(nullptr, kModule);
  bool any = false;
  for (const std::string &folder : folders_now())
    walk(pool, folder, [&](const std::string &path, const apr_finfo_t &info) {
      if (skipped.count(path) > 0 || is_locked(path)) return;
      if (any && info.mtime >= found->mtime) return;
      *found = Candidate{path, info.size, info.mtime};
      any = true;
    });
  if (any)
    LOG4C(kModule, LOG4C_DEBUG,
          log4c_sprintf("found delete candidate %s, size %" APR_INT64_T_FMT, found->path.c_str(), found->size));
  else
    LOG4C(kModule, LOG4C_DEBUG, "could not find a delete candidate");
  return any;
}

// 1 when the file was deleted, else 0. The locked set's read lock is held
// from the check to the removal, so that a file locked meanwhile survives.
int delete_file(const std::string &path) {
  apr_thread_rwlock_rdlock(g_cache.locked_lock);
  bool locked = g_cache.locked.count(path) > 0;
  apr_status_t status = APR_SUCCESS;
  if (!locked) {
    Pool pool(nullptr, kModule);
    status = apr_file_remove(path.c_str(), pool);
  }
  apr_thread_rwlock_unlock(g_cache.locked_lock);
  if (locked) {
    LOG4C(kModule, LOG4C_DEBUG, log4c_sprintf("could not delete file because it is locked: %s", path.c_str()));
    return 0;
  }
  if (status == APR_SUCCESS) {
    note_deleted(path);
    LOG4C(kModule, LOG4C_DEBUG, log4c_sprintf("added %s to deleted hash", path.c_str()));
    return 1;
  }
  if (APR_STATUS_IS_ENOENT(status)) {
    note_deleted(path);
    LOG4C(kModule, LOG4C_DEBUG,
          log4c_sprintf("cache file not found, but added to delete list - cache file %s", path.c_str()));
    return 0;
  }
  LOG4C(kModule, LOG4C_WARN, log4c_sprintf("Could not delete cache file %s", path.c_str()));
  return 0;
}

apr_int64_t total_size() {
  apr_int64_t total = 0;
  for (const std::string &folder : folders_now()) total += path_size(folder.c_str(), 1);
  return total;
}

void hand_over_deleted() {
  apr_thread_rwlock_wrlock(g_cache.deleted_lock);
  std::vector<const char *> paths;
  for (const std::string &path : g_cache.deleted) paths.push_back(path.c_str());
  if (g_cache.observer != nullptr && !paths.empty())
    g_cache.observer(paths.data(), static_cast<int>(paths.size()), g_cache.observer_context);
  g_cache.deleted.clear();
  apr_thread_rwlock_unlock(g_cache.deleted_lock);
}

void cleanup_timeout(void *) { cache_cleanup(); }

}  // namespace

int cache_init(apr_pool_t *pool, apr_int64_t max_size, apr_int64_t min_size) {
  g_cache.pool = pool_create_or_die(pool, kModule);
  if (apr_thread_rwlock_create(&g_cache.locked_lock, g_cache.pool) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Could no create mutex");
    return APR_EGENERAL;
  }
  if (apr_thread_rwlock_create(&g_cache.deleted_lock, g_cache.pool) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Could no create cache_deleted_files_hash_and_pool_rwlock mutex");
    return APR_EGENERAL;
  }
  cache_set_limits(max_size, min_size);
  g_cache.timed = timeout_add(cleanup_timeout, nullptr, apr_time_now() + CACHE_CLEANUP_INTERVAL,
                              CACHE_CLEANUP_INTERVAL) == APR_SUCCESS;
  if (!g_cache.timed) LOG4C(kModule, LOG4C_ERROR, "Could not add cache cleanup timeout");
  return APR_SUCCESS;
}

void cache_set_limits(apr_int64_t max_size, apr_int64_t min_size) {
  apr_atomic_xchg32(&g_cache.max_mib, to_mib(max_size));
  apr_atomic_xchg32(&g_cache.min_mib, to_mib(min_size));
}

void cache_add_folder(const char *path) {
  std::lock_guard<std::mutex> lock(g_cache.folders_mutex);
  if (g_cache.folders.size() >= CACHE_FOLDERS_MAX) {
    LOG4C(kModule, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return;
  }
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  g_cache.folders.push_back(folder);
}

void cache_lock(const char *const *paths, int count) {
  apr_thread_rwlock_wrlock(g_cache.locked_lock);
  for (int i = 0; i < count; ++i)
    if (paths[i] != nullptr) ++g_cache.locked[paths[i]];
  apr_thread_rwlock_unlock(g_cache.locked_lock);
}

void cache_release(const char *const *paths, int count) {
  Pool pool(nullptr, kModule);
  apr_time_t now = apr_time_now();
  for (int i = 0; i < count; ++i) {
    if (paths[i] == nullptr || !file_exists(paths[i])) continue;
    if (apr_file_mtime_set(paths[i], now, pool) != APR_SUCCESS)
      LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("Could not set the mtime of the cache file %s", paths[i]));
  }
  apr_thread_rwlock_wrlock(g_cache.locked_lock);
  for (int i = 0; i < count; ++i) {
    if (paths[i] == nullptr) continue;
    auto found = g_cache.locked.find(paths[i]);
    if (found != g_cache.locked.end() && --found->second == 0) g_cache.locked.erase(found);
  }
  apr_thread_rwlock_unlock(g_cache.locked_lock);
}

void cache_set_observer(CacheDeletedFn observer, void *context) {
  apr_thread_rwlock_wrlock(g_cache.deleted_lock);
  g_cache.observer = observer;
  g_cache.observer_context = context;
  apr_thread_rwlock_unlock(g_cache.deleted_lock);
}

void cache_cleanup() {
  apr_int64_t max = static_cast<apr_int64_t>(apr_atomic_read32(&g_cache.max_mib)) * kMebibyte;
  apr_int64_t min = static_cast<apr_int64_t>(apr_atomic_read32(&g_cache.min_mib)) * kMebibyte;
  apr_int64_t initial = total_size();
  apr_int64_t total = initial;
  LOG4C(kModule, LOG4C_DEBUG,
        log4c_sprintf("trying to clean cache. Cache size: %" APR_INT64_T_FMT ", max size: %" APR_INT64_T_FMT
                      ", min size: %" APR_INT64_T_FMT,
                      total, max, min));
  // A file that cannot be deleted would otherwise be found again and again.
  std::unordered_set<std::string> failed;
  if (total > max) {
    Candidate candidate;
    while (total > min && find_candidate(failed, &candidate)) {
      if (delete_file(candidate.path) == 1) {
        total -= candidate.size;
        LOG4C(kModule, LOG4C_DEBUG,
              log4c_sprintf("Deleted %s (size %" APR_INT64_T_FMT ") from cache, new cache size is %" APR_INT64_T_FMT,
                            candidate.path.c_str(), candidate.size, total));
      } else {
        LOG4C(kModule, LOG4C_DEBUG, log4c_sprintf("could not delete from cache - %s", candidate.path.c_str()));
        failed.insert(candidate.path);
      }
    }
  }
  LOG4C(kModule, LOG4C_DEBUG,
        log4c_sprintf("cache cleanup result: Cache size: %" APR_INT64_T_FMT ", inital size: %" APR_INT64_T_FMT, total,
                      initial));
  hand_over_deleted();
}

void cache_term() {
  if (g_cache.pool == nullptr) return;
  if (g_cache.timed && timeout_remove(cleanup_timeout) != APR_SUCCESS)
    LOG4C(kModule, LOG4C_ERROR, "Could not remove cache cleanup timeout");
  g_cache.timed = false;
  {
    std::lock_guard<std::mutex> lock(g_cache.folders_mutex);
    g_cache.folders.clear();
  }
  g_cache.locked.clear();
  g_cache.deleted.clear();
  g_cache.observer = nullptr;
  apr_pool_destroy(g_cache.pool);
  g_cache.pool = nullptr;
  g_cache.locked_lock = nullptr;
  g_cache.deleted_lock = nullptr;
}
