#include "CommonUtf8.h"

#include <apr_strings.h>
#include <apr_xlate.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "Common.h"
#include "PlatformCodePage.h"
#include "log4c.h"
#include "CommonUserMessage.h"
#include "log4c_pool.h"

namespace {
constexpr std::size_t kConversionBufferSize = 8192;

// Number of continuation bytes after lead, or -1 for a byte that cannot
// start a sequence (a continuation byte or 0xF5..0xFF).
int continuation_count(unsigned char lead) {
  if (lead < 0x80) return 0;
  if (lead >= 0xC0 && lead <= 0xDF) return 1;
  if (lead >= 0xE0 && lead <= 0xEF) return 2;
  if (lead >= 0xF0 && lead <= 0xF4) return 3;
  return -1;
}

bool is_continuation(unsigned char c) { return c >= 0x80 && c <= 0xBF; }

bool is_forbidden_control(unsigned char c) {
  return c < 0x20 && c != '\t' && c != '\n' && c != '\r';
}

// Decodes the code point at *text and advances past it; -1 when the sequence
// is malformed or overlong, or names a surrogate or a value beyond U+10FFFF.
long next_code_point(const unsigned char **text) {
  const unsigned char *p = *text;
  int extra = continuation_count(*p);
  if (extra < 0) return -1;
  static constexpr unsigned char kLeadMask[] = {0x7F, 0x1F, 0x0F, 0x07};
  long code = *p & kLeadMask[extra];
  for (int i = 1; i <= extra; ++i) {
    if (!is_continuation(p[i])) return -1;
    code = (code << 6) | (p[i] & 0x3F);
  }
  // The shortest form only: an overlong sequence ("\xC0\xAF" for '/') would
  // let a character slip past checks that look for it.
  static constexpr long kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF || code < kSmallest[extra]) return -1;
  *text = p + extra + 1;
  return code;
}

// Appends code to out as UTF-8 and returns the new end.
char *put_utf8(char *out, unsigned long code) {
  if (code < 0x80) {
    *out++ = static_cast<char>(code);
  } else if (code < 0x800) {
    *out++ = static_cast<char>(0xC0 | (code >> 6));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (code >> 12));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (code >> 18));
    *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  }
  return out;
}

// Characters XML 1.0 cannot carry even as references.
bool is_xml_forbidden(long code) { return code < 0x20 ? is_forbidden_control(static_cast<unsigned char>(code)) : code == 0xFFFE || code == 0xFFFF; }

void put_percent(std::string &out, unsigned char byte) {
  constexpr const char *kHex = "0123456789ABCDEF";
  out += '%';
  out += kHex[byte >> 4];
  out += kHex[byte & 0x0F];
}

// Reads one code point from UTF-16 and advances; -1 for a lone surrogate.
long next_utf16(const char16_t **text) {
  const char16_t *p = *text;
  long code = *p;
  if (code >= 0xDC00 && code <= 0xDFFF) return -1;
  if (code >= 0xD800 && code <= 0xDBFF) {
    if (p[1] < 0xDC00 || p[1] > 0xDFFF) return -1;
    code = 0x10000 + ((code - 0xD800) << 10) + (p[1] - 0xDC00);
    ++p;
  }
  *text = p + 1;
  return code;
}

void *allocate_or_log(std::size_t size) {
  void *block = std::malloc(size);
  if (block == nullptr) LOG4C(COMMON_MODULE, LOG4C_ERROR, "Could not allocate memory");
  return block;
}
}  // namespace

int utf8_is_xml_text_n(const char *data, std::size_t length) {
  if (data == nullptr) return 0;
  const auto *p = reinterpret_cast<const unsigned char *>(data);
  const unsigned char *end = p + length;
  while (p < end) {
    int extra = continuation_count(*p);
    if (extra < 0 || is_forbidden_control(*p) || end - p <= extra) return 0;
    for (int i = 1; i <= extra; ++i)
      if (!is_continuation(p[i])) return 0;
    p += extra + 1;
  }
  return 1;
}

int utf8_is_xml_text(const char *text) {
  return text != nullptr && utf8_is_xml_text_n(text, std::strlen(text));
}

const char *text_to_utf8(apr_pool_t *pool, const char *encoding, const char *text,
                         std::size_t length) {
  if (encoding == nullptr) encoding = platform_system_encoding();
  Pool scratch(pool);
  apr_xlate_t *xlate = nullptr;
  if (apr_xlate_open(&xlate, "utf-8", encoding, scratch) != APR_SUCCESS) {
    LOG4C(COMMON_MODULE, LOG4C_ERROR, "Could not initialize conversion to utf8");
    return common_empty_string;
  }
  char buffer[kConversionBufferSize];
  apr_size_t in_left = length;
  apr_size_t out_left = sizeof buffer;
  apr_status_t status = apr_xlate_conv_buffer(xlate, text, &in_left, buffer, &out_left);
  const char *result = common_empty_string;
  if (status != APR_SUCCESS) {
    LOG4C(COMMON_MODULE, LOG4C_WARN,
          log4c_sprintf("Could not convert %.*s from %s encoding to utf8", static_cast<int>(length),
                        text, encoding));
  } else {
    result = apr_pstrmemdup(pool, buffer, sizeof buffer - out_left);
  }
  if (apr_xlate_close(xlate) != APR_SUCCESS)
    LOG4C(COMMON_MODULE, LOG4C_ERROR, "Could not cleanup conversion to utf8");
  return result;
}

