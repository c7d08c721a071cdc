// Sharing files and folders: recording a source (checked, normalised, typed
// by what the path is) and scanning it under the library lock in one
// medialib transaction with mark and sweep. URL and feed sources are handed
// to msms_share_url.
#include "MSMediaScanShare.h"

#include <apr_file_info.h>
#include <apr_strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "CommonEscape.h"
#include "CommonPath.h"
#include "CommonText.h"
#include "CommonUrl.h"
#include "CommonUserMessage.h"
#include "MSDB.h"
#include "MSMediaScanContext.h"
#include "MSMediaScanLibrary.h"
#include "MSMediaScanLog.h"
#include "MSMediaScanWalk.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {


bool all_digits(const char *text) {
  if (text == nullptr || text[0] == '\0') return false;
  for (const char *c = text; *c != '\0'; ++c) {
    if (!std::isdigit(static_cast<unsigned char>(*c))) return false;
  }
  return true;
}

bool is_local_path(const char *url) { return url != nullptr && path_is_absolute(url) && !url_is_remote(url); }

// 0, or APR_EBADPATH (logged) for anything but an absolute local path.
int check_path(const char *url, const char **user_message) {
  if (is_local_path(url) && !url_has_scheme(url, "file://")) return APR_SUCCESS;
  msms_source_fail(user_message, SOURCE_MSG_INVALID, log4c_sprintf("Invalid pathname \"%s\".", url != nullptr ? url : ""));
  return APR_EBADPATH;
}

// "file", "folder", or null for anything else (and when the path cannot be read).
int path_type(apr_pool_t *pool, const char *path, const char **type) {
  apr_finfo_t info;
  *type = nullptr;
  if (apr_stat(&info, path, APR_FINFO_TYPE, pool) != APR_SUCCESS) return APR_EGENERAL;
  if (info.filetype == APR_REG) *type = "file";
  if (info.filetype == APR_DIR) *type = "folder";
  return APR_SUCCESS;
}

// Checks the requested type against the one found; allow_fs accepts "fs" for either.
// A device, FIFO or socket is no source: reading one never ends or never
// starts, so it is refused before it is recorded.
int settle_type(MediaSource *source, const char *found, bool allow_fs, const char **user_message) {
  if (found == nullptr) {
    return msms_source_fail(user_message, SOURCE_MSG_WRONG_TYPE, log4c_sprintf("The file path \"%s\" is not pointing to a file or a folder", source->url));
  }
  const bool any = source->type == nullptr || source->type[0] == '\0' || (allow_fs && str_icompare(source->type, "fs") == 0);
  if (!any && str_icompare(source->type, found) != 0) {
    return msms_source_fail(user_message, SOURCE_MSG_WRONG_TYPE, log4c_sprintf("Pathname \"%s\" is not a \"%s\".", source->url, source->type));
  }
  source->type = found;
  return APR_SUCCESS;
}

int admin_rollback(MediaLibraryDB *db) {
  if (msdb_admin_rollback(db) != APR_SUCCESS) LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not rollback transaction on the admin db");
  return APR_EGENERAL;
}

int record_new(apr_pool_t *pool, MediaLibraryDB *db, MediaSource *source, const char **user_message) {
  if (const int status = check_path(source->url, user_message); status != APR_SUCCESS) return status;
  const char *url = path_canonical(pool, source->url);
  MediaSource existing{};
  if (msdb_get_media_source_by_url(pool, db, url, &existing) != APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not fetch media source by its url from the DB");
  } else if (existing.oid != nullptr) {
    return msms_source_fail(user_message, SOURCE_MSG_EXISTS, log4c_sprintf("Pathname %s already exists in the media library.", url));
  }
  const char *found = nullptr;
  if (path_type(pool, url, &found) != APR_SUCCESS) {
    return msms_source_fail(user_message, SOURCE_MSG_NO_FILE, log4c_sprintf("Could not find file/folder \"%s\"", url));
  }
  source->url = url;
  if (settle_type(source, found, true, user_message) != APR_SUCCESS) return APR_EGENERAL;
  source->oid = nullptr;
  source->is_public = 0;
  if (source->transcode_when == nullptr) source->transcode_when = "";
  if (msdb_add_media_source(pool, db, source) != APR_SUCCESS || source->oid == nullptr) {
    return msms_source_fail(user_message, SOURCE_MSG_NOT_CREATED, log4c_sprintf("Could not create new media source entity for %s", url));
  }
  return APR_SUCCESS;
}

