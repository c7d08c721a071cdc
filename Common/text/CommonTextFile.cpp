#include "CommonTextFile.h"

#include <apr_lib.h>
#include <apr_strings.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <strings.h>

#include "Common.h"
#include "CommonText.h"
#include "log4c.h"

namespace {
constexpr std::size_t kSniffLength = 200;
constexpr const char *kHtmlMarks[] = {"<!DOCTYPE html", "<html", "<xhtml"};
constexpr const char *kPlaylistMarks[] = {"<asx", "<rss", "<atom", "<rdf", "<opml", "<smil"};

struct ByteOrderMark {
  unsigned char first, second;
  const char *encoding;
  const char *pending;  // the first byte alone, when the second is missing
};
constexpr ByteOrderMark kTwoByteMarks[] = {{0xFF, 0xFE, "utf-16", "\xFF"},
                                           {0xFE, 0xFF, "utf-16be", "\xFE"}};

bool is_line_end(char c) { return c == '\n' || c == '\r'; }

// After a '\r', swallows the '\n' of a "\r\n" pair.
void skip_pair_newline(apr_file_t *file) {
  char next;
  if (apr_file_getc(&next, file) == APR_SUCCESS && next != '\n') apr_file_ungetc(next, file);
}

bool is_blank(const char *text) { return *str_skip_space(text) == '\0'; }

// Reads one byte: 0 on success, 70014 at the end, else 20014 after ERROR.
apr_status_t read_bom_byte(apr_file_t *file, unsigned char *byte) {
  char c;
  apr_status_t status = apr_file_getc(&c, file);
  if (status == APR_EOF) return APR_EOF;
  if (status != APR_SUCCESS) {
    char reason[256];
    LOG4C(COMMON_MODULE, LOG4C_ERROR,
          log4c_sprintf("Text file encoding detection by BOM failed, reason %s ",
                        apr_strerror(status, reason, sizeof reason)));
    return APR_EGENERAL;
  }
  *byte = static_cast<unsigned char>(c);
  return APR_SUCCESS;
}

// Reads the next byte of a mark: 1 when it is the expected one, else 0 with
// *status saying why (0 for another byte, which is pushed back).
int expect_bom_byte(apr_file_t *file, unsigned char expected, apr_status_t *status) {
  unsigned char byte = 0;
  *status = read_bom_byte(file, &byte);
  if (*status != APR_SUCCESS) return 0;
  if (byte == expected) return 1;
  apr_file_ungetc(static_cast<char>(byte), file);
  return 0;
}

// The UTF-8 mark after its first byte.
apr_status_t detect_utf8_bom(apr_file_t *file, const char **encoding, const char **pending) {
  apr_status_t status;
  if (!expect_bom_byte(file, 0xBB, &status)) {
    *pending = "\xEF";
    return status == APR_EOF ? APR_SUCCESS : status;
  }
  if (!expect_bom_byte(file, 0xBF, &status)) {
    *pending = "\xEF\xBB";
    return status == APR_EOF ? APR_SUCCESS : status;
  }
  *encoding = "utf-8";
  return APR_SUCCESS;
}

// True when every byte before match is printable or whitespace.
bool plain_before(const char *data, const char *match) {
  return std::all_of(data, match, [](char c) { return apr_isprint(c) || apr_isspace(c); });
}

template <std::size_t N>
int find_any(const char *const (&marks)[N], const char *data, std::size_t length, int whole,
             int strict) {
  if (data == nullptr) return 0;
  std::size_t searched = whole ? length : std::min(length, kSniffLength);
  for (const char *mark : marks) {
    const char *match = str_find_n(data, mark, searched);
    if (match != nullptr && (!strict || plain_before(data, match))) return 1;
  }
  return 0;
}

// The quoted value of attribute name (" name=" with either quote) inside
// [element, end), or an empty view.
std::string_view attribute_value(const char *element, const char *end, const char *name) {
  std::string wanted = std::string(" ") + name + "=";
  const char *at = str_find_n(element, wanted.c_str(), static_cast<std::size_t>(end - element));
  if (at == nullptr) return {};
  const char *quote = at + wanted.size();
  if (*quote != '"' && *quote != '\'') return {};
  const char *close = static_cast<const char *>(
      std::memchr(quote + 1, *quote, static_cast<std::size_t>(end - quote - 1)));
  if (close == nullptr) return {};
  return {quote + 1, static_cast<std::size_t>(close - quote - 1)};
}

bool equals_ignoring_case(std::string_view value, const char *expected) {
  return value.size() == std::strlen(expected) &&
         strncasecmp(value.data(), expected, value.size()) == 0;
}
}  // namespace

