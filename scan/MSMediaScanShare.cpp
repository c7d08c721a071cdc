// Sharing files and folders: recording a source (checked, normalised, typed
// by what the path is) in one admin transaction, and the folder or file
// road's work in the sources module's locked pass of mark and sweep. The web
// playlists its playlist files list are fetched before that pass, so no lock
// is held while a server is waited on.
#include "MSMediaScanShare.h"

#include <apr_file_info.h>
#include <apr_strings.h>

#include <cstring>

#include "CommonPath.h"
#include "CommonText.h"
#include "CommonUrl.h"
#include "CommonUserMessage.h"
#include "MSDB.h"
#include "MSMediaScanContext.h"
#include "MSMediaScanLibrary.h"
#include "MSMediaScanLog.h"
#include "MSMediaScanPrefetch.h"
#include "MSMediaScanTreeRead.h"
#include "MSMediaScanUrl.h"
#include "MSMediaScanWalk.h"
#include "MSStreamProber.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

// 0, or APR_EBADPATH (logged) for anything but an absolute local path.
int check_path(const char *url, const char **user_message) {
  if (msms_source_is_local(url) && !url_has_scheme(url, "file://")) return APR_SUCCESS;
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

struct Recording {
  apr_pool_t *pool;
  MediaLibraryDB *db;
  MediaSource *source;
  const char **user_message;
  RecordFn record;
};

int record_step(void *context) {
  auto *r = static_cast<Recording *>(context);
  return r->record(r->pool, r->db, r->source, r->user_message);
}

// One admin transaction around a record step.
int in_admin_transaction(apr_pool_t *pool, MediaLibraryDB *db, MediaSource *source, const char **user_message,
                         RecordFn record, int done_code) {
  if (db == nullptr) return msms_source_fail(user_message, 0, INTERNAL_ERROR_TEXT);
  Recording recording{pool, db, source, user_message, record};
  if (const int status = msms_source_record(db, user_message, record_step, &recording); status != APR_SUCCESS) return status;
  msms_user_message(user_message, done_code);
  return APR_SUCCESS;
}

struct Refresh {
  const ScanLibrary *library;
  MediaSource source;
  int print;
  int added;
  UrlFetched *fetched;  // the web playlists of the source's playlist files
  TreeListings *listings;  // the folders the walk before the pass listed; null: none
  PrefetchEarly *early;    // the folder's objects looked up beside that walk; null: none
};

// type: what the source's path is now ("file", "folder" or null).
int scan_source_path(apr_pool_t *pool, const MediaSource &source, ScanContext *scan, const char *type) {
  if (type != nullptr && std::strcmp(type, "file") == 0) {
    apr_finfo_t info;
    if (apr_stat(&info, source.url, APR_FINFO_SIZE | APR_FINFO_MTIME, pool) != APR_SUCCESS) {
      return msms_source_fail(nullptr, SOURCE_MSG_NO_FILE, log4c_sprintf("Path %s does not exist for existing media source, skipping...", source.url));
    }
    scan->root = path_canonical(pool, path_dirname(pool, source.url));
    ScanFile file{path_last_component(source.url), info.size, info.mtime};
    int status = msms_scan_single_file(pool, scan, &file);
    if (status != APR_SUCCESS && status != COMMON_CANCELLED) {
      return msms_source_fail(nullptr, SOURCE_MSG_SCAN_FAILED, log4c_sprintf("Could not successfully scan the file %s", source.url));
    }
    return status;
  }
  if (type != nullptr) {
    int status = msms_walk(pool, scan, source.is_recursive);
    if (status != APR_SUCCESS && status != COMMON_CANCELLED) {
      return msms_source_fail(nullptr, SOURCE_MSG_SCAN_FAILED, log4c_sprintf("Could not successfully scan the folder %s", source.url));
    }
    return status;
  }
  return msms_source_fail(nullptr, SOURCE_MSG_WRONG_TYPE, log4c_sprintf("The file path \"%s\" is not pointing to a file or a folder", source.url));
}

// Before the pass: the playlist files the scan will read, noted as its walk
// meets them, and the web playlists they list fetched (copies removed with
// pool), so that the pass waits on no server. The folders that walk lists
// are kept for the pass, unless a server was waited on: listings that old
// are read again. A path that is no file or folder now is left to the pass
// to report. A folder's objects are looked up beside this walk, on a thread
// of their own, for the pass to take if the library is still as it was.
int fetch_playlists(apr_pool_t *pool, Refresh &r, CancelCheck cancel, void *context) {
  const char *type = nullptr;
  if (path_type(pool, r.source.url, &type) != APR_SUCCESS || type == nullptr) return APR_SUCCESS;
  if (std::strcmp(type, "folder") == 0) {
    r.early = msms_prefetch_early_start(pool, r.library->db, r.source.oid, path_canonical(pool, r.source.url));
  }
  // The walk only lists folders, quickly; the cancel check, which callers
  // also take as the pass's steps, is asked by the fetch alone.
  ScanContext scan;
  if (msms_scan_context_init(pool, r.library, &r.source, r.source.url, nullptr, nullptr, &scan) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  scan.playlists_only = true;
  scan.playlists = apr_array_make(pool, 4, sizeof(PlaylistFile));
  scan.fetched = r.fetched = msms_url_fetched_make(pool);
  scan.listings = msms_tree_listings_make(pool);
  const int walked = scan_source_path(pool, r.source, &scan, type);
  // The walk is over: the folders it held open are closed.
  scan.listings->open.reset();
  if (walked != APR_SUCCESS) return walked;
  scan.cancel = cancel;
  scan.cancel_context = context;
  const int status = msms_fetch_playlist_files(pool, &scan);
  r.listings = msms_url_fetched_any(r.fetched) ? nullptr : scan.listings;
  return status;
}

// The folder or file road's work inside the pass: the walk or the one file.
int scan_work(SourcePass *pass) {
  auto &r = *static_cast<Refresh *>(pass->work_context);
  if (check_path(r.source.url, nullptr) != APR_SUCCESS) return APR_EGENERAL;
  const char *type = nullptr;
  if (path_type(pass->pool, r.source.url, &type) != APR_SUCCESS) {
    return msms_source_fail(nullptr, SOURCE_MSG_NO_FILE, log4c_sprintf("Path %s does not exist for existing media source, skipping...", r.source.url));
  }
  ScanContext scan;
  if (msms_scan_context_init(pass->pool, r.library, &r.source, r.source.url, pass->cancel, pass->context, &scan) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  scan.print = r.print;
  scan.fetched = r.fetched;
  scan.listings = r.listings;
  scan.early = r.early;
  const int status = scan_source_path(pass->pool, r.source, &scan, type);
  r.added = msms_scan_created(&scan);
  return status;
}

}  // namespace

int msms_refresh_local(apr_pool_t *pool, const ScanLibrary *library, const MediaSource &source, int full, int print,
                       int *added, int *removed, CancelCheck cancel, void *context) {
  msms_source_announce(pool, source.url, print);
  const apr_time_t start = apr_time_now();
  Pool fetching(pool, MSMS_MODULE);
  Refresh r{library, source, print, 0, nullptr, nullptr, nullptr};
  SourcePass pass{pool, library->db, cancel, context, nullptr, scan_work, &r, source.oid, "files", full, 0, false};
  int status = fetch_playlists(fetching, r, cancel, context);
  if (status == APR_SUCCESS) status = msms_source_pass(&pass);
  // The stream probers the scan started end with it: a server keeps none
  // between its scans.
  stream_prober_close_idle();
  *added = status == APR_SUCCESS ? r.added : 0;
  *removed = status == APR_SUCCESS ? pass.removed : 0;
  if (status == APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_DEBUG,
          log4c_sprintf("Refresh time %f seconds", static_cast<double>(apr_time_now() - start) / APR_USEC_PER_SEC));
  } else if (status != COMMON_CANCELLED && status != APR_EBUSY) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("Could not refresh media source %s", source.url));
  }
  return status;
}

