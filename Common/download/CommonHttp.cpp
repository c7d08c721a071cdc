#include "CommonHttp.h"

#include <apr_lib.h>
#include <apr_strings.h>

#include <cstring>
#include <string_view>
#include <strings.h>

#include "Common.h"
#include "CommonEscape.h"
#include "CommonUserMessage.h"
#include "CommonUtf8.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {
constexpr std::size_t kRangeNumberSize = 128;
constexpr std::size_t kIntTextSize = 16;

// Separators between URL arguments, longest first: the text may have been
// escaped once or twice before it reached us.
constexpr std::string_view kArgSeparators[] = {"&amp;amp;", "&amp;", "&"};

const char *skip_blanks(const char *p) { return p + std::strspn(p, " \t\r\n\f"); }

// Reads a run of digits through a 128-byte buffer. Returns 1 with the value,
// 0 when there are no digits, -1 after the internal-error text.
int read_range_number(const char **p, apr_int64_t *value) {
  std::size_t digits = std::strspn(*p, "0123456789");
  if (digits == 0) return 0;
  if (digits >= kRangeNumberSize) {
    LOG4C(COMMON_MODULE, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return -1;
  }
  char buffer[kRangeNumberSize];
  std::memcpy(buffer, *p, digits);
  buffer[digits] = '\0';
  *p += digits;
  *value = apr_strtoi64(buffer, nullptr, 10);
  return 1;
}

// Writes the replacement over the placeholder [start, start + size) of text
// (length bytes), cut to size; a shorter one closes the gap.
void replace_placeholder(char *text, std::size_t length, char *start, std::size_t size,
                         const char *value) {
  std::size_t used = strnlen(value, size);
  std::memcpy(start, value, used);
  if (used == size) return;
  std::size_t gap = size - used;
  char *rest = start + size;
  std::size_t rest_length = std::strlen(rest);
  std::memmove(start + used, rest, rest_length);
  char *end = start + used + rest_length;
  std::memset(end, 0,
              static_cast<std::size_t>(text + length - end) < gap ? text + length - end : gap);
}

// The text of variable i, or null for an unknown type.
const char *variable_text(apr_pool_t *pool, const void *value, int type) {
  if (type == TEMPLATE_INT) return apr_psprintf(pool, "%d", *static_cast<const int *>(value));
  if (type != TEMPLATE_STRING) return nullptr;
  const char *text = value != nullptr ? static_cast<const char *>(value) : "";
  return utf8_is_xml_text(text) ? text : text_to_utf8(pool, nullptr, text, std::strlen(text));
}

int find_name(const char *placeholder, std::size_t size, const char *const *names, int count) {
  for (int i = 0; i < count; ++i)
    if (names[i] != nullptr && std::strlen(names[i]) == size &&
        strncasecmp(names[i], placeholder, size) == 0)
      return i;
  return -1;
}

std::size_t separator_length(const char *p) {
  for (std::string_view separator : kArgSeparators)
    if (std::strncmp(p, separator.data(), separator.size()) == 0) return separator.size();
  return 0;
}

int bad_arguments(const char *url, const char *at) {
  LOG4C(COMMON_MODULE, LOG4C_ERROR,
        log4c_sprintf("Invalid URL arguments for url %s at %s", url, at));
  return APR_EGENERAL;
}
}  // namespace

int protocol_info_split(apr_pool_t *pool, const char *text, char **protocol, char **network,
                        char **format, char **info) {
  char **fields[] = {protocol, network, format, info};
  for (char **field : fields) *field = nullptr;
  const char *first = text != nullptr ? std::strchr(text, ':') : nullptr;
  const char *second = first != nullptr ? std::strchr(first + 1, ':') : nullptr;
  const char *third = second != nullptr ? std::strchr(second + 1, ':') : nullptr;
  if (third == nullptr) {
    LOG4C(COMMON_MODULE, LOG4C_ERROR,
          log4c_sprintf("Invalid value of protocolInfo attribute %s",
                        text != nullptr ? text : "(null)"));
    return APR_EGENERAL;
  }
  *protocol = apr_pstrndup(pool, text, static_cast<apr_size_t>(first - text));
  *network = apr_pstrndup(pool, first + 1, static_cast<apr_size_t>(second - first - 1));
  *format = apr_pstrndup(pool, second + 1, static_cast<apr_size_t>(third - second - 1));
  *info = apr_pstrdup(pool, third + 1);
  return APR_SUCCESS;
}

