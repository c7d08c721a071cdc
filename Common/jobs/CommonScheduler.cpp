// Background job scheduler: three priority queues, each drained by its own
// worker; one shared mutex makes jobs take turns, one condition wakes the
// jobs that gave way.
#include "CommonScheduler.h"

#include <apr_errno.h>
#include <apr_hash.h>
#include <apr_queue.h>
#include <apr_strings.h>
#include <apr_thread_cond.h>
#include <apr_thread_mutex.h>
#include <apr_thread_proc.h>

#include <atomic>
#include <cstdint>
#include <new>

#include "CommonCancel.h"
#include "CommonThreadInit.h"
#include "CommonUserMessage.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "CommonScheduler";

struct SchedulerJob {
  apr_pool_t *pool;
  SchedulerRunFn run;
  SchedulerCompletionFn completion;
  void *data;
  const char *name;
};

struct Priority {
  apr_queue_t *queue = nullptr;
  apr_thread_t *thread = nullptr;
  apr_hash_t *names = nullptr;  // name -> job, guarded by Scheduler::lock
  std::atomic<int> queued{0};
  std::atomic<int> interrupted{0};
  std::atomic<int> terminated{0};
  bool joined = false;
};

struct Scheduler {
  apr_pool_t *pool = nullptr;
  apr_thread_mutex_t *lock = nullptr;  // the name tables and job pools
  apr_thread_mutex_t *mutex = nullptr;  // held by the running job
  apr_thread_cond_t *cond = nullptr;
  std::atomic<int> paused{0};
  Priority priorities[SCHEDULER_PRIORITIES];
};

Scheduler *g_scheduler = nullptr;

