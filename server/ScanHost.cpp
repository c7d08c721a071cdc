// The start-up table of the scan engine's modules inside mlserve.
#include "ScanHost.h"

#include <apr_errno.h>

#include "Common.h"
#include "CommonDownload.h"
#include "CommonFile.h"
#include "CommonFileCache.h"
#include "CommonLang.h"
#include "CommonMetaFile.h"
#include "CommonMultimedia.h"
#include "CommonScheduler.h"
#include "CommonThreadInit.h"
#include "CommonTimeout.h"
#include "CommonUserLog.h"
#include "MSDownloadManager.h"
#include "MSFFMPEG.h"
#include "MSMediaScan.h"
#include "log4c.h"

namespace {

constexpr apr_uint64_t kCyclicFileSize = 18874368;  // 18 MiB
constexpr apr_uint64_t kCyclicFileGap = 1048576;    // 1 MiB

struct HostState {
  apr_pool_t *pool;
  MediaLibraryDB *db;
  const MSConfig *config;
};

int start_languages(HostState &s) {
  if (lang_init(s.pool) != APR_SUCCESS) return APR_EGENERAL;
  lang_set_current(str_index_of(s.config->lang, LANG_UI_NAMES, LANG_UI_COUNT, 0));
  return APR_SUCCESS;
}
int start_helpers(HostState &s) {
  common_init(s.pool, nullptr);
  ffmpeg_init(s.pool);
  return APR_SUCCESS;
}
void stop_helpers() {
  ffmpeg_term();
  common_terminate();
}
int start_timer(HostState &s) { return timeout_init(s.pool, thread_attach, thread_detach); }
void stop_timer() { timeout_stop(); }
int start_files(HostState &s) {
  const auto minutes = static_cast<apr_uint32_t>(s.config->timeshift_interval_ms / 60000);
  return common_file_init(s.pool, kCyclicFileSize, kCyclicFileGap, minutes);
}
int start_cache(HostState &s) { return cache_init(s.pool, s.config->cache_max_size, s.config->cache_min_size); }
int start_scheduler(HostState &s) { return scheduler_init(s.pool); }
void stop_scheduler() { scheduler_term(); }
int start_downloads(HostState &s) { return download_init(s.pool, static_cast<int>(s.config->max_active)); }
void stop_downloads() { download_stop(); }
int start_metafile(HostState &s) { return metafile_init(s.pool, msconfig_paths()->download_dir); }
int start_download_manager(HostState &s) { return dlm_init(s.pool); }
int start_media_types(HostState &s) {
  media_types_init(s.pool);
  return APR_SUCCESS;
}
int start_user_log(HostState &s) { return user_log_init(s.pool); }
int start_engine(HostState &s) {
  return msms_init(s.pool, s.db, scan_host_refresh_start(s.config), scan_host_refresh_interval(s.config));
}
void stop_engine() { msms_terminate(); }

struct Module {
  const char *name;
  int (*start)(HostState &);
  void (*stop)();
};

// Started in this order, stopped in the reverse one.
constexpr Module kModules[] = {
    {"CommonLang", start_languages, lang_term},
    {"the media helpers", start_helpers, stop_helpers},
    {"CommonTimeout", start_timer, stop_timer},
    {"CommonFile", start_files, common_file_term},
    {"CommonFileCache", start_cache, cache_term},
    {"CommonScheduler", start_scheduler, stop_scheduler},
    {"CommonDownload", start_downloads, stop_downloads},
    {"CommonMetafile", start_metafile, metafile_terminate},
    {"MSDownloadManager", start_download_manager, dlm_cleanup},
    {"the media types", start_media_types, media_types_term},
    {"CommonUserLog", start_user_log, user_log_terminate},
    {"the scan engine", start_engine, stop_engine},
};

int g_started = 0;

}  // namespace

// The next point of the grid, so that the engine logs a date to come.
apr_time_t scan_host_refresh_start(const MSConfig *config) {
  const apr_time_t start = apr_time_from_sec(static_cast<apr_time_t>(config->refresh_start_time));
  const apr_interval_time_t interval = scan_host_refresh_interval(config);
  return interval > 0 ? timeout_first_due(start, interval, apr_time_now()) : start;
}

apr_interval_time_t scan_host_refresh_interval(const MSConfig *config) {
  return apr_time_from_sec(static_cast<apr_interval_time_t>(config->refresh_interval) * 60);
}

int scan_host_start(apr_pool_t *pool, MediaLibraryDB *db, const MSConfig *config) {
  HostState state{pool, db, config};
  for (const Module &module : kModules) {
    if (module.start(state) != APR_SUCCESS) {
      log4c_log("mlserve", LOG4C_ERROR, log4c_sprintf("Could not initialize %s", module.name), __FILE__, __LINE__);
      scan_host_stop();
      return APR_EGENERAL;
    }
    ++g_started;
  }
  return APR_SUCCESS;
}

void scan_host_stop() {
  while (g_started > 0) kModules[--g_started].stop();
}
