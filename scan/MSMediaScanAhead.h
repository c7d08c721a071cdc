// MSMediaScanAhead: worker threads, one per core but the scan thread's (at
// least one), that inspect the files of a walk ahead of the scan's thread,
// so that a new or changed file's facts are (usually) ready when the scan
// reaches it, while the scan's thread spends its time in the library.
//
// The scan's thread submits jobs in the order it will process their files,
// takes them in that order and releases each, oldest first; the workers
// start them in that order and may finish them in any. At most AHEAD_WINDOW
// jobs are out; each has a pool of its own, cleared on release. A worker
// runs the CommonThreadInit hooks, never calls the scan's cancel check and
// touches nothing but its job. Logs on "MSMediaScan".
#pragma once

#include <apr_pools.h>

#include "MSMediaScanInspect.h"

inline constexpr int AHEAD_WINDOW = 16;

struct ScanAhead;
struct AheadJob;

// Whether walks inspect ahead; on unless turned off. Internal: the tests
// compare a library scanned both ways.
void msms_ahead_enable(bool on);
bool msms_ahead_enabled();

// Starts the workers, with a pool of their own under pool. Returns 0 with
// *ahead, or 20014 (logged "Could not start the inspection thread"; the
// walk then inspects every file at its turn).
int msms_ahead_start(apr_pool_t *pool, ScanAhead **ahead);

// Waits for the jobs being inspected, joins the workers and frees
// everything; jobs not released by then are dropped. A null ahead is ignored.
void msms_ahead_stop(ScanAhead *ahead);

// Queues the inspection of request (its texts are copied). Returns the job,
// or null when AHEAD_WINDOW jobs are out.
AheadJob *msms_ahead_submit(ScanAhead *ahead, const InspectRequest &request);

// Whether a job may be submitted now. Only the scan's thread submits and
// releases, so the answer holds until it does either.
bool msms_ahead_has_room(const ScanAhead *ahead);

// Waits until a worker is done with job. Returns its facts (valid until
// the job is released), or null when the file was missing at the worker's
// turn and must be inspected at the scan's.
const FileFacts *msms_ahead_take(ScanAhead *ahead, AheadJob *job);

// Gives the oldest job back, taken or not: a queued job is dropped, one
// being inspected is waited for.
void msms_ahead_release(ScanAhead *ahead, AheadJob *job);

