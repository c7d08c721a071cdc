// Start and end of the scan engine: the library record made, its skeleton
// and views built in one transaction under the library lock, and the
// automatic-refresh timeout that queues the "autorefresh" background job.
#include "MSMediaScan.h"

#include <apr_errno.h>
#include <apr_file_info.h>
#include <apr_general.h>
#include <apr_strings.h>

#include "CommonScheduler.h"
#include "CommonTime.h"
#include "CommonTimeout.h"
#include "CommonUserMessage.h"
#include "MSConfig.h"
#include "MSMediaScanLibrary.h"
#include "MSMediaScanLog.h"
#include "MSMediaScanSkeleton.h"
#include "MSMediaScanViews.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr int kRefreshPriority = 2;
constexpr apr_interval_time_t kMinute = apr_time_from_sec(60);

int g_init_count = 0;

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

// Skeleton and views; 0 or 20014.
int build_state(apr_pool_t *pool, ScanLibrary *library) {
  int status = msms_skeleton_create(pool, library);
  if (status == APR_SUCCESS) {
    const MSConfig *config = nullptr;
    status = msconfig_get(&config);
    if (status == APR_SUCCESS) {
      status = msms_views_build(library, config);
      msconfig_release();
    }
  }
  return status;
}

// One transaction for the skeleton and the views, under the library lock.
int build_library(apr_pool_t *pool, ScanLibrary *library) {
  if (msms_lock_library() != APR_SUCCESS) return APR_EGENERAL;
  if (msdb_medialib_begin(library->db) != APR_SUCCESS) {
    log4c_fail(MSMS_MODULE, "Could not start a transaction on the db");
    msms_unlock_library();
    return APR_EGENERAL;
  }
  int status = build_state(pool, library);
  if (status == APR_SUCCESS && msdb_medialib_commit(library->db) != APR_SUCCESS) {
    status = log4c_fail(MSMS_MODULE, "Could not commit the transaction on the db");
  }
  if (status != APR_SUCCESS && msdb_medialib_rollback(library->db) != APR_SUCCESS) {
    log4c_fail(MSMS_MODULE, "Could not rollback transaction on the db");
  }
  if (msms_unlock_library() != APR_SUCCESS) status = APR_EGENERAL;
  return status;
}

// A random whole number of minutes in -119..119, so that many servers do
// not refresh at the same moment.
apr_interval_time_t refresh_offset() {
  apr_int32_t random = 0;
  if (apr_generate_random_bytes(reinterpret_cast<unsigned char *>(&random), sizeof random) != APR_SUCCESS) {
    log4c_fail(MSMS_MODULE, "Could not generate a random number");
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
  if (g_init_count++ >= 1) return log4c_fail(MSMS_MODULE, INTERNAL_ERROR_TEXT);
  ScanLibrary *library = nullptr;
  if (msms_library_open(pool, db, &library) != APR_SUCCESS) return APR_EGENERAL;
  if (build_library(pool, library) != APR_SUCCESS) return APR_EGENERAL;
  return register_refresh(pool, refresh_start, refresh_interval);
}

int msms_terminate() {
  if (g_init_count-- != 1) return log4c_fail(MSMS_MODULE, INTERNAL_ERROR_TEXT);
  msms_library_close();
  if (timeout_remove(refresh_due) != APR_SUCCESS) {
    return log4c_fail(MSMS_MODULE, "Could not remove timeout for automatic media library refresh");
  }
  for (int priority = 0; priority < SCHEDULER_PRIORITIES; priority++) {
    if (scheduler_stop(priority) != APR_SUCCESS) return log4c_fail(MSMS_MODULE, "Could not cleanup priority");
  }
  return APR_SUCCESS;
}
