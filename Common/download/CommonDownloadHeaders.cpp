// The header helpers: reading values, the status, the size, the date and the
// redirection target out of raw response headers. Pure functions over the
// text; they never read past the length given.
#include <apr_date.h>
#include <apr_strings.h>
#include <strings.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "CommonDownload.h"
#include "CommonPath.h"
#include "log4c.h"

namespace {

std::string_view view(const char *text, std::size_t length) {
  return text != nullptr ? std::string_view(text, strnlen(text, length)) : std::string_view();
}

bool starts_with_icase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}


int three_digits(std::string_view text, std::size_t at) {
  if (at + 3 > text.size()) return -1;
  int value = 0;
  for (std::size_t i = at; i < at + 3; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

apr_int64_t parse_size(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  apr_int64_t value = -1;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end != text.data() && value >= 0 ? value : -1;
}

// The value of the first line starting with name, blanks skipped.
std::optional<std::string_view> header_value(std::string_view text, std::string_view name) {
  std::size_t line = 0;
  while (line < text.size()) {
    std::size_t end = text.find_first_of("\r\n", line);
    if (end == std::string_view::npos) end = text.size();
    std::string_view current = text.substr(line, end - line);
    if (starts_with_icase(current, name)) {
      current.remove_prefix(name.size());
      while (!current.empty() && (current.front() == ' ' || current.front() == '\t')) current.remove_prefix(1);
      return current;
    }
    line = text.find_first_not_of("\r\n", end);
    if (line == std::string_view::npos) break;
  }
  return std::nullopt;
}

// Broken absolute forms a server may send: "http:/host/x" for "http://host/x".
constexpr std::string_view kRepairedSchemes[] = {"mms:/", "rtsp:/", "http:/", "https:/"};

char *repair_single_slash(apr_pool_t *pool, const char *value) {
  std::string_view text(value);
  for (std::string_view scheme : kRepairedSchemes)
    if (starts_with_icase(text, scheme) && (text.size() == scheme.size() || text[scheme.size()] != '/'))
      return apr_pstrcat(pool, std::string(scheme.substr(0, scheme.size() - 1)).c_str(), "//",
                         value + scheme.size(), nullptr);
  return nullptr;
}

// value resolved against url: "/x" from the host's root, anything else
// beside the last component of url's path.
char *resolve_relative(apr_pool_t *pool, const char *url, const char *value) {
  const char *after = url_after_scheme(url);
  if (after == nullptr) return apr_pstrdup(pool, value);
  const char *path = std::strpbrk(after, "/?#");
  std::size_t origin = static_cast<std::size_t>((path != nullptr ? path : after + std::strlen(after)) - url);
  if (*value == '/' || path == nullptr || *path != '/')
    return apr_pstrcat(pool, apr_pstrndup(pool, url, origin), *value == '/' ? "" : "/", value, nullptr);
  const char *query = std::strpbrk(path, "?#");
  std::string_view dir(path, query != nullptr ? static_cast<std::size_t>(query - path) : std::strlen(path));
  dir = dir.substr(0, dir.rfind('/') + 1);
  return apr_pstrcat(pool, apr_pstrndup(pool, url, origin), std::string(dir).c_str(), value, nullptr);
}

}  // namespace

char *http_header_value(apr_pool_t *pool, const char *name, const char *headers, std::size_t length) {
  std::optional<std::string_view> value = header_value(view(headers, length), name);
  return value ? apr_pstrndup(pool, value->data(), value->size()) : nullptr;
}

int http_status(const char *text, std::size_t length) {
  std::string_view all = view(text, length);
  // Only a status line counts: header values such as "Server: SimpleHTTP/0.6"
  // hold the same letters.
  std::size_t at = all.rfind("HTTP/");
  while (at != std::string_view::npos && at > 0 && all[at - 1] != '\n') at = all.rfind("HTTP/", at - 1);
  if (at != std::string_view::npos) return all.size() - at >= 12 ? three_digits(all, at + 9) : -1;
  at = all.find("ICY");
  return at != std::string_view::npos ? three_digits(all, at + 4) : -1;
}

apr_int64_t http_content_size(const char *headers, std::size_t length) {
  std::string_view text = view(headers, length);
  if (std::optional<std::string_view> range = header_value(text, "Content-Range:")) {
    std::size_t slash = range->find('/');
    return slash != std::string_view::npos ? parse_size(range->substr(slash + 1)) : -1;
  }
  std::optional<std::string_view> size = header_value(text, "Content-Length:");
  return size ? parse_size(*size) : -1;
}

apr_time_t http_last_modified(const char *headers, std::size_t length) {
  std::optional<std::string_view> value = header_value(view(headers, length), "Last-Modified:");
  if (!value) {
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, "Could not get value for Last-Modified");
    return -1;
  }
  char date[128];
  std::size_t size = std::min(value->size(), sizeof date - 1);
  std::memcpy(date, value->data(), size);
  date[size] = '\0';
  apr_time_t time = apr_date_parse_rfc(date);
  if (time == APR_DATE_BAD) {
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, "Could not parset value of Last-Modified");
    return -1;
  }
  return time;
}

char *http_location(apr_pool_t *pool, const char *url, const char *headers, std::size_t length) {
  char *value = http_header_value(pool, "Location:", headers, length);
  if (value == nullptr || *value == '\0') return nullptr;
  if (char *repaired = repair_single_slash(pool, value)) return repaired;
  if (std::strstr(value, "://") != nullptr || url == nullptr) return value;
  return resolve_relative(pool, url, value);
}