bool priority_valid(int priority) {
  if (g_scheduler != nullptr && priority >= 0 && priority < SCHEDULER_PRIORITIES) return true;
  LOG4C(kModule, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
  return false;
}

void wake_workers() {
  apr_thread_mutex_lock(g_scheduler->mutex);
  apr_thread_cond_broadcast(g_scheduler->cond);
  apr_thread_mutex_unlock(g_scheduler->mutex);
}

// Removes the job's name (when it is the one registered) and frees the job.
void release_job(Priority &p, SchedulerJob *job) {
  apr_thread_mutex_lock(g_scheduler->lock);
  if (job->name != nullptr && apr_hash_get(p.names, job->name, APR_HASH_KEY_STRING) == job) {
    apr_hash_set(p.names, job->name, APR_HASH_KEY_STRING, nullptr);
  }
  apr_pool_destroy(job->pool);
  apr_thread_mutex_unlock(g_scheduler->lock);
}

void drop_waiting_jobs(Priority &p) {
  void *item = nullptr;
  while (apr_queue_trypop(p.queue, &item) == APR_SUCCESS) {
    p.queued--;
    release_job(p, static_cast<SchedulerJob *>(item));
  }
  p.interrupted = 0;
}

// Runs attempts until the job is done, failed, or its priority stops.
void run_job(int priority, SchedulerJob *job) {
  Priority &p = g_scheduler->priorities[priority];
  apr_thread_mutex_lock(g_scheduler->mutex);
  for (int attempt = 0;; attempt++) {
    if (!scheduler_should_yield(priority)) {
      int status = job->run(job->data, scheduler_should_yield, priority, attempt);
      if (status != COMMON_CANCELLED) {
        if (status != APR_SUCCESS) LOG4C(kModule, LOG4C_ERROR, "Job failed, ignoring...");
        break;
      }
    }
    if (p.terminated || p.interrupted) break;
    apr_thread_cond_wait(g_scheduler->cond, g_scheduler->mutex);
  }
  apr_thread_mutex_unlock(g_scheduler->mutex);
  p.queued--;
  if (job->completion != nullptr && job->completion(job->data) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Job failed, ignoring...");
  }
  release_job(p, job);
}

// The first take waits; the take right after a job does not, and finding the
// queue empty then wakes the jobs of other priorities that gave way to us.
void *APR_THREAD_FUNC worker(apr_thread_t *thread, void *arg) {
  const int priority = static_cast<int>(reinterpret_cast<intptr_t>(arg));
  Priority &p = g_scheduler->priorities[priority];
  thread_attach();
  bool wait = true;
  for (;;) {
    if (p.interrupted) drop_waiting_jobs(p);
    void *item = nullptr;
    apr_status_t status = wait ? apr_queue_pop(p.queue, &item) : apr_queue_trypop(p.queue, &item);
    if (p.terminated || status == APR_EOF) break;
    if (status == APR_EAGAIN) {
      wake_workers();
      wait = true;
      continue;
    }
    if (status == APR_EINTR) continue;
    if (status != APR_SUCCESS) {
      LOG4C(kModule, LOG4C_ERROR, "Unexpected return value from apr_queue_pop(), aborting...");
      break;
    }
    run_job(priority, static_cast<SchedulerJob *>(item));
    wait = false;
  }
  thread_detach();
  apr_thread_exit(thread, APR_SUCCESS);
  return nullptr;
}

int create_locks(Scheduler *s, apr_threadattr_t **attr) {
  if (apr_thread_mutex_create(&s->lock, APR_THREAD_MUTEX_DEFAULT, s->pool) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Could no create mutex");
    return APR_EGENERAL;
  }
  if (apr_thread_mutex_create(&s->mutex, APR_THREAD_MUTEX_DEFAULT, s->pool) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Could not create mutex for background job threads");
    return APR_EGENERAL;
  }
  if (apr_thread_cond_create(&s->cond, s->pool) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Could not create mutex condition for background job threads");
    return APR_EGENERAL;
  }
  if (apr_threadattr_create(attr, s->pool) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Could not create thread attribute for background jobs thread");
    return APR_EGENERAL;
  }
  if (apr_threadattr_detach_set(*attr, 0) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Could not set detach attribute of thread to false");
    return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

int start_priority(Scheduler *s, int priority, apr_threadattr_t *attr) {
  Priority &p = s->priorities[priority];
  p.names = apr_hash_make(s->pool);
  if (apr_queue_create(&p.queue, SCHEDULER_QUEUE_CAPACITY, s->pool) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Could not create queue for backgroun jobs");
    return APR_EGENERAL;
  }
  void *arg = reinterpret_cast<void *>(static_cast<intptr_t>(priority));
  if (apr_thread_create(&p.thread, attr, worker, arg, s->pool) != APR_SUCCESS) {
    p.thread = nullptr;
    p.joined = true;
    LOG4C(kModule, LOG4C_ERROR, "Could not create thread for background jobs");
    return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

// Withdraws the name that was registered for a job that could not be queued.
int queue_job(int priority, SchedulerJob *job) {
  Priority &p = g_scheduler->priorities[priority];
  p.queued++;
  apr_status_t status = apr_queue_trypush(p.queue, job);
  if (status == APR_SUCCESS) return APR_SUCCESS;
  p.queued--;
  LOG4C(kModule, LOG4C_ERROR,
        status == APR_EAGAIN ? "Could not queue refresh job - the queue is full, failing request"
                             : "Could not queue refresh job, failing request");
  release_job(p, job);
  return APR_EGENERAL;
}

// Creates the job; with a name, registers it unless one is queued already
// (then *job stays null).
void make_job(int priority, const char *name, SchedulerRunFn run, SchedulerCompletionFn completion,
              void *data, SchedulerJob **job) {
  Priority &p = g_scheduler->priorities[priority];
  *job = nullptr;
  apr_thread_mutex_lock(g_scheduler->lock);
  if (name == nullptr || apr_hash_get(p.names, name, APR_HASH_KEY_STRING) == nullptr) {
    apr_pool_t *pool = pool_create_or_die(g_scheduler->pool, kModule);
    auto *made = static_cast<SchedulerJob *>(apr_palloc(pool, sizeof(SchedulerJob)));
    *made = SchedulerJob{pool, run, completion, data, name ? apr_pstrdup(pool, name) : nullptr};
    if (made->name != nullptr) apr_hash_set(p.names, made->name, APR_HASH_KEY_STRING, made);
    *job = made;
  }
  apr_thread_mutex_unlock(g_scheduler->lock);
}

int add_job(int priority, const char *name, SchedulerRunFn run, SchedulerCompletionFn completion,
            void *data) {
  if (!priority_valid(priority) || run == nullptr) {
    if (run == nullptr) LOG4C(kModule, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return APR_EGENERAL;
  }
  SchedulerJob *job = nullptr;
  make_job(priority, name, run, completion, data, &job);
  if (job == nullptr) return APR_SUCCESS;
  return queue_job(priority, job);
}

}  // namespace

int scheduler_init(apr_pool_t *pool) {
  if (g_scheduler != nullptr) {
    LOG4C(kModule, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return APR_EGENERAL;
  }
  apr_pool_t *own = pool_create_or_die(pool, kModule);
  g_scheduler = new (apr_pcalloc(own, sizeof(Scheduler))) Scheduler();
  g_scheduler->pool = own;
  apr_threadattr_t *attr = nullptr;
  int status = create_locks(g_scheduler, &attr);
  for (int i = 0; i < SCHEDULER_PRIORITIES; i++) {
    if (status != APR_SUCCESS) {
      g_scheduler->priorities[i].joined = true;
      continue;
    }
    status = start_priority(g_scheduler, i, attr);
  }
  if (status != APR_SUCCESS) scheduler_term();
  return status;
}

int scheduler_add_named(int priority, const char *name, SchedulerRunFn run,
                        SchedulerCompletionFn completion, void *data) {
  if (name == nullptr) {
    LOG4C(kModule, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return APR_EGENERAL;
  }
  return add_job(priority, name, run, completion, data);
}

int scheduler_add(int priority, SchedulerRunFn run, SchedulerCompletionFn completion, void *data) {
  return add_job(priority, nullptr, run, completion, data);
}

int scheduler_is_queued(int priority, const char *name) {
  if (name == nullptr || !priority_valid(priority)) return 0;
  apr_thread_mutex_lock(g_scheduler->lock);
  int queued = apr_hash_get(g_scheduler->priorities[priority].names, name, APR_HASH_KEY_STRING) != nullptr;
  apr_thread_mutex_unlock(g_scheduler->lock);
  return queued;
}

int scheduler_should_yield(int priority) {
  if (g_scheduler == nullptr || g_scheduler->paused > 0) return 1;
  const Priority &p = g_scheduler->priorities[priority];
  if (p.interrupted || p.terminated) return 1;
  for (int more_urgent = 0; more_urgent < priority; more_urgent++) {
    if (g_scheduler->priorities[more_urgent].queued > 0) return 1;
  }
  return 0;
}

void scheduler_pause() {
  if (g_scheduler == nullptr) return;
  g_scheduler->paused++;
  apr_thread_mutex_lock(g_scheduler->mutex);
}

void scheduler_resume() {
  if (g_scheduler == nullptr) return;
  if (--g_scheduler->paused == 0) apr_thread_cond_broadcast(g_scheduler->cond);
  apr_thread_mutex_unlock(g_scheduler->mutex);
}

int scheduler_interrupt(int priority) {
  if (!priority_valid(priority)) return APR_EGENERAL;
  Priority &p = g_scheduler->priorities[priority];
  p.interrupted = 1;
  int status = APR_SUCCESS;
  if (p.queue != nullptr && apr_queue_interrupt_all(p.queue) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Could not interrupt the queue");
    status = APR_EGENERAL;
  }
  wake_workers();
  return status;
}

int scheduler_stop(int priority) {
  if (!priority_valid(priority)) return APR_EGENERAL;
  Priority &p = g_scheduler->priorities[priority];
  if (p.joined) return APR_SUCCESS;
  p.terminated = 1;
  if (apr_queue_term(p.queue) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Could not terminate the queue");
    return APR_EGENERAL;
  }
  wake_workers();
  apr_status_t thread_status = APR_SUCCESS;
  apr_status_t status = apr_thread_join(&thread_status, p.thread);
  if (status != APR_SUCCESS) {
    char reason[256];
    LOG4C(kModule, LOG4C_ERROR,
          log4c_sprintf("Could not join the thread, reason is %s", apr_strerror(status, reason, sizeof reason)));
    return APR_EGENERAL;
  }
  p.joined = true;
  drop_waiting_jobs(p);
  return APR_SUCCESS;
}

int scheduler_term() {
  if (g_scheduler == nullptr) {
    LOG4C(kModule, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return APR_EGENERAL;
  }
  for (int i = 0; i < SCHEDULER_PRIORITIES; i++) {
    if (scheduler_stop(i) != APR_SUCCESS) {
      LOG4C(kModule, LOG4C_ERROR, "Could not cleanup priority");
      return APR_EGENERAL;
    }
  }
  int status = APR_SUCCESS;
  if (g_scheduler->cond != nullptr && apr_thread_cond_destroy(g_scheduler->cond) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Could not destroy mutex condition for background job threads");
    status = APR_EGENERAL;
  }
  if (g_scheduler->mutex != nullptr && apr_thread_mutex_destroy(g_scheduler->mutex) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Could not destroy mutex for background job threads");
    status = APR_EGENERAL;
  }
  apr_pool_t *pool = g_scheduler->pool;
  g_scheduler->~Scheduler();
  g_scheduler = nullptr;
  apr_pool_destroy(pool);
  return status;
}
