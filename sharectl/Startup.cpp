// The start-up table of sharectl and the functions that start and stop each
// module. Failures are logged on "Main" where they are detected.
#include "Startup.h"

#include <apr_general.h>

#include <cstdio>
#include <cstdlib>

#include "Common.h"
#include "CommonCurlLibrary.h"
#include "CommonDownload.h"
#include "CommonFile.h"
#include "CommonFileCache.h"
#include "CommonLang.h"
#include "CommonMetaFile.h"
#include "CommonMultimedia.h"
#include "CommonScheduler.h"
#include "CommonTagLib.h"
#include "CommonThreadInit.h"
#include "CommonTimeout.h"
#include "MSConfig.h"
#include "MSDB.h"
#include "MSDownloadManager.h"
#include "MSFFMPEG.h"
#include "MSMediaScan.h"
#include "Messages.h"
#include "PlatformErrorMode.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "Main";
constexpr apr_size_t kRootPoolMaxFree = 5000000;

void log_main(int level, const char *message) { log4c_log(kModule, level, message, "main", __LINE__); }

StartResult start_error_mode(RunState &) {
  platform_hide_critical_error_dialogs();
  return StartResult::started;
}

StartResult start_apr(RunState &run) {
  int argc = run.argc;
  const char *const *argv = run.argv;
  if (apr_app_initialize(&argc, &argv, nullptr) != APR_SUCCESS) {
    log_main(LOG4C_FATAL, "Could not initialize APR");
    return StartResult::exit;
  }
  std::atexit(apr_terminate);
  return StartResult::started;
}

StartResult start_root_pool(RunState &run) {
  apr_status_t status = apr_pool_create_ex(&run.root, nullptr, pool_abort, nullptr);
  if (status != APR_SUCCESS) {
    char reason[1024];
    apr_strerror(status, reason, sizeof reason);
    log_main(LOG4C_FATAL,
             log4c_sprintf("Unable to create memory pool for this file, reason: %s, shutting down...", reason));
    return StartResult::exit;
  }
  apr_allocator_max_free_set(apr_pool_allocator_get(run.root), kRootPoolMaxFree);
  return StartResult::started;
}

void stop_root_pool(RunState &run) {
  apr_pool_destroy(run.root);
  run.root = nullptr;
}

StartResult start_options(RunState &run) {
  if (apr_getopt_init(&run.options, run.root, run.argc, run.argv) != APR_SUCCESS) {
    log_main(LOG4C_ERROR, "Could not init getopt");
    return StartResult::failed;
  }
  run.options->interleave = 1;
  return StartResult::started;
}

StartResult start_thread_hooks(RunState &run) {
  if (thread_init_module(run.root) != 0) {
    log_main(LOG4C_ERROR, "Could not initialize CommonThreadInit");
    return StartResult::failed;
  }
  return StartResult::started;
}

void stop_thread_hooks(RunState &) { thread_terminate_module(); }

// The record stays in use for the whole run; the lock is only taken to see
// that loading finished.
StartResult start_config(RunState &run) {
  const MSConfig *config = nullptr;
  if (msconfig_load(run.root, ".", run.argv[0]) != 0 || msconfig_get(&config) != 0) {
    log_main(LOG4C_ERROR, "Could not initialize from configuration file");
    std::fputs(
        "Invalid configuration file or file doesn't exist. You must run this application from the "
        "installation folder of the software.\n",
        stdout);
    return StartResult::failed;
  }
  msconfig_release();
  run.config = config;
  return StartResult::started;
}

void stop_config(RunState &run) {
  msconfig_unload();
  run.config = nullptr;
}

StartResult start_languages(RunState &run) {
  if (lang_init(run.root) != 0) {
    log_main(LOG4C_FATAL, "Could not initialize CommonLang");
    return StartResult::failed;
  }
  lang_set_current(str_index_of(run.config->lang, LANG_UI_NAMES, LANG_UI_COUNT, 0));
  return StartResult::started;
}

void stop_languages(RunState &) { lang_term(); }

// These modules cannot fail in a way that should stop the run.
StartResult start_media_helpers(RunState &run) {
  common_init(run.root, nullptr);
  ffmpeg_init(run.root);
  taglib_debug_on();
  timeout_init(run.root, thread_attach, thread_detach);
  return StartResult::started;
}

void stop_media_helpers(RunState &) {
  timeout_stop();
  taglib_debug_off();
  ffmpeg_term();
  common_terminate();
}

constexpr apr_uint64_t kCyclicFileSize = 18874368;  // 18 MiB
constexpr apr_uint64_t kCyclicFileGap = 1048576;    // 1 MiB

StartResult start_shared_files(RunState &run) {
  auto minutes = static_cast<apr_uint32_t>(run.config->timeshift_interval_ms / 60000);
  if (common_file_init(run.root, kCyclicFileSize, kCyclicFileGap, minutes) != 0) {
    log_main(LOG4C_FATAL, "Could not initialize CommonFile");
    return StartResult::failed;
  }
  return StartResult::started;
}

void stop_shared_files(RunState &) { common_file_term(); }

// A failure reports the shared-files module's words.
StartResult start_file_cache(RunState &run) {
  if (cache_init(run.root, run.config->cache_max_size, run.config->cache_min_size) != 0) {
    log_main(LOG4C_FATAL, "Could not initialize CommonFile");
    return StartResult::failed;
  }
  return StartResult::started;
}

