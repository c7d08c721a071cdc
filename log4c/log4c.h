// log4c: the one logging call every module uses, on top of log4cxx.
//
// A message goes to the logger named after the calling module, at a numeric
// level (0 DEBUG .. 4 FATAL), with the call site. Messages with arguments are
// built with log4c_sprintf into a 4096-byte buffer owned by the calling
// thread: it is never freed by the caller and stays valid until the same
// thread formats again. Any thread may log at any time; a logging call never
// fails from the caller's point of view.
#pragma once

#include <cstdarg>
#include <cstdint>

enum Log4cLevel : int {
  LOG4C_DEBUG = 0,
  LOG4C_INFO = 1,
  LOG4C_WARN = 2,
  LOG4C_ERROR = 3,
  LOG4C_FATAL = 4,
};

// Size of each thread's formatting buffer and the number of threads that can
// have one; the 1001st thread gets its format string back unformatted.
inline constexpr int LOG4C_BUFFER_SIZE = 4096;
inline constexpr int LOG4C_MAX_THREADS = 1000;

// Logs message on logger module, its line breaks and other control
// characters written as "\n", "\r" and "\xHH". A level outside 0..4 logs at ERROR with a
// note appended. When a user callback is installed and level is at least its
// minimum level, the callback also receives (level, message, -1, null).
void log4c_log(const char *module, int level, const char *message, const char *file, int line);

// As log4c_log, but the user callback receives a separate user level and user
// text (user level -1 and a null text mean none) and is chosen by user level.
// Passing the thread's format buffer as both texts is a caller error that is
// logged and replaced by fixed texts.
void log4c_log_ex(const char *module, int level, const char *message, int user_level,
                  const char *user_message, const char *file, int line);

// Logs message at ERROR on module and returns 20014 (APR_EGENERAL): the one
// way an operation reports a failure where it finds it.
int log4c_fail(const char *module, const char *message);

// Formats into the calling thread's buffer (at most 4095 characters; a longer
// text is cut and a WARN follows) and returns it. When the thread can get no
// buffer the format string itself comes back.
char *log4c_sprintf(const char *format, ...) __attribute__((format(printf, 1, 2)));
char *log4c_vprintf(const char *format, va_list args) __attribute__((format(printf, 1, 0)));
// True when text is the calling thread's formatting buffer.
bool log4c_is_thread_buffer(const char *text);

// log4c_is_enabled[level](module): non-zero when the logger is enabled for
// DEBUG, INFO, WARN, ERROR or FATAL.
using Log4cEnabledFn = int (*)(const char *module);
extern const Log4cEnabledFn log4c_is_enabled[5];

// Configures log4cxx from a log4j-style properties file.
void log4c_configure(const char *path);
// For a program that may run where log4cxx finds no configuration (a tool
// started outside an installation folder): when none was found, records are
// dropped without log4cxx's console warning about missing appenders. Such a
// program shows its errors through the user callback instead.
void log4c_quiet_unless_configured();

// A host that runs threads of its own may install locks around the buffer
// table; until then the layer guards the table with a lock of its own.
using Log4cLockFn = void (*)(int handle);
void log4c_set_lock_callbacks(int handle, Log4cLockFn write_lock, Log4cLockFn read_lock,
                              Log4cLockFn unlock);
void log4c_write_lock();
void log4c_read_lock();
void log4c_unlock();

using LogUserCallback = void (*)(int level, const char *message, int user_level,
                                 const char *user_message, int context);
void log4c_set_user_callback(LogUserCallback callback, int context, int min_level);

// Logs with the current source file and line.
#define LOG4C(module, level, message) log4c_log((module), (level), (message), __FILE__, __LINE__)
#define LOG4C_EX(module, level, message, user_level, user_message) \
  log4c_log_ex((module), (level), (message), (user_level), (user_message), __FILE__, __LINE__)
