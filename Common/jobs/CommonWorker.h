// CommonWorker: worker threads (one, or a few running the same body) and
// the lock and condition their owner and the threads share, started and
// stopped in one way. Each thread runs the CommonThreadInit hooks around its
// body; stopping sets `stopping` under the lock, wakes every waiter and joins
// the threads, so a body must leave once it sees the flag. The lock,
// condition and threads live in the pool given to worker_start, which must
// outlive worker_stop; the Worker itself must not move while its threads run.
#pragma once

#include <apr_pools.h>
#include <apr_thread_cond.h>
#include <apr_thread_mutex.h>
#include <apr_thread_proc.h>

#include <atomic>

inline constexpr int WORKER_MAX_THREADS = 8;

struct Worker {
  apr_thread_mutex_t *lock = nullptr;
  apr_thread_cond_t *changed = nullptr;
  apr_thread_t *threads[WORKER_MAX_THREADS] = {};
  int count = 0;  // threads running
  std::atomic<bool> stopping{false};
  void (*body)(void *data) = nullptr;
  void *data = nullptr;
};

// Makes the lock and the condition in pool and runs body(data) on threads
// new threads (1 to WORKER_MAX_THREADS). Returns 0, or 20014 when a lock or
// a thread could not be made (nothing logged; the threads already started
// are stopped, nothing runs).
int worker_start(apr_pool_t *pool, Worker *worker, void (*body)(void *data), void *data, int threads = 1);

// Asks the threads to stop, wakes every waiter on the condition and joins the
// threads. A worker that was never started is ignored.
void worker_stop(Worker *worker);
