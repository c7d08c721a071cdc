// Worker threads: the body runs on its own thread and a stop wakes a body
// waiting on the shared condition and joins it.
#include <gtest/gtest.h>

#include <apr_portable.h>

#include "CommonWorker.h"
#include "LogCapture.h"

namespace {

struct Waiter {
  Worker worker;
  bool started = false;
  apr_os_thread_t thread{};
};

// Waits on the condition until asked to stop, as the scan's workers do.
void wait_for_stop(void *data) {
  auto *waiter = static_cast<Waiter *>(data);
  apr_thread_mutex_lock(waiter->worker.lock);
  waiter->started = true;
  waiter->thread = apr_os_thread_current();
  apr_thread_cond_broadcast(waiter->worker.changed);
  while (!waiter->worker.stopping) apr_thread_cond_wait(waiter->worker.changed, waiter->worker.lock);
  apr_thread_mutex_unlock(waiter->worker.lock);
}

TEST(CommonWorker, StopWakesAWaitingBodyAndJoinsItsThread) {
  TestPool pool;
  Waiter waiter;
  ASSERT_EQ(worker_start(pool, &waiter.worker, wait_for_stop, &waiter), 0);
  apr_thread_mutex_lock(waiter.worker.lock);
  while (!waiter.started) apr_thread_cond_wait(waiter.worker.changed, waiter.worker.lock);
  apr_thread_mutex_unlock(waiter.worker.lock);
  EXPECT_FALSE(apr_os_thread_equal(waiter.thread, apr_os_thread_current()));
  worker_stop(&waiter.worker);
  EXPECT_EQ(waiter.worker.thread, nullptr);
  worker_stop(&waiter.worker);  // a second stop finds nothing to join
}

TEST(CommonWorker, WorkerNeverStartedIsIgnoredByStop) {
  Worker worker;
  worker_stop(&worker);
  EXPECT_FALSE(worker.stopping);
}

}  // namespace
