// Logging calls, level predicates and the user callback over log4cxx.
#include "log4c.h"

#include <apr_errno.h>
#include <log4cxx/helpers/loglog.h>
#include <log4cxx/logger.h>
#include <log4cxx/propertyconfigurator.h>

#include <sstream>
#include <string>
#include <unordered_map>

namespace {

constexpr const char *kInvalidLevelNote = " (Invalid logging level for this message, using ERROR instead)";
constexpr const char *kDoubleBufferLog =
    "Invalid use of log4c_s/vprintf(), it can only be used for one of the messages";
constexpr const char *kDoubleBufferUser = "Internal error";

// log4cxx finds a logger by name in its repository, under a lock and after
// converting the name, for every call; a scan asks a few times per file, so
// each thread keeps the loggers of the modules it logged on. Loggers live as
// long as the repository, which keeps them across reconfiguration.
log4cxx::Logger *logger_of(const char *module) {
  thread_local std::unordered_map<std::string, log4cxx::LoggerPtr> known;
  auto found = known.find(module);
  if (found == known.end()) found = known.emplace(module, log4cxx::Logger::getLogger(module)).first;
  return found->second.get();
}

template <bool (log4cxx::Logger::*Enabled)() const>
int logger_enabled(const char *module) {
  try {
    return (logger_of(module)->*Enabled)() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

struct UserCallback {
  LogUserCallback callback = nullptr;
  int context = 0;
  int min_level = 0;
};
UserCallback g_user;

log4cxx::LevelPtr level_of(int level) {
  switch (level) {
    case LOG4C_DEBUG: return log4cxx::Level::getDebug();
    case LOG4C_INFO: return log4cxx::Level::getInfo();
    case LOG4C_WARN: return log4cxx::Level::getWarn();
    case LOG4C_FATAL: return log4cxx::Level::getFatal();
    default: return log4cxx::Level::getError();
  }
}

bool valid_level(int level) { return level >= LOG4C_DEBUG && level <= LOG4C_FATAL; }

// message with its line breaks and other control characters escaped ("\n",
// "\r", "\xHH"): a URL or a title from the network can never forge a record.
void put_escaped(std::ostringstream &text, const char *message) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char *c = message; *c != '\0'; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    if (byte == '\n') text << "\\n";
    else if (byte == '\r') text << "\\r";
    else if ((byte < 0x20 && byte != '\t') || byte == 0x7F) text << "\\x" << kHex[byte >> 4] << kHex[byte & 15];
    else text << *c;
  }
}

// Writes one record; log4cxx failures (a broken appender) must not reach the caller.
void write_record(const char *module, int level, const char *message, const char *file, int line) {
  try {
    int predicate = valid_level(level) ? level : LOG4C_ERROR;
    if (!log4c_is_enabled[predicate](module)) return;
    std::ostringstream text;
    put_escaped(text, message ? message : "");
    if (!valid_level(level)) text << kInvalidLevelNote;
    logger_of(module)->forcedLog(level_of(level), text.str(),
                      log4cxx::spi::LocationInfo(file ? file : "", file ? file : "", "", line));
  } catch (...) {
  }
}

}  // namespace

const Log4cEnabledFn log4c_is_enabled[5] = {
    logger_enabled<&log4cxx::Logger::isDebugEnabled>,
    logger_enabled<&log4cxx::Logger::isInfoEnabled>,
    logger_enabled<&log4cxx::Logger::isWarnEnabled>,
    logger_enabled<&log4cxx::Logger::isErrorEnabled>,
    logger_enabled<&log4cxx::Logger::isFatalEnabled>,
};

void log4c_log(const char *module, int level, const char *message, const char *file, int line) {
  write_record(module, level, message, file, line);
  UserCallback user = g_user;
  if (user.callback && level >= user.min_level)
    user.callback(level, message, -1, nullptr, user.context);
}

int log4c_fail(const char *module, const char *message) {
  log4c_log(module, LOG4C_ERROR, message, __FILE__, __LINE__);
  return APR_EGENERAL;
}

void log4c_log_ex(const char *module, int level, const char *message, int user_level,
                  const char *user_message, const char *file, int line) {
  if (message && message == user_message && log4c_is_thread_buffer(message)) {
    message = kDoubleBufferLog;
    user_message = kDoubleBufferUser;
  }
  write_record(module, level, message, file, line);
  UserCallback user = g_user;
  if (user.callback && user_level >= user.min_level)
    user.callback(level, message, user_level, user_message, user.context);
}

void log4c_configure(const char *path) {
  try {
    log4cxx::PropertyConfigurator::configure(log4cxx::File(path));
  } catch (...) {
  }
}

void log4c_quiet_unless_configured() {
  try {
    // Asking for the root logger runs log4cxx's default configuration.
    if (log4cxx::Logger::getRootLogger()->getAllAppenders().empty()) log4cxx::helpers::LogLog::setQuietMode(true);
  } catch (...) {
  }
}

void log4c_set_user_callback(LogUserCallback callback, int context, int min_level) {
  g_user = UserCallback{callback, context, min_level};
}