int record_update(apr_pool_t *pool, MediaLibraryDB *db, MediaSource *source, const char **user_message) {
  if (const int status = check_path(source->url, user_message); status != APR_SUCCESS) return status;
  const char *url = path_canonical(pool, source->url);
  MediaSource existing{};
  if (msdb_get_media_source_by_url(pool, db, url, &existing) == APR_SUCCESS && existing.oid != nullptr &&
      str_compare(existing.oid, source->oid) != 0) {
    return msms_source_fail(user_message, SOURCE_MSG_EXISTS, log4c_sprintf("Pathname %s already exists in the media library.", url));
  }
  MediaSource stored{};
  if (source->oid == nullptr || msdb_get_media_source_by_oid(pool, db, source->oid, &stored) != APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not fetch media source from the DB");
  }
  if (stored.oid == nullptr) return msms_source_fail(user_message, SOURCE_MSG_NOT_FOUND, "Could not find the media source");
  const char *found = nullptr;
  if (path_type(pool, url, &found) != APR_SUCCESS) {
    return msms_source_fail(user_message, SOURCE_MSG_NO_FILE, log4c_sprintf("Path %s does not exist for existing media source, skipping...", url));
  }
  source->url = url;
  if (settle_type(source, found, false, user_message) != APR_SUCCESS) return APR_EGENERAL;
  source->is_public = 0;
  if (source->transcode_when == nullptr) source->transcode_when = "";
  if (msdb_update_media_source(pool, db, source) != APR_SUCCESS) {
    return msms_source_fail(user_message, SOURCE_MSG_NOT_UPDATED, log4c_sprintf("Could not update media source entity for %s", url));
  }
  return APR_SUCCESS;
}

using RecordFn = int (*)(apr_pool_t *, MediaLibraryDB *, MediaSource *, const char **);

// One admin transaction around a record step.
int in_admin_transaction(apr_pool_t *pool, MediaSource *source, const char **user_message, RecordFn record, int done_code) {
  MediaLibraryDB *db = msms_library_db();
  if (db == nullptr) return msms_source_fail(user_message, 0, INTERNAL_ERROR_TEXT);
  if (msdb_admin_begin(db) != APR_SUCCESS) {
    return msms_source_fail(user_message, SOURCE_MSG_NO_TRANSACTION, "Could not start a transaction on the admin db");
  }
  if (const int status = record(pool, db, source, user_message); status != APR_SUCCESS) {
    admin_rollback(db);
    return status;
  }
  if (msdb_admin_commit(db) != APR_SUCCESS) {
    msms_source_fail(user_message, SOURCE_MSG_NO_COMMIT, "Could not commit transaction on the admin db");
    return admin_rollback(db);
  }
  msms_user_message(user_message, done_code);
  return APR_SUCCESS;
}

struct Refresh {
  apr_pool_t *pool;
  const ScanLibrary *library;
  MediaLibraryDB *db;
  MediaSource source;
  int full;
  int print;
  int *added;
  int *removed;
  CancelCheck cancel;
  void *context;
  bool marking;
};

// type: what the source's path is now ("file", "folder" or null).
int scan_source(Refresh &r, ScanContext *scan, const char *type) {
  if (type != nullptr && std::strcmp(type, "file") == 0) {
    apr_finfo_t info;
    if (apr_stat(&info, r.source.url, APR_FINFO_SIZE | APR_FINFO_MTIME, r.pool) != APR_SUCCESS) {
      return msms_source_fail(nullptr, SOURCE_MSG_NO_FILE, log4c_sprintf("Path %s does not exist for existing media source, skipping...", r.source.url));
    }
    scan->root = path_canonical(r.pool, path_dirname(r.pool, r.source.url));
    ScanFile file{path_last_component(r.source.url), info.size, info.mtime};
    int status = msms_scan_single_file(r.pool, scan, &file);
    if (status != APR_SUCCESS && status != COMMON_CANCELLED) {
      return msms_source_fail(nullptr, SOURCE_MSG_SCAN_FAILED, log4c_sprintf("Could not successfully scan the file %s", r.source.url));
    }
    return status;
  }
  if (type != nullptr) {
    int status = msms_walk(r.pool, scan, r.source.is_recursive);
    if (status != APR_SUCCESS && status != COMMON_CANCELLED) {
      return msms_source_fail(nullptr, SOURCE_MSG_SCAN_FAILED, log4c_sprintf("Could not successfully scan the folder %s", r.source.url));
    }
    return status;
  }
  return msms_source_fail(nullptr, SOURCE_MSG_WRONG_TYPE, log4c_sprintf("The file path \"%s\" is not pointing to a file or a folder", r.source.url));
}

