// Worker threads: the body runs on its own thread and a stop wakes a body
// waiting on the shared condition and joins it.
#include <gtest/gtest.h>

#include <apr_portable.h>

#include <set>

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
  EXPECT_EQ(waiter.worker.count, 0);
  worker_stop(&waiter.worker);  // a second stop finds nothing to join
}

struct Crew {
  Worker worker;
  std::set<apr_os_thread_t> threads;
};

// Records its thread and waits for the stop, as the inspection workers do.
void join_crew(void *data) {
  auto *crew = static_cast<Crew *>(data);
  apr_thread_mutex_lock(crew->worker.lock);
  crew->threads.insert(apr_os_thread_current());
  apr_thread_cond_broadcast(crew->worker.changed);
  while (!crew->worker.stopping) apr_thread_cond_wait(crew->worker.changed, crew->worker.lock);
  apr_thread_mutex_unlock(crew->worker.lock);
}

TEST(CommonWorker, SeveralThreadsRunTheBodyAtOnceAndStopJoinsThemAll) {
  TestPool pool;
  Crew crew;
  ASSERT_EQ(worker_start(pool, &crew.worker, join_crew, &crew, 3), 0);
  EXPECT_EQ(crew.worker.count, 3);
  apr_thread_mutex_lock(crew.worker.lock);
  while (crew.threads.size() < 3) apr_thread_cond_wait(crew.worker.changed, crew.worker.lock);
  apr_thread_mutex_unlock(crew.worker.lock);
  EXPECT_EQ(crew.threads.count(apr_os_thread_current()), 0u);
  worker_stop(&crew.worker);
  EXPECT_EQ(crew.worker.count, 0);
}

TEST(CommonWorker, WorkerNeverStartedIsIgnoredByStop) {
  Worker worker;
  worker_stop(&worker);
  EXPECT_FALSE(worker.stopping);
}

}  // namespace
