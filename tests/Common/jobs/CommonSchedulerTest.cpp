// Background jobs: deduplication of named jobs, yielding to more urgent
// work, the queue's capacity, pause, interrupt and failure reports.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CommonScheduler.h"
#include "LogCapture.h"

namespace {

using namespace std::chrono_literals;

// What the jobs of one test record, and a gate that holds a job until opened.
struct Journal {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> events;
  bool gate_open = false;

  void note(const std::string &event) {
    std::lock_guard lock(mutex);
    events.push_back(event);
    changed.notify_all();
  }
  bool wait_for(size_t count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 10s, [&] { return events.size() >= count; });
  }
  void open_gate() {
    std::lock_guard lock(mutex);
    gate_open = true;
    changed.notify_all();
  }
  std::vector<std::string> snapshot() {
    std::lock_guard lock(mutex);
    return events;
  }
};

struct Job {
  Journal *journal;
  std::string name;
};

int record(void *data, SchedulerShouldYield, int, int) {
  auto *job = static_cast<Job *>(data);
  job->journal->note(job->name);
  return 0;
}

// Notes its start, then holds the worker until the gate opens.
int gated(void *data, SchedulerShouldYield, int, int) {
  auto *job = static_cast<Job *>(data);
  job->journal->note(job->name);
  std::unique_lock lock(job->journal->mutex);
  job->journal->changed.wait(lock, [&] { return job->journal->gate_open; });
  return 0;
}

// Gives way whenever asked; notes each attempt.
int polite(void *data, SchedulerShouldYield should_yield, int priority, int attempt) {
  auto *job = static_cast<Job *>(data);
  job->journal->note(job->name + " attempt " + std::to_string(attempt));
  if (attempt > 0) return 0;
  for (int i = 0; i < 1000; i++) {
    if (should_yield(priority)) return 4;
    std::this_thread::sleep_for(10ms);
  }
  return 0;
}

int failing(void *, SchedulerShouldYield, int, int) { return 20014; }

int completed(void *data) {
  auto *job = static_cast<Job *>(data);
  job->journal->note(job->name + " done");
  return 0;
}

class SchedulerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(scheduler_init(pool), 0); }
  void TearDown() override { EXPECT_EQ(scheduler_term(), 0); }
  TestPool pool;
  Journal journal;
};

}  // namespace

TEST_F(SchedulerTest, SecondCreationFails) {
  LogCapture capture;
  EXPECT_EQ(scheduler_init(pool), 20014);
  EXPECT_TRUE(capture.contains("unexpected software state"));
}

TEST_F(SchedulerTest, SameNamedJobQueuedTwiceRunsOnce) {
  Job gate{&journal, "gate"}, refresh{&journal, "refresh"}, last{&journal, "last"};
  ASSERT_EQ(scheduler_add(1, gated, nullptr, &gate), 0);
  ASSERT_TRUE(journal.wait_for(1));
  EXPECT_EQ(scheduler_add_named(1, "autorefresh", record, completed, &refresh), 0);
  EXPECT_EQ(scheduler_add_named(1, "autorefresh", record, completed, &refresh), 0);
  EXPECT_EQ(scheduler_is_queued(1, "autorefresh"), 1);
  EXPECT_EQ(scheduler_is_queued(0, "autorefresh"), 0);
  // Queued behind anything the second add could have queued: once it ran,
  // a duplicate would have run too, and the first one's name is released.
  ASSERT_EQ(scheduler_add(1, record, nullptr, &last), 0);
  journal.open_gate();
  ASSERT_TRUE(journal.wait_for(4));
  EXPECT_EQ(journal.snapshot(), (std::vector<std::string>{"gate", "refresh", "refresh done", "last"}));
  EXPECT_EQ(scheduler_is_queued(1, "autorefresh"), 0);
}

TEST_F(SchedulerTest, NullNameIsRefused) {
  LogCapture capture;
  EXPECT_EQ(scheduler_add_named(0, nullptr, record, nullptr, &journal), 20014);
  EXPECT_EQ(scheduler_add(3, record, nullptr, &journal), 20014);
  EXPECT_EQ(capture.count("CommonScheduler", 3,
                          "Internal server error, unexpected software state encountered. It is "
                          "recommended to close the application."),
            2);
}

