// CommonWorker: one worker thread and the lock and condition its owner and
// the thread share, started and stopped in one way. The thread runs the
// CommonThreadInit hooks around its body; stopping sets `stopping` under the
// lock, wakes every waiter and joins the thread, so a body must leave once
// it sees the flag. The lock, condition and thread live in the pool given
// to worker_start, which must outlive worker_stop; the Worker itself must
// not move while its thread runs.
#pragma once

#include <apr_pools.h>
#include <apr_thread_cond.h>
#include <apr_thread_mutex.h>
#include <apr_thread_proc.h>

#include <atomic>

struct Worker {
  apr_thread_mutex_t *lock = nullptr;
  apr_thread_cond_t *changed = nullptr;
  apr_thread_t *thread = nullptr;
  std::atomic<bool> stopping{false};
  void (*body)(void *data) = nullptr;
  void *data = nullptr;
};

// Makes the lock and the condition in pool and runs body(data) on a new
// thread. Returns 0, or 20014 when a lock or the thread could not be made
// (nothing logged; nothing runs).
int worker_start(apr_pool_t *pool, Worker *worker, void (*body)(void *data), void *data);

// Asks the thread to stop, wakes every waiter on the condition and joins the
// thread. A worker that was never started is ignored.
void worker_stop(Worker *worker);
