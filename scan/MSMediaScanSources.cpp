// The source record, its user messages, the admin transaction of a record
// step and the one locked pass of mark, work, sweep and tidy every road runs.
#include "MSMediaScanSources.h"

#include <cctype>
#include <cstdio>

#include "CommonEscape.h"
#include "CommonPath.h"
#include "CommonUserMessage.h"
#include "MSDB.h"
#include "MSMediaScanLog.h"
#include "log4c.h"

namespace {

// Steps inside the medialib transaction.
int pass_in_transaction(SourcePass *p) {
  if (p->work != nullptr) {
    if (msdb_create_marks(p->pool, p->db) != APR_SUCCESS) {
      return msms_source_fail(p->user_message, SOURCE_MSG_MARK_FAILED, "Could not start mark");
    }
    p->marking = true;
    if (const int status = p->work(p); status != APR_SUCCESS) return status;
    int other = 0;
    const int status = msdb_sweep_source(p->pool, p->db, p->source_oid, &p->removed, &other, p->cancel, p->context);
    if (status != APR_SUCCESS) {
      return status == COMMON_CANCELLED
                 ? status
                 : msms_source_fail(p->user_message, SOURCE_MSG_SWEEP_FAILED,
                                    log4c_sprintf("Could not remove the objects of %s that are gone", p->swept));
    }
    p->marking = false;
    if (msdb_drop_marks(p->pool, p->db) != APR_SUCCESS) {
      return msms_source_fail(p->user_message, SOURCE_MSG_MARK_FAILED, "Could not end mark");
    }
  }
  if (!p->full) return APR_SUCCESS;
  const int status = msdb_delete_source_leaves(p->pool, p->db, "1", p->cancel, p->context);
  return status == APR_SUCCESS || status == COMMON_CANCELLED
             ? status
             : msms_source_fail(p->user_message, SOURCE_MSG_LEAVES_FAILED, "Could not delete empty containers");
}

int pass_locked(SourcePass *p) {
  if (msdb_medialib_begin(p->db) != APR_SUCCESS) {
    return msms_source_fail(p->user_message, SOURCE_MSG_NO_TRANSACTION, "Could not start a transaction on the db");
  }
  int status = pass_in_transaction(p);
  if (status == APR_SUCCESS && msdb_medialib_commit(p->db) != APR_SUCCESS) {
    status = msms_source_fail(p->user_message, SOURCE_MSG_NO_COMMIT, "Could not commit transaction on the db");
  }
  if (status == APR_SUCCESS) return APR_SUCCESS;
  p->removed = 0;
  if (msdb_medialib_rollback(p->db) != APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not rollback transaction on the db");
  }
  if (p->marking && msdb_drop_marks(p->pool, p->db) != APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_WARN, "Could not end mark");
  }
  return status == COMMON_CANCELLED ? COMMON_CANCELLED : APR_EGENERAL;
}

}  // namespace

void msms_user_message(const char **out, int code) {
  if (out != nullptr && code != 0) *out = user_message_current(code);
}

int msms_source_fail(const char **user_message, int code, const char *message, int level) {
  LOG4C(MSMS_MODULE, level, message);
  msms_user_message(user_message, code);
  return APR_EGENERAL;
}

bool msms_source_is_oid(const char *text) {
  if (text == nullptr || text[0] == '\0') return false;
  for (const char *c = text; *c != '\0'; ++c) {
    if (!std::isdigit(static_cast<unsigned char>(*c))) return false;
  }
  return true;
}

bool msms_source_is_local(const char *url) { return url != nullptr && path_is_absolute(url) && !url_is_remote(url); }

int msms_fetch_source(apr_pool_t *pool, MediaLibraryDB *db, const char *oid_or_url, MediaSource *source) {
  *source = MediaSource{};
  if (db == nullptr || oid_or_url == nullptr) return APR_EGENERAL;
  if (msms_source_is_oid(oid_or_url)) {
    if (msdb_get_media_source_by_oid(pool, db, oid_or_url, source) != APR_SUCCESS) return APR_EGENERAL;
  } else {
    const char *url = url_is_remote(oid_or_url) ? oid_or_url : path_canonical(pool, oid_or_url);
    if (msdb_get_media_source_by_url(pool, db, url, source) != APR_SUCCESS) return APR_EGENERAL;
  }
  return source->oid != nullptr ? APR_SUCCESS : APR_NOTFOUND;
}

void msms_source_announce(apr_pool_t *pool, const char *url, int print) {
  if (print) std::printf("\n\nRefreshing %s\n", text_for_terminal(pool, url));
  LOG4C(MSMS_MODULE, LOG4C_DEBUG, log4c_sprintf("Refreshing Media Source \"%s\"", url));
}

int msms_source_record(MediaLibraryDB *db, const char **user_message, SourceRecordStep step, void *context) {
  if (msdb_admin_begin(db) != APR_SUCCESS) {
    return msms_source_fail(user_message, SOURCE_MSG_NO_TRANSACTION, "Could not start a transaction on the admin db");
  }
  int status = step(context);
  if (status == APR_SUCCESS && msdb_admin_commit(db) != APR_SUCCESS) {
    status = msms_source_fail(user_message, SOURCE_MSG_NO_COMMIT, "Could not commit transaction on the admin db");
  }
  if (status != APR_SUCCESS && msdb_admin_rollback(db) != APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not rollback transaction on the admin db");
  }
  return status;
}

int msms_source_pass(SourcePass *pass) {
  pass->removed = 0;
  pass->marking = false;
  if (msms_lock_library() != APR_SUCCESS) {
    msms_user_message(pass->user_message, SOURCE_MSG_BUSY);
    return APR_EBUSY;
  }
  msdb_medialib_cache_reset(pass->db);
  // A library's first items go in faster without the indexes no pass reads,
  // made once at the end; a pass that stops early leaves them to the next
  // connection that opens the library.
  bool deferred = false;
  msdb_medialib_defer_indexes(pass->db, &deferred);
  int status = pass_locked(pass);
  // The pages a large pass kept go; a server's refresh thread lives on.
  msdb_medialib_cache_reset(pass->db);
  if (deferred) msdb_medialib_build_indexes(pass->db);
  if (msms_unlock_library() != APR_SUCCESS && status == APR_SUCCESS) status = APR_EGENERAL;
  return status;
}
