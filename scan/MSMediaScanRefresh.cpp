// The operations on recorded sources: the refresh of one, handed to the
// folder and file road or the URL road; refresh all in the library's order,
// unshare with its objects deleted in one transaction before the source row,
// and the listing of urls.
#include <apr_strings.h>

#include <cstdio>
#include <cstring>

#include "CommonEscape.h"
#include "CommonUserMessage.h"
#include "MSDB.h"
#include "MSMediaScanLibrary.h"
#include "MSMediaScanLog.h"
#include "MSMediaScanShare.h"
#include "MSMediaScanSources.h"
#include "MSMediaScanUrl.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr int kAdminAttempts = 11;
constexpr apr_interval_time_t kAdminRetryWait = apr_time_from_msec(500);

// One source of refresh-all; false when the walk over sources must stop. A
// source that could not be refreshed is named on the console and fails the
// run (*status 20014) while the others are still refreshed.
bool refresh_one(apr_pool_t *pool, const char *url, int *added, int *removed, CancelCheck cancel, void *context,
                 int *status) {
  if (cancel_requested(cancel, context)) {
    *status = COMMON_CANCELLED;
    return false;
  }
  int source_added = 0, source_removed = 0;
  const int result = msms_refresh_media_source(url, 0, 1, &source_added, &source_removed, cancel, context);
  if (result == APR_SUCCESS) {
    *added += source_added;
    *removed += source_removed;
  } else if (result == COMMON_CANCELLED) {
    *status = COMMON_CANCELLED;
    return false;
  } else {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("Failed to refresh %s, skipping...", url));
    std::printf("\nCould not refresh %s\n", text_for_terminal(pool, url));
    *status = APR_EGENERAL;
  }
  return true;
}

// Deletes the source's objects and the containers left empty, in one transaction.
int delete_objects(apr_pool_t *pool, MediaLibraryDB *db, const char *oid, int full, const char **user_message,
                   CancelCheck cancel, void *context) {
  if (msdb_medialib_begin(db) != APR_SUCCESS) {
    return msms_source_fail(user_message, SOURCE_MSG_NO_TRANSACTION, "Could not start a transaction on the db");
  }
  int status = msdb_delete_source_objects(pool, db, oid, cancel, context);
  if (status != APR_SUCCESS && status != COMMON_CANCELLED) status = msms_source_fail(user_message, SOURCE_MSG_NOT_DELETED, "Could not delete the media source objects");
  if (status == APR_SUCCESS && full) {
    status = msdb_delete_source_leaves(pool, db, "1", cancel, context);
    if (status != APR_SUCCESS && status != COMMON_CANCELLED) status = msms_source_fail(user_message, SOURCE_MSG_LEAVES_FAILED, "Could not delete empty containers");
  }
  if (status == APR_SUCCESS && msdb_medialib_commit(db) != APR_SUCCESS) {
    status = msms_source_fail(user_message, SOURCE_MSG_NO_COMMIT, "Could not commit transaction on the db");
  }
  if (status == APR_SUCCESS) return APR_SUCCESS;
  if (status == COMMON_CANCELLED) LOG4C(MSMS_MODULE, LOG4C_DEBUG, "Deletion aborted due to interruption");
  if (msdb_medialib_rollback(db) != APR_SUCCESS) LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not rollback transaction on the db");
  return status;
}

// The source row goes last, retried while another process holds the admin db.
int delete_row(apr_pool_t *pool, MediaLibraryDB *db, const char *oid, const char **user_message) {
  for (int attempt = 0;; ++attempt) {
    if (msdb_admin_begin(db) != APR_SUCCESS) {
      return msms_source_fail(user_message, SOURCE_MSG_NO_TRANSACTION, "Could not start a transaction on the admin db");
    }
    if (msdb_delete_media_source(pool, db, oid) == APR_SUCCESS) {
      if (msdb_admin_commit(db) == APR_SUCCESS) return APR_SUCCESS;
      msms_source_fail(user_message, SOURCE_MSG_NO_COMMIT, "Could not commit transaction on the admin db");
      if (msdb_admin_rollback(db) != APR_SUCCESS) LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not rollback transaction on the admin db");
      return APR_EGENERAL;
    }
    if (msdb_admin_rollback(db) != APR_SUCCESS) LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not rollback transaction on the admin db");
    if (attempt + 1 >= kAdminAttempts) return msms_source_fail(user_message, SOURCE_MSG_NOT_DELETED, "Could not delete the media source");
    apr_sleep(kAdminRetryWait);
  }
}

