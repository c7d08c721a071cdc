// The user log ring, its error-report throttle and its change counter.
#include "CommonUserLog.h"

#include <apr_strings.h>
#include <apr_thread_proc.h>
#include <apr_thread_rwlock.h>

#include <atomic>
#include <iterator>
#include <cstdio>

#include "CommonUserMessage.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "CommonUserLog";
constexpr const char *kCategoryNames[] = {nullptr, "error", "transcoding", "downloading",
                                          "streaming", "service", "device"};
constexpr apr_interval_time_t kErrorReportInterval = 1000000;

struct UserLog {
  UserLogEntry entries[USER_LOG_SLOTS];
  int head = 0;
  int tail = 0;
  apr_thread_rwlock_t *lock = nullptr;
  apr_pool_t *pool = nullptr;
  apr_threadkey_t *last_error_key = nullptr;
};

UserLog g_log;
std::atomic<uint32_t> g_change_count{0};

void free_report_time(void *time) { delete static_cast<apr_time_t *>(time); }

constexpr apr_size_t kAttributeSize = 1024;

// Formats the event time into text with format, in local time.
const char *local_time_text(char (&text)[kAttributeSize], apr_time_t time, const char *format) {
  apr_time_exp_t local{};
  apr_size_t length = 0;
  text[0] = '\0';
  if (apr_time_exp_lt(&local, time) == APR_SUCCESS) apr_strftime(text, &length, sizeof text, format, &local);
  return text;
}

void serialize_entry(const UserLogEntry &entry, void *context) {
  auto *buffer = static_cast<SerializeBuffer *>(context);
  char text[kAttributeSize];
  serialize_new_record(buffer, "message");
  apr_snprintf(text, sizeof text, "%d", entry.code);
  serialize_add(buffer, "@code", 0, text);
  serialize_add(buffer, "@category", 0, user_log_category_name(entry.category));
  serialize_add_escaped(buffer, "@text", 0, entry.text);
  serialize_add(buffer, "@date", 0, local_time_text(text, entry.time, "%Y-%m-%d"));
  serialize_add(buffer, "@time", 0, local_time_text(text, entry.time, "%X"));
}

}  // namespace

int user_log_init(apr_pool_t *parent) {
  if (apr_thread_rwlock_create(&g_log.lock, parent) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Could no create mutex");
    return APR_EGENERAL;
  }
  g_log.pool = pool_create_or_die(parent, kModule);
  if (apr_threadkey_private_create(&g_log.last_error_key, free_report_time, g_log.pool) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Could not create threadkey");
    return APR_EGENERAL;
  }
  g_log.head = g_log.tail = 0;
  g_change_count = 0;
  return APR_SUCCESS;
}

void user_log_terminate() { g_log.lock = nullptr; }

uint32_t user_log_vadd(int category, int code, va_list args) {
  apr_thread_rwlock_wrlock(g_log.lock);
  UserLogEntry &entry = g_log.entries[g_log.tail];
  entry.category = category;
  entry.code = code;
  entry.time = apr_time_now();
  const char *format = user_message_current(code);
  int length = vsnprintf(entry.text, sizeof entry.text, format ? format : "", args);
  if (length < 0 || length >= USER_LOG_TEXT_SIZE) {
    entry.text[USER_LOG_TEXT_SIZE - 1] = '\0';
    LOG4C(kModule, LOG4C_WARN, "Static buffer is too small, trimming user log message to fit buffer");
  }
  if (category != USER_LOG_ERROR) LOG4C(kModule, LOG4C_INFO, entry.text);
  g_log.tail = (g_log.tail + 1) % USER_LOG_SLOTS;
  if (g_log.tail == g_log.head) g_log.head = (g_log.head + 1) % USER_LOG_SLOTS;
  apr_thread_rwlock_unlock(g_log.lock);
  return ++g_change_count;
}

uint32_t user_log_add(int category, int code, ...) {
  va_list args;
  va_start(args, code);
  uint32_t count = user_log_vadd(category, code, args);
  va_end(args);
  return count;
}

void user_log_report_error(const char *text) {
  void *stored = nullptr;
  if (apr_threadkey_private_get(&stored, g_log.last_error_key) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Could not get thread private memory");
    return;
  }
  auto *last = static_cast<apr_time_t *>(stored);
  apr_time_t now = apr_time_now();
  if (!last || now - *last > kErrorReportInterval) user_log_add(USER_LOG_ERROR, 2, "Error - ", text);
  if (!last) {
    last = new apr_time_t(now);
    if (apr_threadkey_private_set(last, g_log.last_error_key) != APR_SUCCESS) {
      delete last;
      LOG4C(kModule, LOG4C_ERROR, "Could not set thread private memory");
    }
  } else {
    *last = now;
  }
}

uint32_t user_log_change_count() { return g_change_count; }

const char *user_log_category_name(int category) {
  if (category < 0 || category >= static_cast<int>(std::size(kCategoryNames))) return nullptr;
  return kCategoryNames[category];
}

int user_log_for_each(void (*visit)(const UserLogEntry &entry, void *context), void *context) {
  apr_thread_rwlock_rdlock(g_log.lock);
  int visited = 0;
  for (int i = g_log.head; i != g_log.tail; i = (i + 1) % USER_LOG_SLOTS, ++visited)
    visit(g_log.entries[i], context);
  apr_thread_rwlock_unlock(g_log.lock);
  return visited;
}

int user_log_serialize(SerializeBuffer *buffer) {
  user_log_for_each(serialize_entry, buffer);
  return APR_SUCCESS;
}
