// CommonFileCache: keeps the folders of downloaded and generated files within
// a size budget.
//
// Files in use are locked; releasing one sets its modification time to now,
// so that the time is its last use. The cleanup pass (a timeout callback,
// every CACHE_CLEANUP_INTERVAL) deletes the least recently used unlocked
// files while the folders hold more than the maximum, down to the minimum,
// and tells the observer which files went. The locked set and the deleted set
// have a read-write lock each; any thread may lock and release. The state
// lives in a pool under cache_init's pool until cache_term. Logs on
// "CommonFileCache".
#pragma once

#include <apr_pools.h>
#include <apr_time.h>

inline constexpr int CACHE_FOLDERS_MAX = 5;
inline constexpr apr_interval_time_t CACHE_CLEANUP_INTERVAL = apr_time_from_sec(60);

// Told the paths the last pass deleted (or found gone), once per pass.
using CacheDeletedFn = void (*)(const char *const *paths, int count, void *context);

// Creates the state with the budget in bytes (kept in whole MiB) and adds the
// cleanup pass to the timeouts (ERROR "Could not add cache cleanup timeout"
// when the timeout module is not running; the pass then only runs when
// called). Returns 0, or 20014 after "Could no create mutex" or "Could no
// create cache_deleted_files_hash_and_pool_rwlock mutex".
int cache_init(apr_pool_t *pool, apr_int64_t max_size, apr_int64_t min_size);
// A new budget in bytes.
void cache_set_limits(apr_int64_t max_size, apr_int64_t min_size);
// Registers a cache folder; a sixth one logs the internal-error text and is
// ignored.
void cache_add_folder(const char *path);
// Marks files in use, once per user: the cleanup never deletes a file until
// each of its locks is released.
void cache_lock(const char *const *paths, int count);
// Sets the modification time of each path that exists to now (ERROR "Could
// not set the mtime of the cache file %s" on failure), then unlocks them all.
void cache_release(const char *const *paths, int count);
// Sets (or clears) the deleted-files observer.
void cache_set_observer(CacheDeletedFn observer, void *context);
// The cleanup pass (see above). A file whose deletion fails is left alone
// for the rest of the pass.
void cache_cleanup();
// Removes the pass from the timeouts (ERROR "Could not remove cache cleanup
// timeout") and frees the state.
void cache_term();
