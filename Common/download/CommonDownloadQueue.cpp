// The module state of background downloads: the table of active jobs by
// target path, the queue, and the download thread that drives every running
// transfer through one multi handle.
//
// The table holds every job from the moment it is queued until it finished;
// it is read under the read lock (download_cancel) and changed under the
// write lock. Only the download thread starts, drives and finishes jobs.
#include <apr_hash.h>
#include <apr_queue.h>
#include <apr_thread_proc.h>
#include <apr_thread_rwlock.h>
#include <sys/select.h>

#include <atomic>
#include <vector>

#include "CommonDownloadJob.h"
#include "CommonThreadInit.h"
#include "CommonUserMessage.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr apr_interval_time_t kFullSleep = 100000;  // 100 ms
constexpr apr_interval_time_t kShortSleep = 1000;   // 1 ms
constexpr long kSelectSeconds = 1;
constexpr long kNoSocketWaitMicros = 10000;  // while libcurl resolves a name

struct DownloadState {
  apr_pool_t *pool = nullptr;
  std::atomic<int> max_active{1};
  std::atomic<int> stopping{0};
  apr_thread_rwlock_t *lock = nullptr;
  apr_hash_t *active = nullptr;
  apr_queue_t *queue = nullptr;
  apr_thread_t *thread = nullptr;
};
DownloadState g_state;

void forget(DownloadJob *job) {
  apr_thread_rwlock_wrlock(g_state.lock);
  apr_hash_set(g_state.active, job->spec.path, APR_HASH_KEY_STRING, nullptr);
  apr_thread_rwlock_unlock(g_state.lock);
}

// The job leaves the table before its done callback runs, so that the
// callback may queue a new download to the same path.
void end_job(const CurlLibrary *curl, CURLM *multi, DownloadJob *job, CURLcode code) {
  int success = download_job_finish(curl, multi, job, code);
  forget(job);
  if (job->spec.done != nullptr) job->spec.done(job->spec.url, success, job->spec.context);
  download_job_free(job);
}

// The jobs this thread runs, and the multi handle driving them (made for
// the first job after an idle spell).
struct Runner {
  const CurlLibrary *curl = nullptr;
  CURLM *multi = nullptr;
  std::vector<DownloadJob *> running;
};

void start(Runner &runner, DownloadJob *job) {
  if (runner.curl == nullptr) runner.curl = download_curl();
  if (runner.curl != nullptr && runner.multi == nullptr) runner.multi = runner.curl->multi_init();
  if (runner.multi == nullptr || download_job_start(*runner.curl, runner.multi, job) != APR_SUCCESS) {
    end_job(runner.curl, nullptr, job, CURLE_FAILED_INIT);
    return;
  }
  runner.running.push_back(job);
}

enum class Take { started, none, leave };

// Takes one job: waiting for it when nothing runs.
Take take_job(Runner &runner) {
  void *item = nullptr;
  bool idle = runner.running.empty();
  if (idle && g_state.stopping.load() != 0 && apr_queue_size(g_state.queue) == 0) return Take::leave;
  apr_status_t status = idle ? apr_queue_pop(g_state.queue, &item) : apr_queue_trypop(g_state.queue, &item);
  if (status == APR_SUCCESS && item == nullptr) return Take::none;  // download_stop's wake-up
  if (status == APR_SUCCESS) {
    start(runner, static_cast<DownloadJob *>(item));
    return Take::started;
  }
  if (status == APR_EOF) return Take::leave;
  if (status == APR_EAGAIN) return Take::none;
  if (status == APR_EINTR) {
    bool done = g_state.stopping.load() != 0 && apr_queue_size(g_state.queue) == 0 && runner.running.empty();
    return done ? Take::leave : Take::none;
  }
  LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, "Unexpected return value from apr_queue_pop(), aborting...");
  return Take::leave;
}