TEST_F(SchedulerTest, LowPriorityJobGivesWayToUrgentJobAndResumes) {
  Job slow{&journal, "slow"}, urgent{&journal, "urgent"};
  ASSERT_EQ(scheduler_add(2, polite, completed, &slow), 0);
  ASSERT_TRUE(journal.wait_for(1));
  ASSERT_EQ(scheduler_add(0, record, nullptr, &urgent), 0);
  ASSERT_TRUE(journal.wait_for(4));
  EXPECT_EQ(journal.snapshot(),
            (std::vector<std::string>{"slow attempt 0", "urgent", "slow attempt 1", "slow done"}));
}

TEST_F(SchedulerTest, ThirtyFirstWaitingJobFailsWithQueueFull) {
  LogCapture capture;
  Job gate{&journal, "gate"}, job{&journal, "job"};
  ASSERT_EQ(scheduler_add(2, gated, nullptr, &gate), 0);
  ASSERT_TRUE(journal.wait_for(1));
  for (int i = 0; i < SCHEDULER_QUEUE_CAPACITY; i++) EXPECT_EQ(scheduler_add(2, record, nullptr, &job), 0);
  EXPECT_EQ(scheduler_add_named(2, "one too many", record, nullptr, &job), 20014);
  EXPECT_EQ(capture.count("CommonScheduler", 3, "Could not queue refresh job - the queue is full, failing request"), 1);
  EXPECT_EQ(scheduler_is_queued(2, "one too many"), 0);
  journal.open_gate();
  EXPECT_TRUE(journal.wait_for(1 + SCHEDULER_QUEUE_CAPACITY));
}

TEST_F(SchedulerTest, PausedSchedulerRunsNothingUntilResumed) {
  Job job{&journal, "job"};
  scheduler_pause();
  ASSERT_EQ(scheduler_add(1, record, nullptr, &job), 0);
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(journal.snapshot().empty());
  scheduler_resume();
  EXPECT_TRUE(journal.wait_for(1));
}

TEST_F(SchedulerTest, InterruptDropsWaitingJobs) {
  Job slow{&journal, "slow"}, waiting{&journal, "waiting"}, later{&journal, "later"};
  ASSERT_EQ(scheduler_add(2, polite, completed, &slow), 0);
  ASSERT_TRUE(journal.wait_for(1));
  ASSERT_EQ(scheduler_add(2, record, nullptr, &waiting), 0);
  EXPECT_EQ(scheduler_interrupt(2), 0);
  ASSERT_TRUE(journal.wait_for(2));
  // The worker drops the waiting jobs after the completion, then stops
  // asking its jobs to yield: a job added before that would be dropped too.
  for (int i = 0; i < 1000 && scheduler_should_yield(2); i++) std::this_thread::sleep_for(10ms);
  ASSERT_EQ(scheduler_should_yield(2), 0);
  ASSERT_EQ(scheduler_add(2, record, nullptr, &later), 0);
  ASSERT_TRUE(journal.wait_for(3));
  EXPECT_EQ(journal.snapshot(), (std::vector<std::string>{"slow attempt 0", "slow done", "later"}));
}

TEST_F(SchedulerTest, FailedJobIsLoggedAndCompletionStillRuns) {
  LogCapture capture;
  Job job{&journal, "broken"};
  ASSERT_EQ(scheduler_add(0, failing, completed, &job), 0);
  ASSERT_TRUE(journal.wait_for(1));
  EXPECT_EQ(capture.count("CommonScheduler", 3, "Job failed, ignoring..."), 1);
}

TEST_F(SchedulerTest, StoppedPriorityRefusesJobsWhileOthersRun) {
  LogCapture capture;
  EXPECT_EQ(scheduler_stop(1), 0);
  EXPECT_EQ(scheduler_stop(1), 0);
  Job job{&journal, "job"};
  EXPECT_EQ(scheduler_add(1, record, nullptr, &job), 20014);
  EXPECT_EQ(capture.count("CommonScheduler", 3, "Could not queue refresh job, failing request"), 1);
  EXPECT_EQ(scheduler_add(0, record, nullptr, &job), 0);
  EXPECT_TRUE(journal.wait_for(1));
}
