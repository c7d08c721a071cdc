// Sharing URL and feed sources: the record form checks the url, records or
// rewrites the source in one admin transaction and keeps it only when the
// url can be inspected; the process form fetches and indexes it under the
// library lock in one medialib transaction with mark and sweep.
#include <apr_strings.h>

#include <cstdio>
#include <cstring>

#include "CommonText.h"
#include "CommonUrl.h"
#include "CommonUserMessage.h"
#include "MSDB.h"
#include "MSMediaScanLibrary.h"
#include "MSMediaScanLog.h"
#include "MSMediaScanShare.h"
#include "MSMediaScanUrl.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr struct {
  const char *type;
  int media_class;
} kExpectedClass[] = {
    {"audurl", MEDIA_AUDIO}, {"audfeed", MEDIA_AUDIO}, {"imgurl", MEDIA_IMAGE},
    {"imgfeed", MEDIA_IMAGE}, {"vidurl", MEDIA_VIDEO}, {"vidfeed", MEDIA_VIDEO},
};

struct Share {
  apr_pool_t *outer;  // the caller's pool, for what the request keeps
  apr_pool_t *pool;
  const ScanLibrary *library;
  MediaSource *request;
  int process;
  int is_new;
  int exists;
  int full;
  CancelCheck cancel;
  void *context;
  int *added;
  const char **user_message;
  MediaSource source;  // as stored
  bool marking;
};

// Step 3: the source as stored, recorded or rewritten as the flags ask.
// *go_on is false when the record form has nothing more to do.
int settle_source(Share &s, bool *go_on) {
  MediaLibraryDB *db = s.library->db;
  const char *url = s.request->url;
  *go_on = true;
  int status = msms_fetch_source(s.pool, s.request->oid != nullptr ? s.request->oid : url, &s.source);
  if (status == APR_NOTFOUND && s.request->oid != nullptr) status = msms_fetch_source(s.pool, url, &s.source);
  if (status != APR_SUCCESS && status != APR_NOTFOUND) {
    return msms_source_fail(s.user_message, SOURCE_MSG_NOT_FOUND, "Could not fetch media source by its url from the DB");
  }
  if (status == APR_SUCCESS) {
    if (s.is_new || (s.exists && str_compare(s.source.oid, s.request->oid) != 0)) {
      return msms_source_fail(s.user_message, SOURCE_MSG_EXISTS, log4c_sprintf("URL %s already exists in the media library.", url));
    }
    if (!s.exists) {
      *go_on = s.process != 0;
      return APR_SUCCESS;
    }
    MediaSource update = *s.request;
    update.lookfor_audio = update.lookfor_video = update.lookfor_photo = 0;
    if (update.transcode_when == nullptr) update.transcode_when = "";
    if (update.tags == nullptr) update.tags = "";
    if (msdb_update_media_source(s.pool, db, &update) != APR_SUCCESS) {
      return msms_source_fail(s.user_message, SOURCE_MSG_NOT_UPDATED, log4c_sprintf("Could not update media source entity for %s", url));
    }
    s.source = update;
    return APR_SUCCESS;
  }
  if (!s.is_new) return msms_source_fail(s.user_message, SOURCE_MSG_NOT_FOUND, log4c_sprintf("Media source %s does not exist.", url));
  MediaSource added = *s.request;
  added.oid = nullptr;
  added.lookfor_audio = added.lookfor_video = added.lookfor_photo = 0;
  if (added.transcode_when == nullptr) added.transcode_when = "";
  if (added.tags == nullptr) added.tags = "";
  if (msdb_add_media_source(s.pool, db, &added) != APR_SUCCESS || added.oid == nullptr) {
    return msms_source_fail(s.user_message, SOURCE_MSG_NOT_CREATED, log4c_sprintf("Could not create new media source entity for %s", url));
  }
  s.request->oid = apr_pstrdup(s.outer, added.oid);
  s.source = added;
  return APR_SUCCESS;
}

