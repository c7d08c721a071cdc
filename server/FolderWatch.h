// FolderWatch: keeps the library current while mlserve runs. Every shared
// folder is watched with inotify (recursively; new folders are watched as
// they appear); a change queues a refresh of its source on the scheduler
// (priority 1, so it comes before the "autorefresh" job), once the source has
// been quiet for the settle time and no file in it is still being written
// (modified and neither closed nor left alone for the stale time). A folder
// that cannot be watched (the watch limit, or a network or FUSE file system)
// is logged once and left to the periodic refresh; URL and feed sources are
// refreshed every hour. Every watched source is refreshed once at start, for
// what changed while the server was down.
//
// One thread of its own reads the events and re-reads the list of sources
// every few seconds (sharectl may add or remove some); the refresh jobs run
// on the scheduler's worker, one at a time, under the library lock (a busy
// library is tried again a few seconds later). folder_watch_sources may be
// called from any thread. Everything is freed by folder_watch_stop.
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
