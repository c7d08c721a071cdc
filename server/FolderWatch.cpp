// The folder watch thread and its refresh jobs.
#include "FolderWatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <list>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "CommonCancel.h"
#include "CommonScheduler.h"
#include "CommonThreadInit.h"
#include "CommonUserLog.h"
#include "MSDBSources.h"
#include "MSMediaScan.h"
#include "WatchTree.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "FolderWatch";
constexpr int kPriority = 1;
constexpr int kPollMs = 200;
constexpr apr_interval_time_t kSyncInterval = apr_time_from_sec(5);
constexpr apr_interval_time_t kBusyRetry = apr_time_from_sec(5);
constexpr int kCodeRefreshed = 23;      // "Successfully completed refreshing %s"
constexpr int kCodeRefreshFailed = 24;  // "Failed refreshing %s"

void log_watch(int level, const char *message) { log4c_log(kModule, level, message, __FILE__, __LINE__); }

enum class Mode { watched, periodic, url };

struct Source {
  WatchedSource shown;
  Mode mode = Mode::periodic;
  bool dirty = false;
  bool in_flight = false;
  apr_time_t last_event = 0;
  apr_time_t due = 0;  // url sources: the next refresh; others: no refresh before
};

struct Job {
  FolderWatch *watch;
  std::string url;
  int status = 0;
  int added = 0;
  int removed = 0;
};

// A refresh gives way whenever the scheduler asks its job to.
int refresh_cancelled(void *) { return scheduler_should_yield(kPriority); }

bool is_local(const std::string &url) { return !url.empty() && url[0] == '/'; }