// Step 5: the URL scan of the stored source.
int scan_url(Share &s, int *created) {
  ScanContext scan;
  if (msms_scan_context_init(s.pool, s.library, &s.source, s.source.url, s.cancel, s.context, &scan) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  scan.lookfor_audio = scan.lookfor_video = scan.lookfor_photo = 1;
  UrlScan url{&scan, s.source.url, s.source.name, msms_url_expected_class(s.source.type), !s.process, 1, 1, 0,
              apr_hash_make(s.pool), 0};
  const int status = msms_process_url(s.pool, &url);
  *created = msms_scan_created(&scan);
  if (status == APR_SUCCESS || status == COMMON_CANCELLED) return status;
  msms_user_message(s.user_message, SOURCE_MSG_SCAN_FAILED);
  return APR_EGENERAL;
}

int record_in_transaction(Share &s) {
  bool go_on = true;
  int status = settle_source(s, &go_on);
  if (status != APR_SUCCESS || !go_on) return status;
  int created = 0;
  return scan_url(s, &created);
}

int process_in_transaction(Share &s) {
  bool go_on = true;
  int status = settle_source(s, &go_on);
  if (status != APR_SUCCESS) return status;
  MediaLibraryDB *db = s.library->db;
  if (msdb_create_marks(s.pool, db) != APR_SUCCESS) {
    return msms_source_fail(s.user_message, SOURCE_MSG_NOT_UPDATED, "Could not start mark");
  }
  s.marking = true;
  if ((status = scan_url(s, s.added)) != APR_SUCCESS) return status;
  int removed = 0, other = 0;
  status = msdb_sweep_source(s.pool, db, s.source.oid, &removed, &other, s.cancel, s.context);
  if (status != APR_SUCCESS) {
    return status == COMMON_CANCELLED ? status : msms_source_fail(s.user_message, SOURCE_MSG_SWEEP_FAILED, "Could not remove the objects of entries that are gone");
  }
  s.marking = false;
  if (msdb_drop_marks(s.pool, db) != APR_SUCCESS) return msms_source_fail(s.user_message, SOURCE_MSG_NOT_UPDATED, "Could not end mark");
  if (!s.full) return APR_SUCCESS;
  status = msdb_delete_source_leaves(s.pool, db, "1", s.cancel, s.context);
  return status == APR_SUCCESS || status == COMMON_CANCELLED ? status : msms_source_fail(s.user_message, SOURCE_MSG_LEAVES_FAILED, "Could not delete empty containers");
}

int record_form(Share &s) {
  MediaLibraryDB *db = s.library->db;
  if (msdb_admin_begin(db) != APR_SUCCESS) {
    return msms_source_fail(s.user_message, SOURCE_MSG_NO_TRANSACTION, "Could not start a transaction on the admin db");
  }
  int status = record_in_transaction(s);
  if (status == APR_SUCCESS && msdb_admin_commit(db) != APR_SUCCESS) {
    status = msms_source_fail(s.user_message, SOURCE_MSG_NO_COMMIT, "Could not commit transaction on the admin db");
  }
  if (status == APR_SUCCESS) return APR_SUCCESS;
  if (msdb_admin_rollback(db) != APR_SUCCESS) LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not rollback transaction on the admin db");
  return status == COMMON_CANCELLED ? status : APR_EGENERAL;
}

// The medialib transaction under the library lock, so that the media server
// never writes the library during the scan.
int process_form(Share &s) {
  MediaLibraryDB *db = s.library->db;
  if (msms_lock_library() != APR_SUCCESS) {
    msms_user_message(s.user_message, SOURCE_MSG_BUSY);
    return APR_EBUSY;
  }
  int status = APR_SUCCESS;
  if (msdb_medialib_begin(db) != APR_SUCCESS) {
    status = msms_source_fail(s.user_message, SOURCE_MSG_NO_TRANSACTION, "Could not start a transaction on the db");
  } else {
    status = process_in_transaction(s);
    if (status == APR_SUCCESS && msdb_medialib_commit(db) != APR_SUCCESS) {
      status = msms_source_fail(s.user_message, SOURCE_MSG_NO_COMMIT, "Could not commit transaction on the db");
    }
    if (status != APR_SUCCESS) {
      *s.added = 0;
      if (msdb_medialib_rollback(db) != APR_SUCCESS) LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not rollback transaction on the db");
      if (s.marking && msdb_drop_marks(s.pool, db) != APR_SUCCESS) LOG4C(MSMS_MODULE, LOG4C_WARN, "Could not end mark");
    }
  }
  if (msms_unlock_library() != APR_SUCCESS && status == APR_SUCCESS) status = APR_EGENERAL;
  return status == APR_SUCCESS || status == COMMON_CANCELLED ? status : APR_EGENERAL;
}

}  // namespace

int msms_url_expected_class(const char *type) {
  for (const auto &row : kExpectedClass) {
    if (type != nullptr && str_icompare(type, row.type) == 0) return row.media_class;
  }
  return 0;
}

int msms_share_url(apr_pool_t *pool, MediaSource *source, int process, int is_new, int exists, int full,
                   CancelCheck cancel, void *context, int *added, const char **user_message) {
  *added = 0;
  const char *url = source != nullptr && source->url != nullptr ? source->url : "";
  if (!url_is_well_formed(url)) {
    msms_source_fail(user_message, SOURCE_MSG_INVALID, "Invalid URL");
    std::printf("Ignoring %s, please use -S to share files or folders\n", url);
    return APR_EGENERAL;
  }
  const ScanLibrary *library = msms_library();
  if (library == nullptr || (process && (is_new || exists))) return msms_source_fail(user_message, 0, INTERNAL_ERROR_TEXT);
  Pool work(pool, MSMS_MODULE);
  Share s{pool, work, library, source, process, is_new, exists, full, cancel, context, added, user_message, {}, false};
  return process ? process_form(s) : record_form(s);
}
