// The kept reason of a failed action, filled by the log's user callback.
#include "FailureReason.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "log4c.h"

namespace {

// Warnings that name the cause of the error a caller logs after them (a
// transfer's failure becomes "Invalid or non audio/video URL"): the first
// of them in an action is the reason rather than that error.
constexpr const char *kCauses[] = {"Failure for url "};

std::mutex g_lock;
std::string g_error;
std::string g_cause;

bool names_a_cause(const char *message) {
  for (const char *prefix : kCauses) {
    if (std::strncmp(message, prefix, std::strlen(prefix)) == 0) return true;
  }
  return false;
}

void keep_first(int level, const char *message, int, const char *, int) {
  if (message == nullptr) return;
  std::lock_guard<std::mutex> hold(g_lock);
  std::string &kept = level >= LOG4C_ERROR ? g_error : g_cause;
  if (kept.empty() && (level >= LOG4C_ERROR || names_a_cause(message))) kept = message;
}

}  // namespace

void failure_reason_watch() { log4c_set_user_callback(keep_first, 0, LOG4C_WARN); }

void failure_reason_reset() {
  std::lock_guard<std::mutex> hold(g_lock);
  g_error.clear();
  g_cause.clear();
}

void failure_reason_print() {
  std::lock_guard<std::mutex> hold(g_lock);
  const std::string &reason = !g_cause.empty() ? g_cause : g_error;
  if (!reason.empty()) std::printf("Reason: %s\n", reason.c_str());
}