bool is_folder(const std::string &path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

struct FolderWatch {
  ServerContext *server;
  FolderWatchSettings settings;
  apr_interval_time_t periodic;
  int wake_fd = -1;
  std::thread thread;
  WatchTree tree;  // the thread's only
  // Files written and not yet closed, with the time of their last write.
  std::map<std::string, apr_time_t> writing;  // the thread's only
  std::mutex mutex;  // guards what follows
  bool stopping = false;
  std::list<Source> sources;
  std::list<Job> jobs;

  void run();
  void sync_sources();
  void add_source(apr_pool_t *pool, const char *url, std::list<Source> &into);
  void start_watching(Source &source);
  void rewatch(Source &source);
  void read_events();
  void on_event(const inotify_event &event);
  void touch(const std::string &path, apr_time_t now);
  bool settled(const Source &source, apr_time_t now);
  void queue_due(apr_time_t now);
  void queue(Source &source);
  void finish(Job &job);
};

namespace {

int run_refresh(void *data, SchedulerShouldYield, int, int) {
  auto *job = static_cast<Job *>(data);
  job->status = msms_refresh_media_source(job->url.c_str(), 1, 0, &job->added, &job->removed, refresh_cancelled,
                                          nullptr);
  return job->status == COMMON_CANCELLED ? COMMON_CANCELLED : APR_SUCCESS;
}

int refresh_done(void *data) {
  auto *job = static_cast<Job *>(data);
  job->watch->finish(*job);
  return APR_SUCCESS;
}

}  // namespace

void FolderWatch::start_watching(Source &source) {
  const std::string &url = source.shown.url;
  const char *fs = watch_tree_unreported_fs(url);
  const WatchAdd added = fs != nullptr ? WatchAdd::failed : watch_tree_add(tree, url);
  if (added == WatchAdd::added) {
    source.mode = Mode::watched;
    source.shown.how = "watched";
    return;
  }
  const std::string why = fs != nullptr ? std::string("on a ") + fs + " file system, which reports no changes"
                          : added == WatchAdd::limit ? "the limit of inotify watches is reached"
                                                     : "it cannot be watched";
  source.mode = Mode::periodic;
  source.shown.how = "refreshed every " + std::to_string(periodic / apr_time_from_sec(60)) + " minutes (" + why + ")";
  const std::string line = "Not watching " + url + ": " + why + "; it is refreshed every " +
                           std::to_string(periodic / apr_time_from_sec(60)) + " minutes instead";
  log_watch(LOG4C_WARN, log4c_sprintf("%s", line.c_str()));
  user_log_report_error(line.c_str());
}

void FolderWatch::add_source(apr_pool_t *pool, const char *url, std::list<Source> &into) {
  MediaSource row{};
  if (msdb_get_media_source_by_url(pool, server->db, url, &row) != APR_SUCCESS || row.oid == nullptr) return;
  Source source;
  source.shown.oid = row.oid;
  source.shown.name = row.name ? row.name : "";
  source.shown.url = url;
  source.shown.type = row.type ? row.type : "";
  source.shown.how = "refreshed every " + std::to_string(periodic / apr_time_from_sec(60)) + " minutes";
  if (!is_local(url)) {
    source.mode = Mode::url;
    source.due = apr_time_now() + settings.url_interval;  // sharectl fetched it; the server takes the next turn
    source.shown.how = "refreshed every " + std::to_string(settings.url_interval / apr_time_from_sec(60)) + " minutes";
  } else if (is_folder(url)) {
    start_watching(source);
    source.dirty = source.mode == Mode::watched;  // catch up on changes made while the server was down
  }
  into.push_back(std::move(source));
}

// A watched folder that was removed and made again (a disk mounted anew)
// is watched again and refreshed.
void FolderWatch::rewatch(Source &source) {
  if (source.mode != Mode::watched || !is_folder(source.shown.url)) return;
  const auto &paths = tree.paths;
  if (std::any_of(paths.begin(), paths.end(), [&source](const auto &p) { return p.second == source.shown.url; })) {
    return;
  }
  start_watching(source);
  touch(source.shown.url, apr_time_now());
}

// Keeps the sources still shared, adds the new ones in the library's order,
// and forgets the watches of those unshared.
void FolderWatch::sync_sources() {
  Pool pool(nullptr, kModule);
  DbCursor *cursor = nullptr;
  const char *url = nullptr;
  if (msdb_source_urls(pool, server->db, &cursor, &url) != APR_SUCCESS) return;
  std::list<Source> next;
  std::lock_guard lock(mutex);
  while (url != nullptr) {
    auto found = std::find_if(sources.begin(), sources.end(), [url](const Source &s) { return s.shown.url == url; });
    if (found != sources.end()) {
      rewatch(*found);
      next.splice(next.end(), sources, found);
    } else {
      add_source(pool, url, next);
    }
    if (msdb_cursor_next(pool, server->db, cursor, &url) != APR_SUCCESS) url = nullptr;
  }
  for (const Source &gone : sources) {
    if (gone.mode != Mode::watched) continue;
    watch_tree_remove(tree, gone.shown.url);
    const auto outer = std::find_if(next.begin(), next.end(), [&gone](const Source &s) {
      return s.mode == Mode::watched && path_within(gone.shown.url, s.shown.url);
    });
    if (outer != next.end()) watch_tree_add(tree, gone.shown.url);  // still watched for the source around it
  }
  sources.swap(next);
}

void FolderWatch::touch(const std::string &path, apr_time_t now) {
  for (Source &source : sources) {
    if (source.mode != Mode::url && path_within(path, source.shown.url)) {
      source.dirty = true;
      source.last_event = now;
    }
  }
}

void FolderWatch::on_event(const inotify_event &event) {
  const apr_time_t now = apr_time_now();
  if (event.mask & IN_Q_OVERFLOW) {  // events were lost, folders created meanwhile among them
    for (Source &source : sources) {
      if (source.mode == Mode::watched) watch_tree_add(tree, source.shown.url);
      touch(source.shown.url, now);
    }
    return;
  }
  const std::string *folder = watch_tree_path(tree, event.wd);
  if (folder == nullptr) return;
  const std::string path = event.len > 0 ? *folder + "/" + event.name : *folder;
  if (event.mask & IN_ISDIR) {
    if (event.mask & IN_MOVED_FROM) watch_tree_remove(tree, path);
    if (event.mask & (IN_CREATE | IN_MOVED_TO)) watch_tree_add(tree, path);
  } else if (event.mask & (IN_CREATE | IN_MODIFY)) {
    writing[path] = now;
  } else if (event.mask & (IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_FROM)) {
    writing.erase(path);
  }
  if (event.mask & IN_IGNORED) tree.paths.erase(event.wd);
  touch(path, now);
}

void FolderWatch::read_events() {
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t length = read(tree.fd, buffer, sizeof buffer);
    if (length <= 0) return;
    std::lock_guard lock(mutex);
    for (ssize_t at = 0; at < length;) {
      const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
      on_event(*event);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

// Quiet for the settle time, and no file still being written (a file left
// open and unchanged for the stale time counts as written).
bool FolderWatch::settled(const Source &source, apr_time_t now) {
  if (now - source.last_event < settings.settle || now < source.due) return false;
  for (auto it = writing.begin(); it != writing.end();) {
    if (now - it->second >= settings.stale) {
      it = writing.erase(it);
    } else if (path_within(it->first, source.shown.url)) {
      return false;
    } else {
      ++it;
    }
  }
  return true;
}

void FolderWatch::queue(Source &source) {
  jobs.push_back(Job{this, source.shown.url, 0, 0, 0});
  Job &job = jobs.back();
  if (scheduler_add_named(kPriority, ("refresh " + source.shown.url).c_str(), run_refresh, refresh_done, &job) !=
      APR_SUCCESS) {
    jobs.pop_back();
    source.due = apr_time_now() + kBusyRetry;
    return;
  }
  source.dirty = false;
  source.in_flight = true;
}

void FolderWatch::queue_due(apr_time_t now) {
  std::lock_guard lock(mutex);
  for (Source &source : sources) {
    if (source.in_flight) continue;
    if (source.mode == Mode::url && now >= source.due) {
      source.due = now + settings.url_interval;
      queue(source);
    } else if (source.dirty && settled(source, now)) {
      queue(source);
    }
  }
}

void FolderWatch::finish(Job &job) {
  std::lock_guard lock(mutex);
  for (Source &source : sources) {
    if (source.shown.url != job.url) continue;
    source.in_flight = false;
    if (job.status == APR_EBUSY || job.status == COMMON_CANCELLED) {
      source.dirty = true;  // sharectl holds the library, or the server is stopping
      source.due = apr_time_now() + kBusyRetry;
      break;
    }
    source.shown.failed = job.status != APR_SUCCESS;
    source.shown.last_refresh = apr_time_now();
    source.shown.last_added = job.added;
    source.shown.last_removed = job.removed;
    if (source.shown.failed) {
      user_log_add(USER_LOG_ERROR, kCodeRefreshFailed, source.shown.name.c_str());
    } else if (job.added > 0 || job.removed > 0) {
      user_log_add(USER_LOG_SERVICE, kCodeRefreshed, source.shown.name.c_str());
      log_watch(LOG4C_INFO, log4c_sprintf("Refreshed %s: %d added, %d removed", job.url.c_str(), job.added,
                                          job.removed));
    }
  }
  jobs.remove_if([&job](const Job &j) { return &j == &job; });
}

void FolderWatch::run() {
  thread_attach();
  apr_time_t next_sync = 0;
  for (;;) {
    {
      std::lock_guard lock(mutex);
      if (stopping) break;
    }
    const apr_time_t now = apr_time_now();
    if (now >= next_sync) {
      sync_sources();
      next_sync = now + kSyncInterval;
    }
    pollfd fds[] = {{tree.fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    if (poll(fds, 2, kPollMs) > 0 && (fds[0].revents & POLLIN)) read_events();
    queue_due(apr_time_now());
  }
  thread_detach();
}

FolderWatchSettings folder_watch_settings() {
  FolderWatchSettings settings;
  if (const char *limit = std::getenv("MLSERVE_WATCH_LIMIT")) settings.watch_limit = std::atoi(limit);
  return settings;
}

int folder_watch_start(ServerContext *server, const FolderWatchSettings &settings, apr_interval_time_t periodic,
                       FolderWatch **out) {
  auto *watch = new FolderWatch;
  watch->server = server;
  watch->settings = settings;
  watch->periodic = periodic;
  watch->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (watch->wake_fd < 0 || !watch_tree_open(watch->tree, settings.watch_limit)) {
    log_watch(LOG4C_ERROR, "Could not start the folder watch");
    if (watch->wake_fd >= 0) close(watch->wake_fd);
    delete watch;
    return APR_EGENERAL;
  }
  try {
    watch->thread = std::thread([watch] { watch->run(); });
  } catch (const std::system_error &) {
    log_watch(LOG4C_ERROR, "Could not start the folder watch");
    watch_tree_close(watch->tree);
    close(watch->wake_fd);
    delete watch;
    return APR_EGENERAL;
  }
  *out = watch;
  return APR_SUCCESS;
}

void folder_watch_stop(FolderWatch *watch) {
  if (watch == nullptr) return;
  {
    std::lock_guard lock(watch->mutex);
    watch->stopping = true;
  }
  const uint64_t one = 1;
  if (write(watch->wake_fd, &one, sizeof one) < 0) log_watch(LOG4C_WARN, "Could not wake the folder watch");
  watch->thread.join();
  scheduler_stop(kPriority);
  watch_tree_close(watch->tree);
  close(watch->wake_fd);
  delete watch;
}

std::vector<WatchedSource> folder_watch_sources(FolderWatch *watch) {
  std::vector<WatchedSource> shown;
  std::lock_guard lock(watch->mutex);
  for (const Source &source : watch->sources) shown.push_back(source.shown);
  return shown;
}