int text_read_line(apr_file_t *file, char *buffer, int size, int skip) {
  int used = 0;
  bool seen_text = false;
  bool read_any = false;
  for (;;) {
    char c;
    apr_status_t status = apr_file_getc(&c, file);
    if (status == APR_EOF) break;
    if (status != APR_SUCCESS) {
      char reason[256];
      LOG4C(COMMON_MODULE, LOG4C_ERROR,
            log4c_sprintf("Error reading meta file, reason: %s",
                          apr_strerror(status, reason, sizeof reason)));
      return 0;
    }
    read_any = true;
    if (is_line_end(c) && (seen_text || !skip)) {
      if (c == '\r') skip_pair_newline(file);
      break;
    }
    if (used == size - 1) {
      apr_file_ungetc(c, file);
      LOG4C(COMMON_MODULE, LOG4C_ERROR,
            log4c_sprintf("Line is too long, only first %d characters were processed", size));
      break;
    }
    if (!apr_isspace(c)) seen_text = true;
    buffer[used++] = c;
  }
  buffer[used] = '\0';
  return read_any ? 1 : 0;
}

int text_read_block(apr_file_t *file, char *buffer, int size) {
  int used = 0;
  while (size - used > 1) {
    int separator = used > 0 ? 1 : 0;
    char *line = buffer + used + separator;
    if (size - used - separator < 2 || !text_read_line(file, line, size - used - separator, 0))
      break;
    if (is_blank(line)) {
      if (used > 0) break;
      continue;
    }
    if (separator) buffer[used] = '\n';
    used += separator + static_cast<int>(std::strlen(line));
  }
  buffer[used] = '\0';
  return used > 0 ? 1 : 0;
}

int text_detect_bom(apr_file_t *file, const char **encoding, const char **pending) {
  *encoding = nullptr;
  *pending = nullptr;
  unsigned char first = 0;
  apr_status_t status = read_bom_byte(file, &first);
  if (status != APR_SUCCESS) return status;
  if (first == 0xEF) return detect_utf8_bom(file, encoding, pending);
  for (const ByteOrderMark &mark : kTwoByteMarks) {
    if (first != mark.first) continue;
    if (expect_bom_byte(file, mark.second, &status)) {
      *encoding = mark.encoding;
      return APR_SUCCESS;
    }
    *pending = mark.pending;
    return status == APR_EOF ? APR_SUCCESS : status;
  }
  apr_file_ungetc(static_cast<char>(first), file);
  return APR_SUCCESS;
}

int text_is_html(const char *data, std::size_t length, int whole, int strict) {
  return find_any(kHtmlMarks, data, length, whole, strict);
}

int text_is_playlist_xml(const char *data, std::size_t length, int whole, int strict) {
  return find_any(kPlaylistMarks, data, length, whole, strict);
}

char *html_find_feed_link(apr_pool_t *pool, const char *page) {
  if (page == nullptr) return nullptr;
  const char *end_of_page = page + std::strlen(page);
  for (const char *at = page;
       (at = str_find_n(at, "<link", static_cast<std::size_t>(end_of_page - at))) != nullptr;
       at += 5) {
    const char *close = std::strchr(at, '>');
    const char *element_end = close != nullptr ? close : end_of_page;
    if (!equals_ignoring_case(attribute_value(at, element_end, "rel"), "alternate") ||
        !equals_ignoring_case(attribute_value(at, element_end, "type"), "application/rss+xml"))
      continue;
    std::string_view href = attribute_value(at, element_end, "href");
    if (!href.empty()) return apr_pstrmemdup(pool, href.data(), href.size());
  }
  return nullptr;
}