// Finds the source to unshare; logs as the lookup by oid or by url requires.
int find_for_removal(apr_pool_t *pool, MediaLibraryDB *db, const char *source, MediaSource *found,
                     const char **user_message) {
  if (source == nullptr || source[0] == '\0') return msms_source_fail(user_message, SOURCE_MSG_INVALID, "Invalid media source url");
  const int status = msms_fetch_source(pool, db, source, found);
  if (status == APR_SUCCESS) return APR_SUCCESS;
  const bool by_oid = msms_source_is_oid(source);
  if (status != APR_NOTFOUND) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR,
          by_oid ? "Could not fetch media source from the DB" : "Could not fetch media source by its url from the DB");
  }
  return msms_source_fail(user_message, SOURCE_MSG_NOT_FOUND, "Could not find the media source", by_oid ? LOG4C_ERROR : LOG4C_WARN);
}

}  // namespace

int msms_refresh_media_source(const char *source, int full, int print, int *added, int *removed, CancelCheck cancel,
                              void *context) {
  *added = 0;
  *removed = 0;
  const ScanLibrary *library = msms_library();
  if (library == nullptr) return msms_source_fail(nullptr, 0, INTERNAL_ERROR_TEXT);
  Pool pool(library->db->pool, MSMS_MODULE);
  MediaSource fetched{};
  if (msms_fetch_source(pool, library->db, source, &fetched) != APR_SUCCESS) {
    return msms_source_fail(nullptr, 0, "Could not fetch media source");
  }
  if (msms_source_is_local(fetched.url)) {
    return msms_refresh_local(pool, library, fetched, full, print, added, removed, cancel, context);
  }
  return msms_refresh_url(pool, library, &fetched, full, print, added, cancel, context);
}

int msms_refresh_all(int *added, int *removed, CancelCheck cancel, void *context) {
  *added = 0;
  *removed = 0;
  MediaLibraryDB *db = msms_library_db();
  if (db == nullptr) return msms_source_fail(nullptr, 0, INTERNAL_ERROR_TEXT);
  const apr_time_t start = apr_time_now();
  Pool pool(db->pool, MSMS_MODULE);
  DbCursor *cursor = nullptr;
  const char *url = nullptr;
  if (msdb_source_urls(pool, db, &cursor, &url) != APR_SUCCESS) return msms_source_fail(nullptr, 0, "Could not get first media source");
  int status = APR_SUCCESS;
  while (url != nullptr && refresh_one(pool, url, added, removed, cancel, context, &status)) {
    if (msdb_cursor_next(pool, db, cursor, &url) != APR_SUCCESS) return msms_source_fail(nullptr, 0, "Could not get next media source");
  }
  if (status == COMMON_CANCELLED) return COMMON_CANCELLED;
  // The containers the refreshes left empty, in one pass without marks.
  SourcePass leaves{pool, db, cancel, context, nullptr, nullptr, nullptr, nullptr, nullptr, 1, 0, false};
  const int tidied = msms_source_pass(&leaves);
  if (tidied == COMMON_CANCELLED) return COMMON_CANCELLED;
  if (tidied != APR_SUCCESS) return APR_EGENERAL;
  LOG4C(MSMS_MODULE, LOG4C_DEBUG,
        log4c_sprintf("Refesh all time %f seconds", static_cast<double>(apr_time_now() - start) / APR_USEC_PER_SEC));
  return status;
}

int msms_remove_media_source(apr_pool_t *pool, const char *source, int full, const char **user_message,
                             CancelCheck cancel, void *context) {
  MediaLibraryDB *db = msms_library_db();
  if (db == nullptr) return msms_source_fail(user_message, 0, INTERNAL_ERROR_TEXT);
  if (msms_lock_library() != APR_SUCCESS) {
    msms_user_message(user_message, SOURCE_MSG_BUSY);
    return APR_EGENERAL;
  }
  Pool work(pool, MSMS_MODULE);
  MediaSource found{};
  int status = find_for_removal(work, db, source, &found, user_message);
  if (status == APR_SUCCESS) status = delete_objects(work, db, found.oid, full, user_message, cancel, context);
  if (msms_unlock_library() != APR_SUCCESS && status == APR_SUCCESS) status = APR_EGENERAL;
  if (status != APR_SUCCESS) return status == COMMON_CANCELLED ? COMMON_CANCELLED : APR_EGENERAL;
  return delete_row(work, db, found.oid, user_message);
}

int msms_list_media_sources() {
  MediaLibraryDB *db = msms_library_db();
  if (db == nullptr) return msms_source_fail(nullptr, 0, INTERNAL_ERROR_TEXT);
  Pool pool(db->pool, MSMS_MODULE);
  DbCursor *cursor = nullptr;
  const char *url = nullptr;
  if (msdb_source_urls(pool, db, &cursor, &url) != APR_SUCCESS) return msms_source_fail(nullptr, 0, "Could not get first media source");
  while (url != nullptr) {
    std::printf("%s\n", text_for_terminal(pool, url));
    if (msdb_cursor_next(pool, db, cursor, &url) != APR_SUCCESS) return msms_source_fail(nullptr, 0, "Could not get next media source");
  }
  return APR_SUCCESS;
}