char *protocol_info_join(apr_pool_t *pool, const char *protocol, const char *network,
                         const char *format, const char *info) {
  return apr_psprintf(pool, "%s:%s:%s:%s", protocol, network, format, info);
}

char *protocol_info_http(apr_pool_t *pool, const char *mime) {
  return apr_psprintf(pool, "http-get:*:%s:*", mime);
}

int http_range_parse(const char *text, apr_int64_t *first, apr_int64_t *last) {
  if (text == nullptr) return 0;
  const char *p = skip_blanks(text);
  if (strncasecmp(p, "bytes", 5) != 0) return 0;
  p = skip_blanks(p + 5);
  if (*p != '=') return 0;
  p = skip_blanks(p + 1);
  apr_int64_t low = 0, high = 0;
  if (*p == '-') {
    ++p;
    if (read_range_number(&p, &low) != 1 || *skip_blanks(p) != '\0') return 0;
    *first = -low;
    *last = 0;
    return 1;
  }
  if (read_range_number(&p, &low) != 1 || *p != '-') return 0;
  ++p;
  int has_high = read_range_number(&p, &high);
  if (has_high < 0 || *skip_blanks(p) != '\0' || (has_high == 1 && high < low)) return 0;
  *first = low;
  *last = has_high == 1 ? high : 0;
  return 1;
}

char *http_content_range_format(apr_pool_t *pool, apr_int64_t first, apr_int64_t last,
                                apr_int64_t total) {
  // A suffix longer than the whole content means all of it.
  if (first < 0) first = total + first > 0 ? total + first : 0;
  if (last <= 0) last = total - 1;
  return apr_psprintf(pool, "bytes %" APR_INT64_T_FMT "-%" APR_INT64_T_FMT "/%" APR_INT64_T_FMT,
                      first, last, total);
}

int template_expand(char *text, std::size_t length, const char *const *names,
                    const void *const *values, const int *types, int count) {
  Pool scratch(nullptr);
  char *at = text;
  while ((at = std::strstr(at, "${")) != nullptr) {
    char *close = std::strchr(at, '}');
    if (close == nullptr) {
      LOG4C(COMMON_MODULE, LOG4C_ERROR, "Invalid template variable - missing closing braces");
      return APR_EGENERAL;
    }
    std::size_t size = static_cast<std::size_t>(close - at) + 1;
    int index = find_name(at, size, names, count);
    if (index < 0) {
      at = close + 1;
      continue;
    }
    const char *value = variable_text(scratch, values[index], types[index]);
    if (value == nullptr) {
      LOG4C(COMMON_MODULE, LOG4C_ERROR, "Unknown variable type");
      return APR_EGENERAL;
    }
    replace_placeholder(text, length, at, size, value);
    at += strnlen(value, size);
  }
  return APR_SUCCESS;
}

int url_args_parse(apr_pool_t *pool, const char *text, const char **names, const char **values,
                   int *count) {
  int capacity = *count;
  *count = 0;
  const char *plain = xml_unescape(pool, text != nullptr ? text : "");
  if (*plain == '\0') return APR_SUCCESS;
  if (*plain != '?') return bad_arguments(plain, plain);
  const char *p = plain + 1;
  while (*p != '\0') {
    const char *equals = std::strchr(p, '=');
    const char *amp = std::strchr(p, '&');
    if (equals == nullptr || (amp != nullptr && amp < equals)) return bad_arguments(plain, p);
    const char *end = amp != nullptr ? amp : equals + std::strlen(equals);
    if (*count == capacity) {
      *count = -1;
      return APR_SUCCESS;
    }
    names[*count] = apr_pstrndup(pool, p, static_cast<apr_size_t>(equals - p));
    values[*count] =
        url_decode(pool, apr_pstrndup(pool, equals + 1, static_cast<apr_size_t>(end - equals - 1)));
    ++*count;
    p = end + separator_length(end);
  }
  return APR_SUCCESS;
}
