// The start-up table of sharectl and the functions that start and stop each
// module. Failures are logged on "Main" where they are detected.
#include "Startup.h"

#include <apr_general.h>
#include <curl/curl.h>

#include <cstdio>
#include <cstdlib>

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

// libcurl is initialised with its default flags, which include SSL.
StartResult start_curl(RunState &) {
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    log_main(LOG4C_ERROR, "Could not initialize CURL");
    std::fputs(MSG_FAILED_TO_INITIALIZE, stdout);
    return StartResult::failed;
  }
  return StartResult::started;
}

void stop_curl(RunState &) { curl_global_cleanup(); }

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
    {start_curl, stop_curl},
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
