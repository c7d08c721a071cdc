// Start and end of the scan engine: the library lock, the skeleton and the
// views built in one transaction, and the automatic-refresh timeout that
// queues the "autorefresh" background job.
#include "MSMediaScan.h"

#include <apr_errno.h>
#include <apr_file_info.h>
#include <apr_general.h>
#include <apr_strings.h>
#include <apr_thread_rwlock.h>

#include "CommonFiles.h"
#include "CommonScheduler.h"
#include "CommonTime.h"
#include "CommonTimeout.h"
#include "CommonUserMessage.h"
#include "MSConfig.h"
#include "MSMediaScanState.h"
#include "MSMediaScanViews.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kLockFileName = "zentoria.ZentoriaMediaLibLock";
constexpr int kRefreshPriority = 2;
constexpr apr_interval_time_t kMinute = apr_time_from_sec(60);

struct ScanEngine {
  int init_count = 0;
  apr_pool_t *pool = nullptr;
  apr_thread_rwlock_t *lock = nullptr;
  MediaLibraryDB *db = nullptr;
  const char *lock_path = nullptr;
  apr_pool_t *lock_pool = nullptr;  // lives while the library lock is held
  apr_file_t *lock_file = nullptr;
};

ScanEngine g_engine;

int fail(const char *message) {
  LOG4C(MSMS_MODULE, LOG4C_ERROR, message);
  return APR_EGENERAL;
}

// The refresh job gives way whenever the scheduler asks it to.
struct RefreshYield {
  SchedulerShouldYield should_yield;
  int priority;
};

int refresh_cancelled(void *context) {
  auto *yield = static_cast<RefreshYield *>(context);
  return yield->should_yield(yield->priority);
}

int run_refresh(void *, SchedulerShouldYield should_yield, int priority, int) {
  RefreshYield yield{should_yield, priority};
  int added = 0, removed = 0;
  return msms_refresh_all(&added, &removed, refresh_cancelled, &yield);
}

void refresh_due(void *) { scheduler_add_named(kRefreshPriority, "autorefresh", run_refresh, nullptr, nullptr); }

int make_logs_folder(apr_pool_t *pool, const char **lock_path) {
  const MSConfigPaths *paths = msconfig_paths();
  if (paths == nullptr) return fail(INTERNAL_ERROR_TEXT);
  // Owner read and write; on POSIX a folder also needs its search bit to be used.
  apr_status_t status = apr_dir_make_recursive(paths->logs_dir, APR_FPROT_UREAD | APR_FPROT_UWRITE | APR_FPROT_UEXECUTE, pool);
  if (status != APR_SUCCESS && !APR_STATUS_IS_EEXIST(status)) {
    char reason[256];
    LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("Could not create folder for storing logs, reason: %s",
                                                  apr_strerror(status, reason, sizeof reason)));
    return APR_EGENERAL;
  }
  *lock_path = apr_pstrcat(pool, paths->logs_dir, kLockFileName, nullptr);
  return APR_SUCCESS;
}

// Skeleton and views, under the module's write lock; 0 or 20014.
int build_state(apr_pool_t *pool) {
  msms_state_write_lock();
  int status = msms_skeleton_create(pool, g_engine.db);
  if (status == APR_SUCCESS) {
    const MSConfig *config = nullptr;
    status = msconfig_get(&config);
    if (status == APR_SUCCESS) {
      status = msms_views_build(pool, config->views);
      msconfig_release();
    }
  }
  msms_state_unlock();
  return status;
}

// One transaction for the skeleton and the views, under the library lock.
int build_library(apr_pool_t *pool) {
  if (msms_lock_library() != APR_SUCCESS) return APR_EGENERAL;
  if (msdb_medialib_begin(g_engine.db) != APR_SUCCESS) {
    fail("Could not start a transaction on the db");
    msms_unlock_library();
    return APR_EGENERAL;
  }
  int status = build_state(pool);
  if (status == APR_SUCCESS && msdb_medialib_commit(g_engine.db) != APR_SUCCESS) {
    fail("Could not commit the transaction on the db");
    status = APR_EGENERAL;
  }
  if (status != APR_SUCCESS && msdb_medialib_rollback(g_engine.db) != APR_SUCCESS) {
    fail("Could not rollback transaction on the db");
  }
  if (msms_unlock_library() != APR_SUCCESS) status = APR_EGENERAL;
  return status;
}

