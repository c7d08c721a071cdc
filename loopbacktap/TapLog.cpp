#include "TapLog.h"

#include "TapPipe.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tap {

namespace {

void send_line(const char *routine, int line, const char *format, va_list args) {
  char message[kLogLineSize];
  std::vsnprintf(message, sizeof message, format, args);
  char text[kLogLineSize];
  int size = std::snprintf(text, sizeof text, "%s (line %d): %s", routine, line, message);
  if (size < 0) return;
  send_log_line(text, static_cast<uint32_t>(std::min<size_t>(static_cast<size_t>(size), sizeof text - 1)));
}

}  // namespace

void tap_log(const char *routine, int line, const char *format, ...) {
  if (!pipe_is_open()) return;
  va_list args;
  va_start(args, format);
  send_line(routine, line, format, args);
  va_end(args);
}

void tap_member_log(const char *cls, const char *method, int line, const char *format, ...) {
  if (!pipe_is_open()) return;
  char routine[128];
  std::snprintf(routine, sizeof routine, "%s::%s", cls, method);
  va_list args;
  va_start(args, format);
  send_line(routine, line, format, args);
  va_end(args);
}

}  // namespace tap