// Steps inside the medialib transaction: mark, walk, sweep, drop marks, leaves.
int scan_in_transaction(Refresh &r) {
  if (check_path(r.source.url, nullptr) != APR_SUCCESS) return APR_EGENERAL;
  const char *type = nullptr;
  if (path_type(r.pool, r.source.url, &type) != APR_SUCCESS) {
    return msms_source_fail(nullptr, SOURCE_MSG_NO_FILE, log4c_sprintf("Path %s does not exist for existing media source, skipping...", r.source.url));
  }
  if (msdb_create_marks(r.pool, r.db) != APR_SUCCESS) return msms_source_fail(nullptr, SOURCE_MSG_MARK_FAILED, "Could not start mark");
  r.marking = true;
  ScanContext scan;
  if (msms_scan_context_init(r.pool, r.library, &r.source, r.source.url, r.cancel, r.context, &scan) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  scan.print = r.print;
  int status = scan_source(r, &scan, type);
  if (status != APR_SUCCESS) return status;
  *r.added = msms_scan_created(&scan);
  int other = 0;
  status = msdb_sweep_source(r.pool, r.db, r.source.oid, r.removed, &other, r.cancel, r.context);
  if (status != APR_SUCCESS) return status == COMMON_CANCELLED ? COMMON_CANCELLED : msms_source_fail(nullptr, SOURCE_MSG_SWEEP_FAILED, "Could not remove the objects of files that are gone");
  r.marking = false;
  if (msdb_drop_marks(r.pool, r.db) != APR_SUCCESS) return msms_source_fail(nullptr, SOURCE_MSG_MARK_FAILED, "Could not end mark");
  if (!r.full) return APR_SUCCESS;
  status = msdb_delete_source_leaves(r.pool, r.db, "1", r.cancel, r.context);
  return status == APR_SUCCESS || status == COMMON_CANCELLED ? status : msms_source_fail(nullptr, SOURCE_MSG_LEAVES_FAILED, "Could not delete empty containers");
}

int scan_locked(Refresh &r) {
  *r.added = 0;
  *r.removed = 0;
  if (msdb_medialib_begin(r.db) != APR_SUCCESS) return msms_source_fail(nullptr, SOURCE_MSG_NO_TRANSACTION, "Could not start a transaction on the db");
  int status = scan_in_transaction(r);
  if (status == APR_SUCCESS && msdb_medialib_commit(r.db) != APR_SUCCESS) {
    status = msms_source_fail(nullptr, SOURCE_MSG_NO_COMMIT, "Could not commit transaction on the db");
  }
  if (status == APR_SUCCESS) return APR_SUCCESS;
  *r.added = 0;
  *r.removed = 0;
  if (msdb_medialib_rollback(r.db) != APR_SUCCESS) LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not rollback transaction on the db");
  if (r.marking && msdb_drop_marks(r.pool, r.db) != APR_SUCCESS) LOG4C(MSMS_MODULE, LOG4C_WARN, "Could not end mark");
  return status == COMMON_CANCELLED ? COMMON_CANCELLED : APR_EGENERAL;
}

int refresh_local(Refresh &r) {
  const apr_time_t start = apr_time_now();
  if (msms_lock_library() != APR_SUCCESS) return APR_EBUSY;
  int status = scan_locked(r);
  if (msms_unlock_library() != APR_SUCCESS && status == APR_SUCCESS) status = APR_EGENERAL;
  if (status == APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_DEBUG,
          log4c_sprintf("Refresh time %f seconds", static_cast<double>(apr_time_now() - start) / APR_USEC_PER_SEC));
  }
  return status;
}

