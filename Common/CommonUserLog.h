// CommonUserLog: a ring of the last 100 events the user should see.
//
// 101 slots, one always free. Appends take the write lock, readers the read
// lock; the change counter lets a display tell whether anything was added
// since it last looked. A long-running host initialises it; sharectl does not.
// The entries live in static storage; the lock and thread key in the user
// log's own pool, a child of the pool given to user_log_init.
#pragma once

#include <apr_pools.h>
#include <apr_time.h>

#include <cstdarg>
#include <cstdint>

#include "CommonSerialize.h"

inline constexpr int USER_LOG_SLOTS = 101;
inline constexpr int USER_LOG_TEXT_SIZE = 512;

enum UserLogCategory : int {
  USER_LOG_ERROR = 1,
  USER_LOG_TRANSCODING = 2,
  USER_LOG_DOWNLOADING = 3,
  USER_LOG_STREAMING = 4,
  USER_LOG_SERVICE = 5,
  USER_LOG_DEVICE = 6,
};

struct UserLogEntry {
  int category;
  int code;
  apr_time_t time;
  char text[USER_LOG_TEXT_SIZE];
};

// Returns 0, or 20014 when the lock or the thread key cannot be created.
int user_log_init(apr_pool_t *parent);
void user_log_terminate();

// Appends an event whose text is the user message of code formatted with the
// arguments; returns the new change count.
uint32_t user_log_add(int category, int code, ...);
uint32_t user_log_vadd(int category, int code, va_list args);

// Adds "Error - <text>" unless this thread reported an error less than a
// second ago; every call restarts the thread's one-second window.
void user_log_report_error(const char *text);

uint32_t user_log_change_count();

// The category's display name ("error" .. "device"), or null for 0 and
// unknown categories.
const char *user_log_category_name(int category);

// Calls visit for every event, oldest first, under the read lock. Returns the
// number of events visited.
int user_log_for_each(void (*visit)(const UserLogEntry &entry, void *context), void *context);

// Adds one "message" record per event, oldest first, with the attributes
// code, category, text, date ("%Y-%m-%d") and time ("%X") in local time.
// Returns 0.
int user_log_serialize(SerializeBuffer *buffer);
