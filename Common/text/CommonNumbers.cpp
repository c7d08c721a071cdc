#include "CommonNumbers.h"

#include <apr_strings.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {
constexpr const char *kNumberTail = " \t\r\n";

// True when only the whitespace allowed after a number remains.
bool tail_is_blank(const char *end) { return end[std::strspn(end, kNumberTail)] == '\0'; }

// strtoll with the whole-text rule: a number, then only blanks.
bool read_int64(const char *text, apr_int64_t *out, const char **end) {
  if (text == nullptr) return false;
  char *stop = nullptr;
  errno = 0;
  long long value = std::strtoll(text, &stop, 10);
  if (stop == text || errno == ERANGE) return false;
  *out = value;
  *end = stop;
  return true;
}

constexpr struct {
  const char *name;
  int value;
} kBoolNames[] = {{"true", 1}, {"yes", 1}, {"1", 1}, {"false", 0}, {"no", 0}, {"0", 0}};
}  // namespace

int parse_int64(const char *text, apr_int64_t *out) {
  apr_int64_t value;
  const char *end;
  if (!read_int64(text, &value, &end) || !tail_is_blank(end)) return 0;
  *out = value;
  return 1;
}

int parse_int(const char *text, int *out) {
  apr_int64_t value;
  if (!parse_int64(text, &value) || value < INT_MIN || value > INT_MAX) return 0;
  *out = static_cast<int>(value);
  return 1;
}

int parse_uint(const char *text, unsigned int *out) {
  apr_int64_t value;
  if (!parse_int64(text, &value) || value < 0 || value > UINT_MAX) return 0;
  *out = static_cast<unsigned int>(value);
  return 1;
}

int parse_double(const char *text, double *out) {
  if (text == nullptr) return 0;
  char *stop = nullptr;
  errno = 0;
  double value = std::strtod(text, &stop);
  if (stop == text || errno == ERANGE || !tail_is_blank(stop)) return 0;
  *out = value;
  return 1;
}

int parse_int64_range(const char *text, apr_int64_t *first, apr_int64_t *last) {
  apr_int64_t low, high;
  const char *end;
  if (!read_int64(text, &low, &end)) return 0;
  end += std::strspn(end, kNumberTail);
  if (*end != '-' || !parse_int64(end + 1, &high)) return 0;
  *first = low;
  *last = high;
  return 1;
}

int parse_bool(const char *text, int *out) {
  if (text == nullptr) return 0;
  for (const auto &entry : kBoolNames) {
    if (strcasecmp(entry.name, text) == 0) {
      *out = entry.value;
      return 1;
    }
  }
  return 0;
}

const char *bool_name(int value) { return value ? "true" : "false"; }

namespace {

// Every oid a scan writes is formatted by one of these: std::to_chars costs
// a tenth of apr_psprintf's format parsing.
char *decimal(apr_pool_t *pool, apr_int64_t value) {
  DecimalDigits digits;
  const std::string_view text = decimal_digits(value, digits);
  return apr_pstrmemdup(pool, text.data(), text.size());
}

}  // namespace

std::string_view decimal_digits(apr_int64_t value, DecimalDigits &digits) {
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  return {digits, static_cast<std::size_t>(end - digits)};
}

char *str_from_uint(apr_pool_t *pool, unsigned int value) { return decimal(pool, value); }

char *str_from_int(apr_pool_t *pool, int value) { return decimal(pool, value); }

char *str_from_int64(apr_pool_t *pool, apr_int64_t value) { return decimal(pool, value); }
