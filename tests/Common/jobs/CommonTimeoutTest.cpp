// Timeouts: the due-time grid, firing on the timer thread, and the entry
// operations' refusals.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "CommonTimeout.h"
#include "LogCapture.h"

namespace {

using namespace std::chrono_literals;

std::atomic<int> g_thread_starts{0};
std::atomic<int> g_thread_ends{0};

void count_start() { g_thread_starts++; }
void count_end() { g_thread_ends++; }

void count_call(void *data) { (*static_cast<std::atomic<int> *>(data))++; }
void other_function(void *) {}

// Polls for up to 30 s: the timer fires on a one-second grid, later on a
// busy machine.
bool wait_until(const std::atomic<int> &value, int at_least) {
  for (int i = 0; i < 600 && value < at_least; i++) std::this_thread::sleep_for(50ms);
  return value >= at_least;
}

class TimeoutTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(timeout_init(pool, count_start, count_end), 0); }
  void TearDown() override { EXPECT_EQ(timeout_stop(), 0); }
  TestPool pool;
};

}  // namespace

TEST(TimeoutGrid, StartAnHourAgoFiresAtNextMarkOfItsGrid) {
  const apr_time_t now = apr_time_from_sec(1'700'000'000) + 123;
  const apr_time_t start = now - apr_time_from_sec(3600) - apr_time_from_sec(90);
  const apr_interval_time_t interval = apr_time_from_sec(600);
  EXPECT_EQ(timeout_first_due(start, interval, now), start + 7 * interval);
}

TEST(TimeoutGrid, FutureStartIsKeptAndNoIntervalNeverFires) {
  const apr_time_t now = apr_time_from_sec(1'700'000'000);
  EXPECT_EQ(timeout_first_due(now + 5, 60, now), now + 5);
  EXPECT_EQ(timeout_first_due(now + 5, 0, now), 0);
  EXPECT_EQ(timeout_first_due(0, 0, now), 0);
}

TEST_F(TimeoutTest, DueEntryFiresOnTimerThreadAndAgainAfterItsInterval) {
  std::atomic<int> calls{0};
  ASSERT_EQ(timeout_add(count_call, &calls, apr_time_now(), apr_time_from_sec(1)), 0);
  EXPECT_TRUE(wait_until(calls, 2));
  EXPECT_EQ(timeout_remove(count_call), 0);
  const int after_removal = calls;
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(calls, after_removal);
}

TEST_F(TimeoutTest, EntryWithoutIntervalNeverFires) {
  std::atomic<int> calls{0};
  ASSERT_EQ(timeout_add(count_call, &calls, 0, 0), 0);
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(timeout_update(count_call, &calls, apr_time_now() + apr_time_from_msec(200), apr_time_from_sec(3600)), 0);
  EXPECT_TRUE(wait_until(calls, 1));
}

TEST_F(TimeoutTest, UnknownOrNegativeEntriesAreRefused) {
  std::atomic<int> calls{0};
  EXPECT_EQ(timeout_add(count_call, &calls, 0, -1), 20014);
  EXPECT_EQ(timeout_remove(other_function), 20014);
  EXPECT_EQ(timeout_update(other_function, nullptr, 0, 10), 20014);
}

TEST(TimeoutLifecycle, ThreadHooksRunOnceAroundTheTimerThread) {
  TestPool pool;
  const int starts = g_thread_starts, ends = g_thread_ends;
  ASSERT_EQ(timeout_init(pool, count_start, count_end), 0);
  EXPECT_TRUE(wait_until(g_thread_starts, starts + 1));
  EXPECT_EQ(timeout_stop(), 0);
  EXPECT_EQ(g_thread_starts, starts + 1);
  EXPECT_EQ(g_thread_ends, ends + 1);
}

TEST(TimeoutLifecycle, CallsBeforeStartAreRefused) {
  LogCapture capture;
  EXPECT_EQ(timeout_add(other_function, nullptr, 0, 0), 20014);
  EXPECT_TRUE(capture.contains("unexpected software state"));
}
