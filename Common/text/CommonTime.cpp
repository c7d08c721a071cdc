#include "CommonTime.h"

#include <apr_date.h>
#include <apr_lib.h>
#include <apr_strings.h>

#include <cstdint>
#include <cstring>

#include "Common.h"
#include "CommonNumbers.h"
#include "log4c.h"

namespace {
constexpr std::size_t kFieldBufferSize = 1024;
constexpr apr_time_t kHundredth = 10000;

// A cursor over an ISO 8601 text; each reader returns false on a malformed
// part and leaves the cursor after what it read.
struct Cursor {
  const char *p;

  bool number(int *value) {
    std::size_t digits = std::strspn(p, "0123456789");
    if (digits == 0 || digits >= kFieldBufferSize) return false;
    char field[kFieldBufferSize];
    std::memcpy(field, p, digits);
    field[digits] = '\0';
    p += digits;
    return parse_int(field, value) == 1;
  }
  bool literal(char c) {
    if (*p != c) return false;
    ++p;
    return true;
  }
};

// Reads "hh:mm:ss[.f|,f]" into exploded; fraction digits count hundredths.
bool read_time(Cursor &in, apr_time_exp_t *exploded) {
  if (!in.number(&exploded->tm_hour) || !in.literal(':') || !in.number(&exploded->tm_min) ||
      !in.literal(':') || !in.number(&exploded->tm_sec))
    return false;
  if (*in.p == '.' || *in.p == ',') {
    ++in.p;
    int fraction = 0;
    // Hundredths beyond what a microsecond field holds are malformed.
    if (!in.number(&fraction) || fraction > INT32_MAX / kHundredth) return false;
    exploded->tm_usec = static_cast<apr_int32_t>(fraction * kHundredth);
  }
  return true;
}

// Reads the zone ("Z", "+hh:mm", "-hh:mm" or nothing) as seconds east of UTC.
bool read_zone(Cursor &in, long *offset) {
  *offset = 0;
  if (*in.p == '\0' || in.literal('Z')) return *in.p == '\0';
  int sign = *in.p == '+' ? 1 : *in.p == '-' ? -1 : 0;
  if (sign == 0) return false;
  ++in.p;
  int hours = 0, minutes = 0;
  if (!in.number(&hours) || !in.literal(':') || !in.number(&minutes) || *in.p != '\0') return false;
  if (hours > 23 || minutes > 59) return false;
  *offset = sign * (hours * 3600L + minutes * 60L);
  return true;
}

// Fields beyond their ranges are malformed; they would also overflow the
// microsecond count of the instant (a year of seven digits already does).
bool fields_in_range(int year, int month, const apr_time_exp_t &t) {
  return year >= 0 && year <= 9999 && month >= 1 && month <= 12 && t.tm_mday >= 1 && t.tm_mday <= 31 &&
         t.tm_hour <= 24 && t.tm_min <= 59 && t.tm_sec <= 60;
}
}  // namespace

char *time_rfc822(apr_pool_t *pool, apr_time_t time) {
  if (time < 0) return nullptr;
  char *text = static_cast<char *>(apr_palloc(pool, APR_RFC822_DATE_LEN));
  return apr_rfc822_date(text, time) == APR_SUCCESS ? text : nullptr;
}

char *time_iso8601(apr_pool_t *pool, const apr_time_exp_t *time) {
  // Zero-padded, so that time_iso8601_parse and other readers take it back.
  return apr_psprintf(pool, "%04d-%02d-%02dT%02d:%02d:%02d", time->tm_year + 1900, time->tm_mon + 1,
                      time->tm_mday, time->tm_hour, time->tm_min, time->tm_sec);
}

char *time_date_only(apr_pool_t *pool, const char *rfc822) {
  apr_time_t time = rfc822 != nullptr ? apr_date_parse_rfc(rfc822) : APR_DATE_BAD;
  apr_time_exp_t exploded;
  if (time == APR_DATE_BAD || apr_time_exp_lt(&exploded, time) != APR_SUCCESS) return nullptr;
  char *text = static_cast<char *>(apr_palloc(pool, 16));
  apr_size_t length = 0;
  apr_strftime(text, &length, 16, "%Y-%m-%d", &exploded);
  return text;
}

apr_time_t time_iso8601_parse(const char *text) {
  if (text == nullptr) return -1;
  Cursor in{text};
  apr_time_exp_t exploded{};
  int year = 0, month = 0;
  if (!in.number(&year) || !in.literal('-') || !in.number(&month) || !in.literal('-') ||
      !in.number(&exploded.tm_mday))
    return -1;
  exploded.tm_year = year - 1900;
  exploded.tm_mon = month - 1;
  long offset = 0;
  if (*in.p != '\0' && (!in.literal('T') || !read_time(in, &exploded))) return -1;
  if (!read_zone(in, &offset)) return -1;
  apr_time_t result;
  if (!fields_in_range(year, month, exploded) || apr_time_exp_gmt_get(&result, &exploded) != APR_SUCCESS) return -1;
  return result - apr_time_from_sec(offset);
}

char *duration_format(apr_pool_t *pool, int seconds) {
  return apr_psprintf(pool, "%02d:%02d:%02d.000", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

const char *duration_normalize(apr_pool_t *pool, const char *text) {
  if (text != nullptr && std::strchr(text, ':') != nullptr) return text;
  int seconds = 0;
  if (text == nullptr || parse_int(text, &seconds) != 1 || seconds < 0) {
    LOG4C(COMMON_MODULE, LOG4C_ERROR,
          log4c_sprintf("Invalid duration string %s", text != nullptr ? text : "(null)"));
    return nullptr;
  }
  return duration_format(pool, seconds);
}