// The scan of a source already fetched (texts in pool or longer-lived),
// as msms_refresh_media_source describes it.
int refresh_fetched(apr_pool_t *pool, const ScanLibrary *library, const MediaSource &source, int full, int print,
                    int *added, int *removed, CancelCheck cancel, void *context) {
  Refresh r{pool, library, library->db, source, full, print, added, removed, cancel, context, false};
  if (print) std::printf("\n\nRefreshing %s\n", text_for_terminal(pool, r.source.url));
  LOG4C(MSMS_MODULE, LOG4C_DEBUG, log4c_sprintf("Refreshing Media Source \"%s\"", r.source.url));
  if (!is_local_path(r.source.url)) {
    return msms_share_url(pool, &r.source, 1, 0, 0, full, cancel, context, added, nullptr);
  }
  int status = refresh_local(r);
  if (status != APR_SUCCESS && status != COMMON_CANCELLED && status != APR_EBUSY) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("Could not refresh media source %s", r.source.url));
  }
  return status;
}

// Records request's path: the stored source of that path gets the request's
// name, url and (when given) tags and has its type found again; a path not
// shared yet becomes a new source. *source is the record as stored.
int record_path(apr_pool_t *pool, const MediaSource *request, MediaSource *source) {
  const char *url = request->url;
  if (url != nullptr && url[0] != '\0' && !all_digits(url) && msms_fetch_source(pool, url, source) == APR_SUCCESS) {
    source->name = request->name;
    source->url = url;
    if (request->tags != nullptr) source->tags = request->tags;
    source->type = nullptr;
    return msms_update_media_source(pool, source, nullptr);
  }
  *source = *request;
  if (source->tags == nullptr) source->tags = "";
  return msms_add_media_source(pool, source, nullptr);
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

int msms_fetch_source(apr_pool_t *pool, const char *oid_or_url, MediaSource *source) {
  *source = MediaSource{};
  MediaLibraryDB *db = msms_library_db();
  if (db == nullptr || oid_or_url == nullptr) return APR_EGENERAL;
  if (all_digits(oid_or_url)) {
    if (msdb_get_media_source_by_oid(pool, db, oid_or_url, source) != APR_SUCCESS) return APR_EGENERAL;
  } else {
    const char *url = url_is_remote(oid_or_url) ? oid_or_url : path_canonical(pool, oid_or_url);
    if (msdb_get_media_source_by_url(pool, db, url, source) != APR_SUCCESS) return APR_EGENERAL;
  }
  return source->oid != nullptr ? APR_SUCCESS : APR_NOTFOUND;
}

MediaSource *msms_find_media_source(apr_pool_t *pool, const char *url, MediaSource *source) {
  if (url == nullptr || url[0] == '\0' || all_digits(url)) return nullptr;
  return msms_fetch_source(pool, url, source) == APR_SUCCESS ? source : nullptr;
}

int msms_add_media_source(apr_pool_t *pool, MediaSource *source, const char **user_message) {
  return in_admin_transaction(pool, source, user_message, record_new, SOURCE_MSG_ADDED);
}

int msms_update_media_source(apr_pool_t *pool, MediaSource *source, const char **user_message) {
  return in_admin_transaction(pool, source, user_message, record_update, SOURCE_MSG_UPDATED);
}

int msms_refresh_media_source(const char *source, int full, int print, int *added, int *removed, CancelCheck cancel,
                              void *context) {
  *added = 0;
  *removed = 0;
  const ScanLibrary *library = msms_library();
  if (library == nullptr) return msms_source_fail(nullptr, 0, INTERNAL_ERROR_TEXT);
  Pool pool(library->db->pool, MSMS_MODULE);
  MediaSource fetched{};
  if (msms_fetch_source(pool, source, &fetched) != APR_SUCCESS) return msms_source_fail(nullptr, 0, "Could not fetch media source");
  return refresh_fetched(pool, library, fetched, full, print, added, removed, cancel, context);
}

int msms_share_path(apr_pool_t *pool, const MediaSource *request, int scan, int print, int *added, int *removed) {
  *added = 0;
  *removed = 0;
  const ScanLibrary *library = msms_library();
  if (library == nullptr) return msms_source_fail(nullptr, 0, INTERNAL_ERROR_TEXT);
  MediaSource source{};
  int status = record_path(pool, request, &source);
  if (status != APR_SUCCESS || !scan) return status;
  Pool scan_pool(library->db->pool, MSMS_MODULE);
  return refresh_fetched(scan_pool, library, source, 1, print, added, removed, nullptr, nullptr) == APR_SUCCESS
             ? APR_SUCCESS
             : APR_EGENERAL;
}
