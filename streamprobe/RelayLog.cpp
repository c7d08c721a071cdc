// The log4c calls the prober's code makes, kept as lines under one lock.
#include "RelayLog.h"

#include <apr_errno.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "log4c.h"

namespace {

// Module state.
std::mutex g_lock;
std::vector<ProbeLogLine> g_lines;
std::map<std::string, int, std::less<>> g_quietest;

template <int Level>
int level_enabled(const char *module) {
  const auto found = g_quietest.find(std::string_view(module));
  return found == g_quietest.end() || Level >= found->second ? 1 : 0;
}

}  // namespace

void relay_log_levels(int count, const char *const *arguments) {
  for (int i = 0; i < count; ++i) {
    const char *equals = std::strchr(arguments[i], '=');
    if (equals == nullptr) continue;
    g_quietest[std::string(arguments[i], equals)] = std::atoi(equals + 1);
  }
}

std::vector<ProbeLogLine> relay_log_take() {
  std::lock_guard<std::mutex> hold(g_lock);
  return std::exchange(g_lines, {});
}

const Log4cEnabledFn log4c_is_enabled[5] = {level_enabled<LOG4C_DEBUG>, level_enabled<LOG4C_INFO>,
                                            level_enabled<LOG4C_WARN>, level_enabled<LOG4C_ERROR>,
                                            level_enabled<LOG4C_FATAL>};

void log4c_log(const char *module, int level, const char *message, const char *, int) {
  if (level >= LOG4C_DEBUG && level <= LOG4C_FATAL && !log4c_is_enabled[level](module)) return;
  std::lock_guard<std::mutex> hold(g_lock);
  g_lines.push_back(ProbeLogLine{level, module, message ? message : ""});
}

void log4c_log_ex(const char *module, int level, const char *message, int, const char *, const char *file,
                  int line) {
  log4c_log(module, level, message, file, line);
}

int log4c_fail(const char *module, const char *message) {
  log4c_log(module, LOG4C_ERROR, message, __FILE__, __LINE__);
  return APR_EGENERAL;
}

void log4c_configure(const char *) {}

void log4c_set_user_callback(LogUserCallback, int, int) {}