void stop_file_cache(RunState &) { cache_term(); }

StartResult start_scheduler(RunState &run) {
  if (scheduler_init(run.root) != 0) {
    log_main(LOG4C_FATAL, "Could not initialize CommonScheduler");
    std::fputs(MSG_FAILED_TO_INITIALIZE, stdout);
    return StartResult::failed;
  }
  return StartResult::started;
}

void stop_scheduler(RunState &) { scheduler_term(); }

// libcurl is loaded and initialised by the download engine for its first
// transfer ("Could not initialize CURL" is logged then): libcurl and the 30
// libraries it needs take 10 ms to load, a sixth of a run that finds nothing
// changed. Its global clean-up keeps this place in the teardown.
StartResult start_curl(RunState &) { return StartResult::started; }

void stop_curl(RunState &) { curl_library_cleanup(); }

StartResult start_downloads(RunState &run) {
  if (download_init(run.root, static_cast<int>(run.config->max_active)) != 0) {
    log_main(LOG4C_FATAL, "Could not initialize CommonDownload");
    return StartResult::failed;
  }
  download_set_deadline(static_cast<long>(run.config->transfer_deadline) * 60);
  return StartResult::started;
}

// Stopping lets the transfers that run and wait finish first.
void stop_downloads(RunState &) {
  std::fputs("\nWaiting for background downloads to complete...", stdout);
  std::fflush(stdout);
  download_stop();
  std::fputs(" Done\n", stdout);
}

constexpr const char *kLibraryUnusable =
    "\nInvalid, missing or locked media library, possible reasons are:\n\n"
    "- The media server is doing a periodic refresh of the media library, in such a case you should try "
    "again later or stop the media server.\n"
    "- You are trying to run more than one instance of this application at a time.\n"
    "- You are not running this application from the installation folder of the software.\n"
    "- If none of the above is true the media library may have got corrupted, in such a case you should "
    "reset your shares, please also report this error in the Zentoria Support forums.\n";

StartResult start_metafile(RunState &run) {
  if (metafile_init(run.root, msconfig_paths()->download_dir) != 0) {
    log_main(LOG4C_FATAL, "Could not initialize CommonMetafile");
    return StartResult::failed;
  }
  return StartResult::started;
}

void stop_metafile(RunState &) { metafile_terminate(); }

// Opening the main thread's connections here makes a wrong installation
// folder, or a library file that is not a database, fail at start-up rather
// than in the middle of an action, with the same text as a locked library.
StartResult start_database(RunState &run) {
  const char *content = run.config->content_db_path ? run.config->content_db_path : "";
  if (msdb_init(run.root, content, run.config->admin_db_path, &run.db) != 0 || !msdb_thread_connection(run.db)) {
    log_main(LOG4C_ERROR, log4c_sprintf("Could not open DB %s", content));
    std::fputs(kLibraryUnusable, stdout);
    return StartResult::failed;
  }
  return StartResult::started;
}

void stop_database(RunState &run) {
  msdb_terminate(run.db);
  run.db = nullptr;
}

// The download area is the configured "data/download/" folder.
StartResult start_download_manager(RunState &run) {
  if (dlm_init(run.root) != 0) {
    log_main(LOG4C_FATAL, "Could not initialize MSDownloadManager");
    return StartResult::failed;
  }
  return StartResult::started;
}

void stop_download_manager(RunState &) { dlm_cleanup(); }

StartResult start_media_types(RunState &run) {
  media_types_init(run.root);
  return StartResult::started;
}

void stop_media_types(RunState &) { media_types_term(); }

StartResult start_scan_engine(RunState &run) {
  if (msms_init(run.root, run.db, 0, 0) != 0) {
    log_main(LOG4C_ERROR, "Could not access media library");
    std::fputs(kLibraryUnusable, stdout);
    return StartResult::failed;
  }
  return StartResult::started;
}

void stop_scan_engine(RunState &) { msms_terminate(); }

StartResult take_start_time(RunState &run) {
  run.start_time = apr_time_now();
  return StartResult::started;
}

struct Module {
  StartResult (*start)(RunState &);
  void (*stop)(RunState &);
};

// Start-up order; teardown is the reverse.
constexpr Module kModules[] = {
    {start_error_mode, nullptr},
    {start_apr, nullptr},  // apr_terminate runs at process exit
    {start_root_pool, stop_root_pool},
    {start_options, nullptr},
    {start_thread_hooks, stop_thread_hooks},
    {start_config, stop_config},
    {start_languages, stop_languages},
    {start_media_helpers, stop_media_helpers},
    {start_shared_files, stop_shared_files},
    {start_file_cache, stop_file_cache},
    {start_scheduler, stop_scheduler},
    {start_curl, stop_curl},
    {start_downloads, stop_downloads},
    {start_metafile, stop_metafile},
    {start_download_manager, stop_download_manager},
    {start_database, stop_database},
    {start_media_types, stop_media_types},
    {start_scan_engine, stop_scan_engine},
    {take_start_time, nullptr},
};

}  // namespace

StartResult Startup::start(RunState &run) {
  for (const Module &module : kModules) {
    StartResult result = module.start(run);
    if (result != StartResult::started) return result;
    ++started_;
  }
  return StartResult::started;
}

void Startup::stop(RunState &run) {
  while (started_ > 0) {
    const Module &module = kModules[--started_];
    if (module.stop) module.stop(run);
  }
}
