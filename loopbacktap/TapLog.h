// TapLog: the capture library's log statements and debug strings. A log line
// is "<routine> (line <n>): <message>" in at most 1,024 bytes, sent through
// the pipe as a log-line message; with no pipe open it goes nowhere.
// Thread-safe.
#pragma once

namespace tap {

constexpr int kLogLineSize = 1024;

// Formats and sends one log line; routine is the qualified routine name.
void tap_log(const char *routine, int line, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
// The same for a member routine: "<cls>::<method>".
void tap_member_log(const char *cls, const char *method, int line, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

}  // namespace tap

#define TAP_LOG(routine, ...) ::tap::tap_log(routine, __LINE__, __VA_ARGS__)
#define TAP_MEMBER_LOG(cls, method, ...) ::tap::tap_member_log(cls, method, __LINE__, __VA_ARGS__)
