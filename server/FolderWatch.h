// FolderWatch: keeps the library current while mlserve runs. Shared folders
// are watched with inotify; a change queues a refresh of its source on the
// scheduler (priority 1) once the source is quiet and no file in it is still
// being written. Unwatchable folders (watch limit, network or FUSE file
// systems) are logged once and left to the periodic refresh; URL and feed
// sources are refreshed hourly. One thread reads the events and the source
// list; refresh jobs run on the scheduler's worker under the library lock.
// folder_watch_sources is thread-safe; folder_watch_stop frees everything.
#pragma once

#include <apr_time.h>

#include <string>
#include <vector>

#include "ServerContext.h"

struct FolderWatchSettings {
  apr_interval_time_t settle = apr_time_from_msec(1000);
  apr_interval_time_t stale = apr_time_from_sec(30);
  apr_interval_time_t url_interval = apr_time_from_sec(3600);
  // Watches this server may add; 0: as many as the kernel gives.
  int watch_limit = 0;
};

// What the web page shows of a source.
struct WatchedSource {
  std::string oid;
  std::string name;
  std::string url;
  std::string type;
  std::string how;  // "watched", or why not: "refreshed every N minutes (...)"
  apr_time_t last_refresh = 0;  // 0: not refreshed by this server yet
  int last_added = 0;
  int last_removed = 0;
  bool failed = false;  // the last refresh failed
};

struct FolderWatch;

// The settings of mlserve: the defaults, with the limit from the environment
// variable MLSERVE_WATCH_LIMIT when set.
FolderWatchSettings folder_watch_settings();

// Starts the thread. Needs the scan engine and the scheduler. Returns 0, or
// 20014 ("Could not start the folder watch").
int folder_watch_start(ServerContext *server, const FolderWatchSettings &settings, apr_interval_time_t periodic,
                       FolderWatch **out);

// Stops the thread and the scheduler's priority of the refresh jobs (a
// running refresh gives way first), then frees watch; null is ignored.
void folder_watch_stop(FolderWatch *watch);

// The sources as last read, in the library's order.
std::vector<WatchedSource> folder_watch_sources(FolderWatch *watch);
