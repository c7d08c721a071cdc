// Worker threads: the body runs on each thread of its own and a stop wakes
// the bodies waiting on the shared condition and joins them.
#include <gtest/gtest.h>

#include <apr_portable.h>

#include <set>

#include "CommonWorker.h"
#include "LogCapture.h"

namespace {

struct Crew {
  Worker worker;
  std::set<apr_os_thread_t> threads;
};

// Records its thread and waits on the condition until asked to stop, as the
// scan's workers do.
void join_crew(void *data) {
  auto *crew = static_cast<Crew *>(data);
  apr_thread_mutex_lock(crew->worker.lock);
  crew->threads.insert(apr_os_thread_current());
  apr_thread_cond_broadcast(crew->worker.changed);
  while (!crew->worker.stopping) apr_thread_cond_wait(crew->worker.changed, crew->worker.lock);
  apr_thread_mutex_unlock(crew->worker.lock);
}

// Starts count threads and waits until each runs the body.
void start_crew(apr_pool_t *pool, Crew &crew, int count) {
  ASSERT_EQ(worker_start(pool, &crew.worker, join_crew, &crew, count), 0);
  EXPECT_EQ(crew.worker.count, count);
  apr_thread_mutex_lock(crew.worker.lock);
  while (crew.threads.size() < static_cast<std::size_t>(count)) apr_thread_cond_wait(crew.worker.changed, crew.worker.lock);
  apr_thread_mutex_unlock(crew.worker.lock);
  EXPECT_EQ(crew.threads.count(apr_os_thread_current()), 0u);
}

TEST(CommonWorker, StopWakesTheWaitingBodiesAndJoinsTheirThreads) {
  for (int count : {1, 3}) {
    TestPool pool;
    Crew crew;
    start_crew(pool, crew, count);
    worker_stop(&crew.worker);
    EXPECT_EQ(crew.worker.count, 0);
    worker_stop(&crew.worker);  // a second stop finds nothing to join
  }
}

TEST(CommonWorker, WorkerNeverStartedIsIgnoredByStop) {
  Worker worker;
  worker_stop(&worker);
  EXPECT_FALSE(worker.stopping);
}

}  // namespace
