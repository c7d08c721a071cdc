// Start-up and configuration look-up shared by mlsetup and mlcheck.
#include "ToolSupport.h"

#include <apr_general.h>

#include <cstdio>

#include "CommonThreadInit.h"
#include "MSConfig.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

const char *g_program = "";
bool g_first_error_only = false;
bool g_error_printed = false;

void print_error(int, const char *message, int, const char *, int) {
  if (g_first_error_only && g_error_printed) return;
  g_error_printed = true;
  std::fprintf(stderr, "%s: %s\n", g_program, message);
}

}  // namespace

ToolRun::ToolRun(const char *program, bool first_error_only) {
  g_program = program;
  g_first_error_only = first_error_only;
  if (apr_initialize() != APR_SUCCESS) {
    std::fprintf(stderr, "%s: could not initialise APR\n", program);
    return;
  }
  log4c_quiet_unless_configured();
  log4c_set_user_callback(print_error, 0, LOG4C_ERROR);
  pool_ = pool_create_or_die(nullptr, program);
  if (thread_init_module(pool_) != APR_SUCCESS) {
    apr_pool_destroy(pool_);
    pool_ = nullptr;
  }
}

ToolRun::~ToolRun() {
  if (pool_ == nullptr) return;
  msconfig_unload();
  thread_terminate_module();
  apr_pool_destroy(pool_);
  apr_terminate();
}

bool ToolRun::library_paths(const char *install_dir, const char *argv0, const char **content_db,
                            const char **admin_db) {
  const MSConfig *config = nullptr;
  if (msconfig_load(pool_, install_dir, argv0) != APR_SUCCESS || msconfig_get(&config) != APR_SUCCESS) {
    std::fprintf(stderr, "%s: cannot read the configuration of %s\n", g_program, install_dir);
    return false;
  }
  *content_db = config->content_db_path;
  *admin_db = config->admin_db_path;
  msconfig_release();
  if (*content_db == nullptr) {
    std::fprintf(stderr, "%s: the configuration of %s names no content database\n", g_program, install_dir);
    return false;
  }
  return true;
}