char16_t *utf8_to_utf16(const char *text) {
  std::size_t length = std::strlen(text);
  auto *result = static_cast<char16_t *>(allocate_or_log(2 * (length + 1)));
  if (result == nullptr) return nullptr;
  const auto *p = reinterpret_cast<const unsigned char *>(text);
  char16_t *out = result;
  while (*p != 0) {
    long code = next_code_point(&p);
    if (code < 0) {
      std::free(result);
      LOG4C(COMMON_MODULE, LOG4C_ERROR, "Could not convert from UTF8 to unicode");
      return nullptr;
    }
    if (code >= 0x10000) {
      *out++ = static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      *out++ = static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      *out++ = static_cast<char16_t>(code);
    }
  }
  *out = 0;
  return result;
}

char *utf16_to_utf8(const char16_t *text) {
  std::size_t units = std::char_traits<char16_t>::length(text);
  auto *result = static_cast<char *>(allocate_or_log(3 * units + 1));
  if (result == nullptr) return nullptr;
  char *out = result;
  while (*text != 0) {
    long code = next_utf16(&text);
    if (code < 0) {
      std::free(result);
      LOG4C(COMMON_MODULE, LOG4C_ERROR, "Could not convert from unicode to UTF8");
      return nullptr;
    }
    out = put_utf8(out, static_cast<unsigned long>(code));
  }
  *out = '\0';
  return result;
}

int utf8_to_ucs4(const char *text, std::uint32_t *buffer, std::size_t capacity) {
  if (capacity < std::strlen(text) + 1) {
    LOG4C(COMMON_MODULE, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return -1;
  }
  const auto *p = reinterpret_cast<const unsigned char *>(text);
  int count = 0;
  while (*p != 0) {
    long code = next_code_point(&p);
    if (code < 0) {
      LOG4C(COMMON_MODULE, LOG4C_ERROR, "Could not convert from UTF8 to UCS4");
      return -1;
    }
    buffer[count++] = static_cast<std::uint32_t>(code);
  }
  buffer[count] = 0;
  return count;
}

namespace {

// Whether the length bytes at text need utf8_xml_clean to change them.
bool needs_repair(const char *text, std::size_t length, std::size_t max_bytes, Utf8Repair repair) {
  if (max_bytes > 0 && length > max_bytes) return true;
  const auto *p = reinterpret_cast<const unsigned char *>(text);
  const unsigned char *end = p + length;
  while (p < end) {
    if (*p < 0x80) {
      if (is_forbidden_control(*p) || (repair == UTF8_REPAIR_PERCENT && *p == '%')) return true;
      ++p;
      continue;
    }
    const long code = next_code_point(&p);
    if (code < 0 || p > end || is_xml_forbidden(code)) return true;
  }
  return false;
}

}  // namespace

const char *utf8_xml_clean(apr_pool_t *pool, const char *text, std::size_t length, std::size_t max_bytes,
                           Utf8Repair repair) {
  if (text == nullptr) return nullptr;
  length = strnlen(text, length);
  if (!needs_repair(text, length, max_bytes, repair)) {
    return text[length] == '\0' ? text : apr_pstrmemdup(pool, text, length);
  }
  const auto *p = reinterpret_cast<const unsigned char *>(text);
  const unsigned char *end = p + length;
  std::string out;
  while (p < end) {
    const unsigned char *start = p;
    long code = next_code_point(&p);
    if (code >= 0 && p > end) code = -1;  // a sequence running past length
    std::string piece;
    if (code < 0) {
      p = start + 1;
      if (repair != UTF8_REPAIR_TEXT) {
        put_percent(piece, *start);
      } else {
        piece = "\xEF\xBF\xBD";
      }
    } else if (is_xml_forbidden(code)) {
      for (const unsigned char *byte = start; repair != UTF8_REPAIR_TEXT && byte < p; ++byte) put_percent(piece, *byte);
    } else if (repair == UTF8_REPAIR_PERCENT && code == '%') {
      piece = "%25";
    } else {
      piece.assign(reinterpret_cast<const char *>(start), static_cast<std::size_t>(p - start));
    }
    if (max_bytes > 0 && out.size() + piece.size() > max_bytes) break;
    out += piece;
  }
  return apr_pstrmemdup(pool, out.data(), out.size());
}

const char *utf8_valid_copy(apr_pool_t *pool, const char *text) {
  if (text == nullptr) return nullptr;
  if (utf8_is_xml_text(text)) return apr_pstrdup(pool, text);
  return text_to_utf8(pool, nullptr, text, std::strlen(text));
}
