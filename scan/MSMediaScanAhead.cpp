// The inspection workers: a ring of AHEAD_WINDOW job slots counted by
// sequence numbers (submitted, started by a worker or dropped, released),
// with one mutex for the ring, one condition the workers wait on for jobs
// and one the scan's thread waits on for a job to be done.
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
  Worker worker;  // its lock guards what follows
  apr_thread_cond_t *done;  // a job is done while the scan's thread waits for one
  int idle;                 // workers waiting for a job
  bool woken;               // one of them was woken and has not yet run
  bool waiting;             // the scan's thread waits for a job to be done
  apr_uint64_t submitted;
  apr_uint64_t started;  // taken by the worker or dropped before it
  apr_uint64_t released;
  AheadJob jobs[AHEAD_WINDOW];
};

namespace {

// Module state: the internal switch of msms_ahead_enable.
std::atomic<bool> g_enabled{true};

// Idle workers are woken a few jobs at a time, not for each job (a wake-up
// is a system call on the scan's thread and often costs it its core),
// unless the jobs done ahead of the scan's thread run short.
constexpr apr_uint64_t kWakeBatch = AHEAD_WINDOW / 4;

AheadJob &slot(ScanAhead *ahead, apr_uint64_t sequence) { return ahead->jobs[sequence % AHEAD_WINDOW]; }

// Under the ring's lock.
void wake_if_due(ScanAhead *ahead) {
  const apr_uint64_t queued = ahead->submitted - ahead->started;
  const apr_uint64_t lead = ahead->started - ahead->released;
  if (ahead->idle > 0 && !ahead->woken && queued > 0 && (lead < kWakeBatch || queued >= kWakeBatch)) {
    ahead->woken = true;
    apr_thread_cond_signal(ahead->worker.changed);
  }
}

// Waits, under the ring's lock, until job is neither queued nor running.
void wait_done(ScanAhead *ahead, const AheadJob &job) {
  ahead->waiting = true;
  while (job.state == JobState::queued || job.state == JobState::running) {
    apr_thread_cond_wait(ahead->done, ahead->worker.lock);
  }
  ahead->waiting = false;
}

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
    while (!worker.stopping && ahead->started == ahead->submitted) {
      ahead->idle++;
      apr_thread_cond_wait(worker.changed, worker.lock);
      ahead->idle--;
      ahead->woken = false;
    }
    if (worker.stopping) break;
    AheadJob &job = slot(ahead, ahead->started++);
    job.state = JobState::running;
    apr_thread_mutex_unlock(worker.lock);
    inspect(job);
    apr_thread_mutex_lock(worker.lock);
    job.state = JobState::done;
    if (ahead->waiting) apr_thread_cond_signal(ahead->done);
  }
  apr_thread_mutex_unlock(worker.lock);
}

}  // namespace

void msms_ahead_enable(bool on) { g_enabled = on; }

bool msms_ahead_enabled() { return g_enabled; }

int msms_ahead_start(apr_pool_t *pool, ScanAhead **ahead) {
  apr_pool_t *own = pool_create_or_die(pool, MSMS_MODULE);
  auto *made = new (apr_palloc(own, sizeof(ScanAhead))) ScanAhead{};
  made->pool = own;
  for (AheadJob &job : made->jobs) job.pool = pool_create_or_die(own, MSMS_MODULE);
  if (apr_thread_cond_create(&made->done, own) != APR_SUCCESS ||
      worker_start(own, &made->worker, work, made, worker_count()) != APR_SUCCESS) {
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
    wake_if_due(ahead);
  }
  apr_thread_mutex_unlock(ahead->worker.lock);
  return job;
}

// Read without the lock: the counters change on the scan's thread only.
bool msms_ahead_has_room(const ScanAhead *ahead) { return ahead->submitted - ahead->released < AHEAD_WINDOW; }

const FileFacts *msms_ahead_take(ScanAhead *ahead, AheadJob *job) {
  apr_thread_mutex_lock(ahead->worker.lock);
  if (job->state == JobState::queued) wake_if_due(ahead);
  wait_done(ahead, *job);
  apr_thread_mutex_unlock(ahead->worker.lock);
  return job->inspected ? &job->facts : nullptr;
}

void msms_ahead_release(ScanAhead *ahead, AheadJob *job) {
  apr_thread_mutex_lock(ahead->worker.lock);
  assert(job->sequence == ahead->released);
  // The oldest job not yet started is the workers' next one: dropped.
  if (job->state == JobState::queued) {
    ahead->started++;
    job->state = JobState::done;
  }
  wait_done(ahead, *job);
  job->state = JobState::free;
  job->inspected = false;
  apr_pool_clear(job->pool);
  ahead->released++;
  wake_if_due(ahead);
  apr_thread_mutex_unlock(ahead->worker.lock);
}

