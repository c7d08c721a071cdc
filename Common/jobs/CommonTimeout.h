// CommonTimeout: functions called periodically from one timer thread that
// checks once a second. Each entry is keyed by its function and fires on the
// grid start + k * interval. Entries live in the module's pool from
// timeout_init to timeout_stop. A read-write lock guards the list; timeout
// functions run on the timer thread under the read lock and must not add,
// change or remove timeouts. Logs on "CommonTimeout".
#pragma once

#include <apr_pools.h>
#include <apr_time.h>

using TimeoutFn = void (*)(void *data);
using TimeoutThreadFn = void (*)();

// Starts the timer thread (under a child of pool), which runs thread_start
// first and thread_end last (either may be null). Returns 0, or 20014 after
// "Could not create mutex", "Could not create thread attribute for timeout",
// "Could not set detach attribute of thread to false" or "Could not create
// thread for handling timeouts", or the internal-error text when already
// started.
int timeout_init(apr_pool_t *pool, TimeoutThreadFn thread_start, TimeoutThreadFn thread_end);

// Adds an entry. A zero interval never fires. Returns 0, or 20014 for a
// negative interval or when the module is not started (internal-error text).
int timeout_add(TimeoutFn function, void *data, apr_time_t start, apr_interval_time_t interval);

// Replaces data, start and interval of function's entry. Returns 0, or 20014
// when there is no such entry or the interval is negative.
int timeout_update(TimeoutFn function, void *data, apr_time_t start, apr_interval_time_t interval);

// Removes function's entry. Returns 0, or 20014 when there is none.
int timeout_remove(TimeoutFn function);

// Stops and joins the timer thread and frees the list; the module may then
// be started again. Returns 0, or 20014 ("Could not join the timeout
// thread, reason is %s").
int timeout_stop();

// The first due time of an entry at time now: 0 (never) without an
// interval; start when it is now or later; else the first point of the grid
// start + k * interval after now.
apr_time_t timeout_first_due(apr_time_t start, apr_interval_time_t interval, apr_time_t now);