// A random whole number of minutes in -119..119, so that many servers do
// not refresh at the same moment.
apr_interval_time_t refresh_offset() {
  apr_int32_t random = 0;
  if (apr_generate_random_bytes(reinterpret_cast<unsigned char *>(&random), sizeof random) != APR_SUCCESS) {
    fail("Could not generate a random number");
    random = 0;
  }
  return static_cast<apr_interval_time_t>(random % 120) * 60000000LL;
}

int register_refresh(apr_pool_t *pool, apr_time_t start, apr_interval_time_t interval) {
  const apr_time_t first = start + refresh_offset();
  if (timeout_add(refresh_due, nullptr, first, interval) != APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR,
          log4c_sprintf("Could not create timeout for automatic media library refresh, interval is %" APR_INT64_T_FMT,
                        static_cast<apr_int64_t>(interval)));
    return APR_EGENERAL;
  }
  const char *date = time_rfc822(pool, first);
  if (date == nullptr) {
    LOG4C(MSMS_MODULE, LOG4C_WARN, "could not parse refresh time");
  } else {
    LOG4C(MSMS_MODULE, LOG4C_INFO,
          log4c_sprintf("msms_init: automatic media library refresh time starts at %s, every %d minutes", date,
                        static_cast<int>(interval / kMinute)));
  }
  return APR_SUCCESS;
}

}  // namespace

int msms_init(apr_pool_t *pool, MediaLibraryDB *db, apr_time_t refresh_start, apr_interval_time_t refresh_interval) {
  if (g_engine.init_count++ >= 1) return fail(INTERNAL_ERROR_TEXT);
  msms_skeleton_reset();
  msms_views_reset();
  g_engine.pool = pool;
  g_engine.db = db;
  if (apr_thread_rwlock_create(&g_engine.lock, pool) != APR_SUCCESS) {
    g_engine.lock = nullptr;
    return fail("Could not create mutex");
  }
  if (make_logs_folder(pool, &g_engine.lock_path) != APR_SUCCESS) return APR_EGENERAL;
  if (build_library(pool) != APR_SUCCESS) return APR_EGENERAL;
  return register_refresh(pool, refresh_start, refresh_interval);
}

int msms_terminate() {
  if (g_engine.init_count-- != 1) return fail(INTERNAL_ERROR_TEXT);
  g_engine.lock = nullptr;  // it lives in the pool of msms_init
  g_engine.lock_path = nullptr;
  if (timeout_remove(refresh_due) != APR_SUCCESS) return fail("Could not remove timeout for automatic media library refresh");
  for (int priority = 0; priority < SCHEDULER_PRIORITIES; priority++) {
    if (scheduler_stop(priority) != APR_SUCCESS) return fail("Could not cleanup priority");
  }
  return APR_SUCCESS;
}

MediaLibraryDB *msms_library() { return g_engine.db; }

// The lock's file handle is engine state: threads of this process take it
// under the module's write lock, so a second holder fails at once as a
// second process does.
int msms_lock_library() {
  msms_state_write_lock();
  int status = APR_EGENERAL;
  if (g_engine.lock_path != nullptr && g_engine.lock_file == nullptr) {
    g_engine.lock_pool = pool_create_or_die(g_engine.pool, MSMS_MODULE);
    status = lock_file_acquire(g_engine.lock_pool, g_engine.lock_path, &g_engine.lock_file);
    if (status != APR_SUCCESS) {
      apr_pool_destroy(g_engine.lock_pool);
      g_engine.lock_pool = nullptr;
      g_engine.lock_file = nullptr;
    }
  }
  msms_state_unlock();
  return status == APR_SUCCESS ? APR_SUCCESS : fail("Could not acquire DB modification mutex");
}

int msms_unlock_library() {
  msms_state_write_lock();
  int status = APR_EGENERAL;
  if (g_engine.lock_file != nullptr) {
    status = lock_file_release(g_engine.lock_file);
    apr_pool_destroy(g_engine.lock_pool);
    g_engine.lock_pool = nullptr;
    g_engine.lock_file = nullptr;
  }
  msms_state_unlock();
  return status == APR_SUCCESS ? APR_SUCCESS : fail("Could not unlock DB modification mutex");
}

void msms_state_write_lock() {
  if (g_engine.lock != nullptr) apr_thread_rwlock_wrlock(g_engine.lock);
}

void msms_state_read_lock() {
  if (g_engine.lock != nullptr) apr_thread_rwlock_rdlock(g_engine.lock);
}

void msms_state_unlock() {
  if (g_engine.lock != nullptr) apr_thread_rwlock_unlock(g_engine.lock);
}
