// CommonScheduler: background jobs on three workers, one per priority (0
// most urgent .. 2). One shared mutex lets one job run at a time; a job that
// gives way (returns 4) waits on a shared condition until more urgent work is
// done or the scheduler resumes. Each job lives in a pool of its own, freed
// after completion. Thread-safe; pause and resume are paired on one thread,
// which must not interrupt or stop a priority while it holds the pause. Logs
// on "CommonScheduler".
#pragma once

#include <apr_pools.h>

inline constexpr int SCHEDULER_PRIORITIES = 3;
inline constexpr int SCHEDULER_QUEUE_CAPACITY = 30;

// Returns 1 when the job running at priority must give way: the scheduler is
// paused, the priority is interrupted or stopping, or a more urgent priority
// has queued jobs; else 0.
using SchedulerShouldYield = int (*)(int priority);

// Runs one attempt (0, 1, 2...) of a job: 0 done, 4 gave way (run again
// later), anything else failed.
using SchedulerRunFn = int (*)(void *data, SchedulerShouldYield should_yield, int priority,
                               int attempt);

// Called once after the last attempt: 0 or a failure (logged only).
using SchedulerCompletionFn = int (*)(void *data);

// Creates the locks, queues and the three workers (under a child of pool).
// Returns 0, or 20014 after the creation failure's message, or after the
// internal-error text when the scheduler already runs.
int scheduler_init(apr_pool_t *pool);

// Queues a job under name unless a job of that name is already queued at
// that priority (then 0, nothing queued). completion may be null.
// Returns 0, or 20014: null name, bad priority or no scheduler (internal-error
// text), "Could not queue refresh job - the queue is full, failing request"
// (already 30 waiting), "Could not queue refresh job, failing request".
int scheduler_add_named(int priority, const char *name, SchedulerRunFn run,
                        SchedulerCompletionFn completion, void *data);

// As scheduler_add_named for a job without a name (never deduplicated).
int scheduler_add(int priority, SchedulerRunFn run, SchedulerCompletionFn completion, void *data);

// 1 when a job of that name is queued or running at priority, else 0.
int scheduler_is_queued(int priority, const char *name);

// Pause: counts up and takes the shared mutex, which waits for the running
// job to give way. Resume: counts down, releases the mutex, and at zero
// wakes every worker.
void scheduler_pause();
void scheduler_resume();

// Drops every job waiting at priority (the running one is asked to yield and
// is then dropped too). Returns 0, or 20014 ("Could not interrupt the queue").
int scheduler_interrupt(int priority);

// Stops the priority's worker and joins it; stopping a stopped priority
// succeeds. Returns 0, or 20014 ("Could not terminate the queue", "Could not
// join the thread, reason is %s").
int scheduler_stop(int priority);

// Stops the three priorities and destroys the locks; the scheduler may then
// be created again. Returns 0, or 20014 ("Could not cleanup priority",
// "Could not destroy mutex condition for background job threads", "Could not
// destroy mutex for background job threads").
int scheduler_term();

// The should-yield test handed to run functions.
int scheduler_should_yield(int priority);
