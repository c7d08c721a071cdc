// The state one sharectl run carries from start-up through the option loop to
// the teardown. Owned by sharectl_main on the main thread; nothing else
// touches it.
#pragma once

#include <apr_getopt.h>
#include <apr_pools.h>
#include <apr_time.h>

struct MediaLibraryDB;
struct MSConfig;

struct RunState {
  int argc = 0;
  const char *const *argv = nullptr;

  apr_pool_t *root = nullptr;
  apr_getopt_t *options = nullptr;
  const MSConfig *config = nullptr;  // read-only for the whole run
  MediaLibraryDB *db = nullptr;      // the process-wide library handle

  // Consumed by the next share action.
  const char *title = nullptr;
  const char *tags = nullptr;
  const char *source_type = nullptr;

  int refresh_after_share = 1;
  int items_added = 0;
  int items_removed = 0;
  int done = 0;
  int option_seen = 0;
  apr_time_t start_time = 0;

  // Set when a start-up step, an action, an option or a plain argument
  // failed; decides the exit status.
  bool failed = false;
};
