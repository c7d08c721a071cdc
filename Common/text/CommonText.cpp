#include "CommonText.h"

#include <apr_lib.h>
#include <apr_strings.h>

#include <cstring>
#include <strings.h>

#include "CommonPath.h"

namespace {
constexpr const char *kSpace = " \t\n\r\f";
constexpr const char *kQuotesAndSpace = "'\" \t\n\r\f";

bool in_set(char c, const char *set) { return c != '\0' && std::strchr(set, c) != nullptr; }

char *cut_tail(char *text, const char *set) {
  std::size_t length = std::strlen(text);
  while (length > 0 && in_set(text[length - 1], set)) --length;
  text[length] = '\0';
  return text;
}

bool is_ascii(const char *text) {
  for (; *text != '\0'; ++text)
    if (static_cast<unsigned char>(*text) >= 0x80) return false;
  return true;
}
}  // namespace

char *str_rtrim(char *text) { return text == nullptr ? nullptr : cut_tail(text, kSpace); }

char *str_skip_space(char *text) {
  return text == nullptr ? nullptr : text + std::strspn(text, kSpace);
}

const char *str_skip_space(const char *text) {
  return text == nullptr ? nullptr : text + std::strspn(text, kSpace);
}

char *str_trim(char *text) { return str_skip_space(str_rtrim(text)); }

char *str_remove_space(apr_pool_t *pool, const char *text) {
  if (text == nullptr) return nullptr;
  char *copy = static_cast<char *>(apr_palloc(pool, std::strlen(text) + 1));
  char *out = copy;
  for (; *text != '\0'; ++text)
    if (!in_set(*text, kSpace)) *out++ = *text;
  *out = '\0';
  return copy;
}

char *str_trim_quotes(char *text) {
  if (text == nullptr) return nullptr;
  return cut_tail(text + std::strspn(text, kQuotesAndSpace), kQuotesAndSpace);
}

char *str_title_case(apr_pool_t *pool, char *text) {
  if (text == nullptr) return nullptr;
  char *result = pool != nullptr ? apr_pstrdup(pool, text) : text;
  if (!is_ascii(result)) return result;
  bool word_start = true;
  for (char *p = result; *p != '\0'; ++p) {
    if (apr_isalpha(*p)) {
      *p = static_cast<char>(word_start ? apr_toupper(*p) : apr_tolower(*p));
      word_start = false;
    } else if (*p == '&') {
      word_start = false;
    } else if (apr_isspace(*p)) {
      word_start = true;
    }
  }
  return result;
}

char *str_lower(apr_pool_t *pool, const char *text) {
  if (text == nullptr) return nullptr;
  char *copy = apr_pstrdup(pool, text);
  for (char *p = copy; *p != '\0'; ++p) *p = static_cast<char>(apr_tolower(*p));
  return copy;
}

// Sized first and copied once: joining the hundreds of oids of a look-up
// text by text would copy the growing list each time.
char *str_join(apr_pool_t *pool, const char *const *texts, int count) {
  std::size_t length = 0;
  for (int i = 0; i < count; ++i) {
    if (texts[i] != nullptr && *texts[i] != '\0') length += std::strlen(texts[i]) + 1;
  }
  if (length == 0) return nullptr;
  char *joined = static_cast<char *>(apr_palloc(pool, length));
  char *end = joined;
  for (int i = 0; i < count; ++i) {
    if (texts[i] == nullptr || *texts[i] == '\0') continue;
    if (end != joined) *end++ = ',';
    const std::size_t part = std::strlen(texts[i]);
    std::memcpy(end, texts[i], part);
    end += part;
  }
  *end = '\0';
  return joined;
}

int str_compare(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
  return std::strcmp(a, b);
}

int str_icompare(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
  return strcasecmp(a, b);
}

char *path_strip_extension(apr_pool_t *pool, const char *name) {
  if (name == nullptr) return nullptr;
  const char *component = name + std::strlen(name);
  while (component > name && !path_is_separator(component[-1])) --component;
  const char *dot = std::strrchr(component, '.');
  if (dot == nullptr) return apr_pstrdup(pool, name);
  while (dot > component && dot[-1] == '.') --dot;
  return apr_pstrndup(pool, name, static_cast<apr_size_t>(dot - name));
}

const char *str_find_n(const char *text, const char *pattern, std::size_t length) {
  if (text == nullptr || pattern == nullptr) return nullptr;
  std::size_t pattern_length = std::strlen(pattern);
  std::size_t text_length = strnlen(text, length);
  if (pattern_length > text_length) return nullptr;
  for (std::size_t i = 0; i + pattern_length <= text_length; ++i)
    if (strncasecmp(text + i, pattern, pattern_length) == 0) return text + i;
  return nullptr;
}
