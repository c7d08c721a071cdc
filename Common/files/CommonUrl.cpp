#include "CommonUrl.h"

#include <cctype>
#include <cstring>
#include <strings.h>

namespace {

constexpr const char *kFileUrl = "file://";
constexpr const char *kFileScheme = "file:";

}  // namespace

int url_has_scheme(const char *url, const char *scheme) {
  return url != nullptr && strncasecmp(url, scheme, std::strlen(scheme)) == 0;
}

int url_is_remote(const char *text) {
  return text != nullptr && std::strstr(text, "://") != nullptr && !url_has_scheme(text, kFileUrl);
}

int url_is_http(const char *url) { return url_has_scheme(url, "http://") || url_has_scheme(url, "https://"); }

int url_is_spoken(const char *url) {
  static constexpr const char *kSpokenSchemes[] = {"http://", "https://", "mms://", "mmsh://",
                                                   "mmst://", "rtsp://", "pnm://"};
  for (const char *scheme : kSpokenSchemes) {
    if (url_has_scheme(url, scheme)) return 1;
  }
  return 0;
}

int url_is_well_formed(const char *url) {
  if (url == nullptr || !std::isalpha(static_cast<unsigned char>(url[0]))) return 0;
  const char *c = url;
  while (std::isalnum(static_cast<unsigned char>(*c)) || *c == '+' || *c == '-' || *c == '.') ++c;
  return std::strncmp(c, "://", 3) == 0 && c[3] != '\0';
}

const char *url_after_scheme(const char *text) {
  const char *scheme_end = text != nullptr ? std::strstr(text, "://") : nullptr;
  return scheme_end != nullptr ? scheme_end + 3 : nullptr;
}

const char *url_file_path(const char *url) {
  if (url_has_scheme(url, kFileUrl)) return url + std::strlen(kFileUrl);
  if (url_has_scheme(url, kFileScheme)) return url + std::strlen(kFileScheme);
  return url;
}
