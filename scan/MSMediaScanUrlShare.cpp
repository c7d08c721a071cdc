// Sharing URL and feed sources: recording inspects the url and, when it can
// be inspected, records or rewrites the source in one admin transaction;
// processing fetches what the url needs before the library is locked, then
// indexes it from what was fetched as the URL road's work in the sources
// module's locked pass of mark and sweep. No transaction and no lock is
// held while a server is waited on.
#include <apr_strings.h>

#include <cstdio>
#include <cstring>

#include "CommonText.h"
#include "CommonUrl.h"
#include "CommonUserMessage.h"
#include "MSDB.h"
#include "MSMediaScanLibrary.h"
#include "MSMediaScanLog.h"
#include "MSMediaScanSources.h"
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
  bool process;
  CancelCheck cancel;
  void *context;
  const char **user_message;
  MediaSource source;  // as stored
  int created;
  UrlFetched *fetched;  // processing: what was fetched before the pass
};

// The request with what every recorded URL source gets: no media kinds of
// its own, and "" for the texts left out.
MediaSource as_recorded(const MediaSource &request) {
  MediaSource source = request;
  source.lookfor_audio = source.lookfor_video = source.lookfor_photo = 0;
  if (source.transcode_when == nullptr) source.transcode_when = "";
  if (source.tags == nullptr) source.tags = "";
  return source;
}

// The source as stored (s.source). Recording adds the url as a new source,
// or rewrites the source of that url (or of the request's oid); processing
// only finds it.
int settle_source(Share &s) {
  MediaLibraryDB *db = s.library->db;
  const char *url = s.request->url;
  int status = msms_fetch_source(s.pool, db, s.request->oid != nullptr ? s.request->oid : url, &s.source);
  if (status == APR_NOTFOUND && s.request->oid != nullptr) status = msms_fetch_source(s.pool, db, url, &s.source);
  if (status != APR_SUCCESS && status != APR_NOTFOUND) {
    return msms_source_fail(s.user_message, SOURCE_MSG_NOT_FOUND, "Could not fetch media source by its url from the DB");
  }
  if (status == APR_SUCCESS && s.process) return APR_SUCCESS;
  if (status == APR_SUCCESS) {
    if (s.request->oid != nullptr && str_compare(s.source.oid, s.request->oid) != 0) {
      return msms_source_fail(s.user_message, SOURCE_MSG_EXISTS, log4c_sprintf("URL %s already exists in the media library.", url));
    }
    MediaSource update = as_recorded(*s.request);
    update.oid = s.source.oid;
    if (msdb_update_media_source(s.pool, db, &update) != APR_SUCCESS) {
      return msms_source_fail(s.user_message, SOURCE_MSG_NOT_UPDATED, log4c_sprintf("Could not update media source entity for %s", url));
    }
    s.source = update;
    return APR_SUCCESS;
  }
  if (s.process || s.request->oid != nullptr) {
    return msms_source_fail(s.user_message, SOURCE_MSG_NOT_FOUND, log4c_sprintf("Media source %s does not exist.", url));
  }
  MediaSource added = as_recorded(*s.request);
  added.oid = nullptr;
  if (msdb_add_media_source(s.pool, db, &added) != APR_SUCCESS || added.oid == nullptr) {
    return msms_source_fail(s.user_message, SOURCE_MSG_NOT_CREATED, log4c_sprintf("Could not create new media source entity for %s", url));
  }
  s.source = added;
  return APR_SUCCESS;
}

