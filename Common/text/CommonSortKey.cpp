#include "CommonSortKey.h"

#include <apr_lib.h>
#include <apr_strings.h>

#include <cstring>
#include <string_view>
#include <strings.h>

#include "Common.h"
#include "log4c.h"

namespace {
// Leading characters that do not take part in ordering.
constexpr const char *kSkippedLead = " \t\n\r\f()[]{}\"'`!@#$%^*~+-=/\\.,;";
constexpr std::size_t kPadWidth = 12;

// Leading words and entities dropped in this order, each at most once.
constexpr std::string_view kDroppedPrefixes[] = {"and ",   "the ",  "a ",   "&quot;",
                                                 "&apos;", "&amp;", "&lt;", "&gt;"};

// Copy of text with its leading run of digits padded to kPadWidth.
char *pad_leading_number(apr_pool_t *pool, const char *text) {
  std::size_t digits = std::strspn(text, "0123456789");
  if (digits == 0) return apr_pstrdup(pool, text);
  if (digits >= kPadWidth) {
    LOG4C(COMMON_MODULE, LOG4C_WARN,
          "Zero padding of sorting keys failed - sequence of digits is too long");
    return apr_pstrdup(pool, text);
  }
  std::size_t pad = kPadWidth - digits;
  std::size_t length = std::strlen(text);
  char *padded = static_cast<char *>(apr_palloc(pool, pad + length + 1));
  std::memset(padded, '0', pad);
  std::memcpy(padded + pad, text, length + 1);
  return padded;
}

const char *drop_prefixes(const char *key) {
  for (std::string_view prefix : kDroppedPrefixes)
    if (strncasecmp(key, prefix.data(), prefix.size()) == 0) key += prefix.size();
  return key;
}
}  // namespace

const char *sort_key(apr_pool_t *pool, const char *text, int ascending) {
  if (text == nullptr || *text == '\0') return common_empty_string;
  char *key = pad_leading_number(pool, text + std::strspn(text, kSkippedLead));
  for (char *p = key; *p != '\0'; ++p) *p = static_cast<char>(apr_tolower(*p));
  char *result = const_cast<char *>(drop_prefixes(key));
  if (!ascending)
    for (char *p = result; *p != '\0'; ++p) *p = static_cast<char>(~*p);
  return result;
}
