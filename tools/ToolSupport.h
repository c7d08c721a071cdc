// ToolSupport: what the installation tools share: start-up of the modules
// they use, error output on the console, and the library paths of an
// installation folder read from its configuration.
//
// One instance per program, on the main thread; everything lives in the
// root pool it creates.
#pragma once

#include <apr_pools.h>

class ToolRun {
 public:
  // Initialises APR, the thread hooks and the root pool; errors that modules
  // log are also printed on standard error, prefixed with the program name
  // (with first_error_only, only the first of a run: the place that found
  // the fault logs it, its callers only add their context). Run outside an
  // installation folder, where log4cxx finds no configuration, the log is
  // dropped without log4cxx's own warnings.
  explicit ToolRun(const char *program, bool first_error_only = false);
  ~ToolRun();
  ToolRun(const ToolRun &) = delete;
  ToolRun &operator=(const ToolRun &) = delete;

  apr_pool_t *pool() const { return pool_; }
  bool ok() const { return pool_ != nullptr; }

  // Reads install_dir/config.xml and gives the content and admin database
  // paths. Prints the reason and returns false on failure.
  bool library_paths(const char *install_dir, const char *argv0, const char **content_db,
                     const char **admin_db);

 private:
  apr_pool_t *pool_ = nullptr;
};