// The URL scan of the stored source in scan.
int url_scan_init(Share &s, ScanContext *scan, UrlScan *url) {
  if (msms_scan_context_init(s.pool, s.library, &s.source, s.source.url, s.cancel, s.context, scan) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  scan->lookfor_audio = scan->lookfor_video = scan->lookfor_photo = 1;
  *url = UrlScan{};
  url->scan = scan;
  url->url = s.source.url;
  url->name = s.source.name;
  url->expected_class = msms_url_expected_class(s.source.type);
  url->validate_only = !s.process;
  url->index = 1;
  url->refresh_existing = 1;
  url->fetched = s.fetched;
  return APR_SUCCESS;
}

// The URL scan of the stored source: an inspection when recording, the
// fetch and index when processing.
int scan_url(Share &s) {
  ScanContext scan;
  UrlScan url;
  if (url_scan_init(s, &scan, &url) != APR_SUCCESS) return APR_EGENERAL;
  const int status = msms_process_url(s.pool, &url);
  s.created = msms_scan_created(&scan);
  if (status == APR_SUCCESS || status == COMMON_CANCELLED) return status;
  msms_user_message(s.user_message, SOURCE_MSG_SCAN_FAILED);
  return APR_EGENERAL;
}

int record_step(void *context) { return settle_source(*static_cast<Share *>(context)); }

// Processing, the URL road's work inside the locked pass.
int process_work(SourcePass *pass) {
  Share &s = *static_cast<Share *>(pass->work_context);
  if (const int status = settle_source(s); status != APR_SUCCESS) return status;
  pass->source_oid = s.source.oid;
  return scan_url(s);
}

// Recording: the source stored only when its url can be inspected, the
// inspection made before the admin transaction begins. The request learns
// its source's oid once the record is committed.
int record(Share &s) {
  s.source = as_recorded(*s.request);
  s.source.oid = nullptr;
  int status = scan_url(s);
  if (status == APR_SUCCESS) status = msms_source_record(s.library->db, s.user_message, record_step, &s);
  if (status == APR_SUCCESS) s.request->oid = apr_pstrdup(s.outer, s.source.oid);
  return status == APR_SUCCESS || status == COMMON_CANCELLED ? status : APR_EGENERAL;
}

// What the pass will ask servers, asked before the library is locked.
int fetch(Share &s) {
  if (const int status = settle_source(s); status != APR_SUCCESS) return status;
  s.fetched = msms_url_fetched_make(s.pool);
  ScanContext scan;
  UrlScan url;
  if (url_scan_init(s, &scan, &url) != APR_SUCCESS) return APR_EGENERAL;
  url.fetching = true;
  return msms_fetch_url(s.pool, &url);
}

int process(Share &s, int full, int *added) {
  *added = 0;
  if (const int status = fetch(s); status != APR_SUCCESS) return status == COMMON_CANCELLED ? status : APR_EGENERAL;
  SourcePass pass{s.pool, s.library->db, s.cancel, s.context, s.user_message, process_work, &s, nullptr, "entries",
                  full, 0, false};
  const int status = msms_source_pass(&pass);
  *added = status == APR_SUCCESS ? s.created : 0;
  return status == APR_SUCCESS || status == COMMON_CANCELLED ? status : APR_EGENERAL;
}

}  // namespace

int msms_url_expected_class(const char *type) {
  for (const auto &row : kExpectedClass) {
    if (type != nullptr && str_icompare(type, row.type) == 0) return row.media_class;
  }
  return 0;
}

int msms_refresh_url(apr_pool_t *pool, const ScanLibrary *library, MediaSource *source, int full, int print,
                     int *added, CancelCheck cancel, void *context) {
  msms_source_announce(pool, source->url, print);
  Pool work(pool, MSMS_MODULE);
  Share s{pool, work, library, source, true, cancel, context, nullptr, {}, 0, nullptr};
  return process(s, full, added);
}

int msms_share_url(apr_pool_t *pool, MediaSource *source, UrlShareMode mode, int *added, const char **user_message,
                   CancelCheck cancel, void *context) {
  *added = 0;
  const char *url = source != nullptr && source->url != nullptr ? source->url : "";
  if (!url_is_well_formed(url)) {
    msms_source_fail(user_message, SOURCE_MSG_INVALID, "Invalid URL");
    std::printf("Ignoring %s, please use -S to share files or folders\n", url);
    return APR_EGENERAL;
  }
  const ScanLibrary *library = msms_library();
  if (library == nullptr) return msms_source_fail(user_message, 0, INTERNAL_ERROR_TEXT);
  int status = APR_SUCCESS;
  if (mode != URL_SHARE_PROCESS) {
    Pool work(pool, MSMS_MODULE);
    Share s{pool, work, library, source, false, cancel, context, user_message, {}, 0, nullptr};
    status = record(s);
  }
  if (status != APR_SUCCESS || mode == URL_SHARE_RECORD) return status;
  Pool work(pool, MSMS_MODULE);
  Share s{pool, work, library, source, true, cancel, context, user_message, {}, 0, nullptr};
  return process(s, 1, added);
}
