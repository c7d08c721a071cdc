// Timer thread and its list of periodic functions. The thread sleeps on a
// condition for a second at a time, so that timeout_stop ends it at once
// instead of waiting out the sleep.
#include "CommonTimeout.h"

#include <apr_errno.h>
#include <apr_thread_cond.h>
#include <apr_thread_mutex.h>
#include <apr_thread_proc.h>
#include <apr_thread_rwlock.h>

#include <atomic>
#include <new>

#include "CommonUserMessage.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "CommonTimeout";
constexpr apr_interval_time_t kTick = apr_time_from_sec(1);

struct TimeoutEntry {
  TimeoutFn function;
  void *data;
  apr_interval_time_t interval;
  apr_time_t due;  // 0: never
  TimeoutEntry *next;
};

struct TimeoutList {
  apr_pool_t *pool = nullptr;
  apr_thread_rwlock_t *lock = nullptr;
  apr_thread_mutex_t *sleep_mutex = nullptr;
  apr_thread_cond_t *sleep_cond = nullptr;
  apr_thread_t *thread = nullptr;
  TimeoutThreadFn thread_start = nullptr;
  TimeoutThreadFn thread_end = nullptr;
  std::atomic<int> stop{0};
  TimeoutEntry *first = nullptr;
};

TimeoutList *g_timeouts = nullptr;

void fire_due_entries() {
  apr_thread_rwlock_rdlock(g_timeouts->lock);
  for (TimeoutEntry *entry = g_timeouts->first; entry != nullptr; entry = entry->next) {
    apr_time_t now = apr_time_now();
    if (entry->due == 0 || entry->due > now) continue;
    entry->function(entry->data);
    entry->due = now + entry->interval;
  }
  apr_thread_rwlock_unlock(g_timeouts->lock);
}

void *APR_THREAD_FUNC timer_thread(apr_thread_t *thread, void *) {
  if (g_timeouts->thread_start != nullptr) g_timeouts->thread_start();
  while (!g_timeouts->stop) {
    fire_due_entries();
    apr_thread_mutex_lock(g_timeouts->sleep_mutex);
    if (!g_timeouts->stop) apr_thread_cond_timedwait(g_timeouts->sleep_cond, g_timeouts->sleep_mutex, kTick);
    apr_thread_mutex_unlock(g_timeouts->sleep_mutex);
  }
  if (g_timeouts->thread_end != nullptr) g_timeouts->thread_end();
  apr_thread_exit(thread, APR_SUCCESS);
  return nullptr;
}

int start_thread(TimeoutList *list) {
  if (apr_thread_rwlock_create(&list->lock, list->pool) != APR_SUCCESS ||
      apr_thread_mutex_create(&list->sleep_mutex, APR_THREAD_MUTEX_DEFAULT, list->pool) != APR_SUCCESS ||
      apr_thread_cond_create(&list->sleep_cond, list->pool) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Could not create mutex");
    return APR_EGENERAL;
  }
  apr_threadattr_t *attr = nullptr;
  if (apr_threadattr_create(&attr, list->pool) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Could not create thread attribute for timeout");
    return APR_EGENERAL;
  }
  if (apr_threadattr_detach_set(attr, 0) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Could not set detach attribute of thread to false");
    return APR_EGENERAL;
  }
  if (apr_thread_create(&list->thread, attr, timer_thread, nullptr, list->pool) != APR_SUCCESS) {
    list->thread = nullptr;
    LOG4C(kModule, LOG4C_ERROR, "Could not create thread for handling timeouts");
    return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

void free_list() {
  apr_pool_t *pool = g_timeouts->pool;
  g_timeouts->~TimeoutList();
  g_timeouts = nullptr;
  apr_pool_destroy(pool);
}

bool started() {
  if (g_timeouts != nullptr && !g_timeouts->stop) return true;
  LOG4C(kModule, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
  return false;
}

TimeoutEntry **find_entry(TimeoutFn function) {
  TimeoutEntry **link = &g_timeouts->first;
  while (*link != nullptr && (*link)->function != function) link = &(*link)->next;
  return link;
}

}  // namespace

apr_time_t timeout_first_due(apr_time_t start, apr_interval_time_t interval, apr_time_t now) {
  if (interval <= 0) return 0;
  if (start >= now) return start;
  return now + interval - (now - start) % interval;
}

int timeout_init(apr_pool_t *pool, TimeoutThreadFn thread_start, TimeoutThreadFn thread_end) {
  if (g_timeouts != nullptr) {
    LOG4C(kModule, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return APR_EGENERAL;
  }
  apr_pool_t *own = pool_create_or_die(pool, kModule);
  g_timeouts = new (apr_pcalloc(own, sizeof(TimeoutList))) TimeoutList();
  g_timeouts->pool = own;
  g_timeouts->thread_start = thread_start;
  g_timeouts->thread_end = thread_end;
  if (start_thread(g_timeouts) != APR_SUCCESS) {
    g_timeouts->stop = 1;
    free_list();
    return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

int timeout_add(TimeoutFn function, void *data, apr_time_t start, apr_interval_time_t interval) {
  if (interval < 0 || function == nullptr || !started()) return APR_EGENERAL;
  auto *entry = static_cast<TimeoutEntry *>(apr_palloc(g_timeouts->pool, sizeof(TimeoutEntry)));
  apr_thread_rwlock_wrlock(g_timeouts->lock);
  *entry = TimeoutEntry{function, data, interval, timeout_first_due(start, interval, apr_time_now()),
                        g_timeouts->first};
  g_timeouts->first = entry;
  apr_thread_rwlock_unlock(g_timeouts->lock);
  return APR_SUCCESS;
}

int timeout_update(TimeoutFn function, void *data, apr_time_t start, apr_interval_time_t interval) {
  if (interval < 0 || !started()) return APR_EGENERAL;
  apr_thread_rwlock_wrlock(g_timeouts->lock);
  TimeoutEntry *entry = *find_entry(function);
  if (entry != nullptr) {
    entry->data = data;
    entry->interval = interval;
    entry->due = timeout_first_due(start, interval, apr_time_now());
  }
  apr_thread_rwlock_unlock(g_timeouts->lock);
  return entry != nullptr ? APR_SUCCESS : APR_EGENERAL;
}

int timeout_remove(TimeoutFn function) {
  if (!started()) return APR_EGENERAL;
  apr_thread_rwlock_wrlock(g_timeouts->lock);
  TimeoutEntry **link = find_entry(function);
  TimeoutEntry *entry = *link;
  if (entry != nullptr) *link = entry->next;
  apr_thread_rwlock_unlock(g_timeouts->lock);
  return entry != nullptr ? APR_SUCCESS : APR_EGENERAL;
}

int timeout_stop() {
  if (g_timeouts == nullptr) {
    LOG4C(kModule, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return APR_EGENERAL;
  }
  apr_thread_mutex_lock(g_timeouts->sleep_mutex);
  g_timeouts->stop = 1;
  apr_thread_cond_signal(g_timeouts->sleep_cond);
  apr_thread_mutex_unlock(g_timeouts->sleep_mutex);
  apr_status_t thread_status = APR_SUCCESS;
  apr_status_t status = apr_thread_join(&thread_status, g_timeouts->thread);
  if (status != APR_SUCCESS) {
    char reason[256];
    LOG4C(kModule, LOG4C_ERROR,
          log4c_sprintf("Could not join the timeout thread, reason is %s",
                        apr_strerror(status, reason, sizeof reason)));
    return APR_EGENERAL;
  }
  free_list();
  return APR_SUCCESS;
}