void collect_finished(Runner &runner) {
  int left = 0;
  while (CURLMsg *message = runner.curl->multi_info_read(runner.multi, &left)) {
    if (message->msg != CURLMSG_DONE) continue;
    DownloadJob *job = nullptr;
    runner.curl->easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char **>(&job));
    if (job == nullptr) {
      LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, "Could not get info of a done CURL easy handle");
      continue;
    }
    CURLcode code = message->data.result;
    std::erase(runner.running, job);
    end_job(runner.curl, runner.multi, job, code);
  }
}

// Waits up to 1 s for any running transfer's socket.
void wait_sockets(const Runner &runner) {
  fd_set read_set, write_set, error_set;
  FD_ZERO(&read_set);
  FD_ZERO(&write_set);
  FD_ZERO(&error_set);
  int max_fd = -1;
  if (runner.curl->multi_fdset(runner.multi, &read_set, &write_set, &error_set, &max_fd) != CURLM_OK) {
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    apr_sleep(kShortSleep);
    return;
  }
  apr_sleep(kShortSleep);
  timeval timeout{kSelectSeconds, 0};
  if (max_fd < 0) timeout = {0, kNoSocketWaitMicros};
  int ready = select(max_fd + 1, &read_set, &write_set, &error_set, &timeout);
  if (ready < 0)
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, log4c_sprintf("Select error on CURL fds, %d", errno));
  else if (ready == 0 && max_fd >= 0)
    LOG4C(DOWNLOAD_MODULE, LOG4C_DEBUG, "Select timeout on CURL fds");
}

// One round of the loop; false when the thread is to leave.
bool run_round(Runner &runner) {
  while (static_cast<int>(runner.running.size()) < g_state.max_active.load()) {
    Take take = take_job(runner);
    if (take == Take::leave) return false;
    if (take == Take::none) break;
  }
  if (runner.multi == nullptr) return true;
  collect_finished(runner);
  if (runner.running.empty()) {
    runner.curl->multi_cleanup(runner.multi);
    runner.multi = nullptr;
    return true;
  }
  int still = 0;
  CURLMcode code;
  do code = runner.curl->multi_perform(runner.multi, &still);
  while (code == CURLM_CALL_MULTI_PERFORM);
  if (code != CURLM_OK) {
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return false;
  }
  if (still > 0) wait_sockets(runner);
  return true;
}

void *APR_THREAD_FUNC download_thread(apr_thread_t *thread, void *) {
  thread_attach();
  Runner runner;
  while (run_round(runner)) {
  }
  for (DownloadJob *job : runner.running) end_job(runner.curl, runner.multi, job, CURLE_ABORTED_BY_CALLBACK);
  if (runner.multi != nullptr) runner.curl->multi_cleanup(runner.multi);
  thread_detach();
  apr_thread_exit(thread, APR_SUCCESS);
  return nullptr;
}

int start_thread() {
  apr_threadattr_t *attributes = nullptr;
  if (apr_threadattr_create(&attributes, g_state.pool) != APR_SUCCESS)
    return log4c_fail(DOWNLOAD_MODULE, "Could not create thread attribute for download thread");
  if (apr_threadattr_detach_set(attributes, 0) != APR_SUCCESS)
    return log4c_fail(DOWNLOAD_MODULE, "Could not set detach attribute of thread to false");
  if (apr_thread_create(&g_state.thread, attributes, download_thread, nullptr, g_state.pool) != APR_SUCCESS)
    return log4c_fail(DOWNLOAD_MODULE, "Could not create thread for background downloads");
  return APR_SUCCESS;
}

}  // namespace