namespace {

// Records request's path: the stored source of that path gets the request's
// name, url and (when given) tags and has its type found again; a path not
// shared yet becomes a new source (*created). *source is the record as stored.
int record_path(apr_pool_t *pool, MediaLibraryDB *db, const MediaSource *request, MediaSource *source,
                bool *created) {
  const char *url = request->url;
  if (url != nullptr && url[0] != '\0' && !msms_source_is_oid(url) && msms_fetch_source(pool, db, url, source) == APR_SUCCESS) {
    source->name = request->name;
    source->url = url;
    if (request->tags != nullptr) source->tags = request->tags;
    source->type = nullptr;
    return in_admin_transaction(pool, db, source, nullptr, record_update, SOURCE_MSG_UPDATED);
  }
  *source = *request;
  if (source->tags == nullptr) source->tags = "";
  *created = true;
  return in_admin_transaction(pool, db, source, nullptr, record_new, SOURCE_MSG_ADDED);
}

}  // namespace

MediaSource *msms_find_media_source(apr_pool_t *pool, const char *url, MediaSource *source) {
  if (url == nullptr || url[0] == '\0' || msms_source_is_oid(url)) return nullptr;
  return msms_fetch_source(pool, msms_library_db(), url, source) == APR_SUCCESS ? source : nullptr;
}

int msms_add_media_source(apr_pool_t *pool, MediaSource *source, const char **user_message) {
  return in_admin_transaction(pool, msms_library_db(), source, user_message, record_new, SOURCE_MSG_ADDED);
}

int msms_update_media_source(apr_pool_t *pool, MediaSource *source, const char **user_message) {
  return in_admin_transaction(pool, msms_library_db(), source, user_message, record_update, SOURCE_MSG_UPDATED);
}

int msms_share_path(apr_pool_t *pool, const MediaSource *request, int scan, int print, int *added, int *removed) {
  *added = 0;
  *removed = 0;
  const ScanLibrary *library = msms_library();
  if (library == nullptr) return msms_source_fail(nullptr, 0, INTERNAL_ERROR_TEXT);
  MediaSource source{};
  bool created = false;
  int status = record_path(pool, library->db, request, &source, &created);
  if (status != APR_SUCCESS || !scan) return status;
  // A new source's media files are all probed: the prober loads ffmpeg while
  // the scan lists the folder.
  if (created) stream_prober_start();
  Pool scan_pool(library->db->pool, MSMS_MODULE);
  return msms_refresh_local(scan_pool, library, source, 1, print, added, removed, nullptr, nullptr) == APR_SUCCESS
             ? APR_SUCCESS
             : APR_EGENERAL;
}
