// The inspection workers: a ring of AHEAD_WINDOW job slots counted by
// sequence numbers (submitted, started by a worker or dropped, released),
// with one mutex and one condition for the ring and every worker.
#include "MSMediaScanAhead.h"

#include <apr_strings.h>
#include <apr_thread_cond.h>
#include <apr_thread_mutex.h>
#include <apr_thread_proc.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <new>
#include <thread>

#include "CommonFiles.h"
#include "CommonWorker.h"
#include "MSMediaScanLog.h"
#include "log4c.h"
#include "log4c_pool.h"

enum class JobState { free, queued, running, done };

struct AheadJob {
  apr_pool_t *pool;
  apr_uint64_t sequence;
  JobState state;
  InspectRequest request;
  FileFacts facts;
  bool inspected;
};

struct ScanAhead {
  apr_pool_t *pool;
  Worker worker;  // its lock guards the ring and the counters
  apr_uint64_t submitted;
  apr_uint64_t started;  // taken by the worker or dropped before it
  apr_uint64_t released;
  AheadJob jobs[AHEAD_WINDOW];
};

namespace {

// Module state: the internal switch of msms_ahead_enable.
std::atomic<bool> g_enabled{true};

AheadJob &slot(ScanAhead *ahead, apr_uint64_t sequence) { return ahead->jobs[sequence % AHEAD_WINDOW]; }

void inspect(AheadJob &job) {
  // A file gone by now is left to the scan's turn, which skips it with its
  // own warning; inspecting it here would only add errors about it.
  job.inspected = file_exists(job.request.path) != 0;
  if (job.inspected) msms_inspect_file(job.pool, job.request, nullptr, nullptr, &job.facts);
}

// The scan's thread, writing the library, is a scan's critical path and
// keeps a core of its own: on two cores a second worker cost 2 MiB of
// peak memory and 8% more CPU time for no shorter scan.
int worker_count() {
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(cores - 1, 1, WORKER_MAX_THREADS);
}

void work(void *data) {
  auto *ahead = static_cast<ScanAhead *>(data);
  Worker &worker = ahead->worker;
  apr_thread_mutex_lock(worker.lock);
  for (;;) {
    while (!worker.stopping && ahead->started == ahead->submitted) apr_thread_cond_wait(worker.changed, worker.lock);
    if (worker.stopping) break;
    AheadJob &job = slot(ahead, ahead->started++);
    job.state = JobState::running;
    apr_thread_mutex_unlock(worker.lock);
    inspect(job);
    apr_thread_mutex_lock(worker.lock);
    job.state = JobState::done;
    apr_thread_cond_broadcast(worker.changed);
  }
  apr_thread_mutex_unlock(worker.lock);
}

// Waits, under the ring's lock, until no worker is inspecting job.
void wait_idle(ScanAhead *ahead, const AheadJob &job) {
  while (job.state == JobState::running) apr_thread_cond_wait(ahead->worker.changed, ahead->worker.lock);
}

}  // namespace

void msms_ahead_enable(bool on) { g_enabled = on; }

bool msms_ahead_enabled() { return g_enabled; }

int msms_ahead_start(apr_pool_t *pool, ScanAhead **ahead) {
  apr_pool_t *own = pool_create_or_die(pool, MSMS_MODULE);
  auto *made = new (apr_palloc(own, sizeof(ScanAhead))) ScanAhead{};
  made->pool = own;
  for (AheadJob &job : made->jobs) job.pool = pool_create_or_die(own, MSMS_MODULE);
  if (worker_start(own, &made->worker, work, made, worker_count()) != APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not start the inspection thread");
    apr_pool_destroy(own);
    *ahead = nullptr;
    return APR_EGENERAL;
  }
  *ahead = made;
  return APR_SUCCESS;
}

void msms_ahead_stop(ScanAhead *ahead) {
  if (ahead == nullptr) return;
  worker_stop(&ahead->worker);
  apr_pool_destroy(ahead->pool);
}

AheadJob *msms_ahead_submit(ScanAhead *ahead, const InspectRequest &request) {
  apr_thread_mutex_lock(ahead->worker.lock);
  AheadJob *job = nullptr;
  if (msms_ahead_has_room(ahead)) {
    job = &slot(ahead, ahead->submitted);
    assert(job->state == JobState::free);
    job->sequence = ahead->submitted++;
    job->request = InspectRequest{apr_pstrdup(job->pool, request.path), apr_pstrdup(job->pool, request.extension),
                                  request.media_class, request.read_avi_tags};
    job->state = JobState::queued;
    apr_thread_cond_broadcast(ahead->worker.changed);
  }
  apr_thread_mutex_unlock(ahead->worker.lock);
  return job;
}

// Read without the lock: the counters change on the scan's thread only.
bool msms_ahead_has_room(const ScanAhead *ahead) { return ahead->submitted - ahead->released < AHEAD_WINDOW; }

const FileFacts *msms_ahead_take(ScanAhead *ahead, AheadJob *job) {
  apr_thread_mutex_lock(ahead->worker.lock);
  while (job->state != JobState::done) apr_thread_cond_wait(ahead->worker.changed, ahead->worker.lock);
  apr_thread_mutex_unlock(ahead->worker.lock);
  return job->inspected ? &job->facts : nullptr;
}

void msms_ahead_release(ScanAhead *ahead, AheadJob *job) {
  apr_thread_mutex_lock(ahead->worker.lock);
  assert(job->sequence == ahead->released);
  wait_idle(ahead, *job);
  // The oldest job not yet started is the workers' next one.
  if (job->state == JobState::queued) ahead->started++;
  job->state = JobState::free;
  job->inspected = false;
  apr_pool_clear(job->pool);
  ahead->released++;
  apr_thread_mutex_unlock(ahead->worker.lock);
}

