// The kept reason of a failed action, filled by the log's user callback.
#include "FailureReason.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "log4c.h"

namespace {

std::mutex g_lock;
std::string g_reason;

void keep_first(int, const char *message, int, const char *, int) {
  if (message == nullptr) return;
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_reason.empty()) g_reason = message;
}

}  // namespace

void failure_reason_watch() { log4c_set_user_callback(keep_first, 0, LOG4C_ERROR); }

void failure_reason_reset() {
  std::lock_guard<std::mutex> hold(g_lock);
  g_reason.clear();
}

void failure_reason_print() {
  std::lock_guard<std::mutex> hold(g_lock);
  if (!g_reason.empty()) std::printf("Reason: %s\n", g_reason.c_str());
}