int download_init(apr_pool_t *pool, int max_active) {
  g_state.pool = pool_create_or_die(pool, DOWNLOAD_MODULE);
  // At least one transfer runs, or queued jobs would wait for ever.
  g_state.max_active = max_active > 0 ? max_active : 1;
  g_state.stopping = 0;
  if (apr_thread_rwlock_create(&g_state.lock, g_state.pool) != APR_SUCCESS) return log4c_fail(DOWNLOAD_MODULE, "Could no create mutex");
  g_state.active = apr_hash_make(g_state.pool);
  if (g_state.active == nullptr) return log4c_fail(DOWNLOAD_MODULE, "Could not create hash table");
  if (apr_queue_create(&g_state.queue, DOWNLOAD_QUEUE_SIZE, g_state.pool) != APR_SUCCESS)
    return log4c_fail(DOWNLOAD_MODULE, "Could not create queue for download jobs");
  return start_thread();
}

int download_queue_job(const DownloadJobSpec &spec) {
  if (g_state.thread == nullptr || spec.url == nullptr || spec.path == nullptr) {
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return APR_EGENERAL;
  }
  DownloadJob *job = download_job_create(spec);
  apr_thread_rwlock_wrlock(g_state.lock);
  if (apr_hash_get(g_state.active, job->spec.path, APR_HASH_KEY_STRING) != nullptr) {
    apr_thread_rwlock_unlock(g_state.lock);
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR,
          log4c_sprintf("Can't download to path %s since it is already in use", spec.path));
    download_job_free(job);
    return APR_EEXIST;
  }
  apr_hash_set(g_state.active, job->spec.path, APR_HASH_KEY_STRING, job);
  apr_status_t status = apr_queue_trypush(g_state.queue, job);
  if (status != APR_SUCCESS) apr_hash_set(g_state.active, job->spec.path, APR_HASH_KEY_STRING, nullptr);
  apr_thread_rwlock_unlock(g_state.lock);
  if (status == APR_SUCCESS) return APR_SUCCESS;
  if (status == APR_EAGAIN)
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, "Could not queue download job - the queue is full, failing request");
  else
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, "Could not queue download job, failing request");
  download_job_free(job);
  return status;
}

int download_queue(const char *url, const char *path, int refuse_live, int conditional, DownloadDoneFn done,
                   DownloadHeadersFn headers, void *context) {
  DownloadJobSpec spec;
  spec.url = url;
  spec.path = path;
  spec.refuse_live = refuse_live;
  spec.conditional = conditional;
  spec.done = done;
  spec.headers = headers;
  spec.context = context;
  return download_queue_job(spec);
}

int download_cancel(const char *path, int live_only) {
  if (g_state.lock == nullptr || path == nullptr) return 0;
  apr_thread_rwlock_rdlock(g_state.lock);
  auto *job = static_cast<DownloadJob *>(apr_hash_get(g_state.active, path, APR_HASH_KEY_STRING));
  bool flagged = job != nullptr && (!live_only || job->live.load() != 0);
  if (flagged) job->stop = 1;
  apr_thread_rwlock_unlock(g_state.lock);
  return flagged ? 1 : 0;
}

int download_stop() {
  if (g_state.thread == nullptr) return APR_SUCCESS;
  g_state.stopping = 1;
  int result = APR_SUCCESS;
  if (apr_queue_interrupt_all(g_state.queue) != APR_SUCCESS)
    result = log4c_fail(DOWNLOAD_MODULE, "Could not interrupt the download queue");
  // The thread may be just about to wait, past the interruption: an empty
  // item wakes it in any case, behind every job queued so far.
  apr_queue_push(g_state.queue, nullptr);
  apr_status_t thread_status = APR_SUCCESS;
  apr_status_t status = apr_thread_join(&thread_status, g_state.thread);
  if (status != APR_SUCCESS) {
    char reason[256];
    result = log4c_fail(DOWNLOAD_MODULE, log4c_sprintf("Could not join download thread, reason: %s", apr_strerror(status, reason, sizeof reason)));
  }
  g_state.thread = nullptr;
  apr_queue_term(g_state.queue);
  download_share_free();
  apr_pool_destroy(g_state.pool);
  g_state.pool = nullptr;
  g_state.lock = nullptr;
  g_state.active = nullptr;
  g_state.queue = nullptr;
  return result;
}
