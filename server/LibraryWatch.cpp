// The polling thread of the library watch.
#include "LibraryWatch.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "CommonThreadInit.h"
#include "Events.h"
#include "log4c.h"

namespace {

constexpr std::chrono::seconds kPollInterval{1};

}  // namespace

struct LibraryWatch {
  ServerContext *server;
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  std::thread thread;

  void run();
};

void LibraryWatch::run() {
  thread_attach();
  apr_int64_t seen = 0;
  bool known = msdb_medialib_data_version(server->db, &seen) == APR_SUCCESS;
  std::unique_lock lock(mutex);
  while (!wake.wait_for(lock, kPollInterval, [this] { return stopping; })) {
    apr_int64_t version = 0;
    if (msdb_medialib_data_version(server->db, &version) != APR_SUCCESS) continue;
    if (known && version == seen) continue;
    const bool changed = known;
    known = true;
    seen = version;
    if (!changed) continue;
    const std::string id = std::to_string(++server->system_update_id);
    log4c_log("LibraryWatch", LOG4C_INFO, log4c_sprintf("The library changed: SystemUpdateID %s", id.c_str()),
              __FILE__, __LINE__);
    events_publish(server->events, 0, {{"SystemUpdateID", id}, {"ContainerUpdateIDs", "0," + id}});
  }
  lock.unlock();
  thread_detach();
}

int library_watch_start(ServerContext *server, LibraryWatch **out) {
  auto *watch = new LibraryWatch;
  watch->server = server;
  try {
    watch->thread = std::thread([watch] { watch->run(); });
  } catch (const std::system_error &) {
    delete watch;
    log4c_log("LibraryWatch", LOG4C_ERROR, "Could not start the library watch", __FILE__, __LINE__);
    return APR_EGENERAL;
  }
  *out = watch;
  return APR_SUCCESS;
}

void library_watch_stop(LibraryWatch *watch) {
  if (watch == nullptr) return;
  {
    std::lock_guard lock(watch->mutex);
    watch->stopping = true;
  }
  watch->wake.notify_one();
  watch->thread.join();
  delete watch;
}
