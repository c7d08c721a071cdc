// What a URL is: answered from its scheme or extension where that can be
// trusted, else from a short HTTP probe of its headers and first bytes.
#include <apr_strings.h>
#include <strings.h>

#include <cstring>
#include <string_view>

#include "CommonCancel.h"
#include "CommonDownload.h"
#include "CommonMultimedia.h"
#include "CommonPath.h"
#include "CommonUrl.h"
#include "log4c.h"

namespace {

constexpr const char *kModule = "CommonMultimedia";
constexpr const char *kUltravox[] = {"Ultravox-transport-type: TCP"};
constexpr int kUserErrorLevel = 2;
constexpr int kMaxRedirects = 10;
constexpr apr_int64_t kProbeBytes = 1001;

// The types chosen by the expected class: video, audio, either.
struct TypeByClass {
  const char *video;
  const char *audio;
  const char *other;
};
constexpr TypeByClass kAsfTypes = {"video/x-ms-asf", "audio/x-ms-asf", "application/x-ms-asf"};
constexpr TypeByClass kRealTypes = {"video/vnd.rn-realvideo", "audio/x-pn-realaudio", "application/vnd.rn-realmedia"};

constexpr std::string_view kAsfSchemes[] = {"mms://", "mmst://", "mmsu://"};
constexpr std::string_view kStreamingSchemes[] = {"rtsp://", "rtspt://", "rtspu://"};
// Extension rows whose URLs are often playlists in disguise.
constexpr std::string_view kDistrustedTypes[] = {"video/x-ms-asf", "video/x-ms-wmv", "application/x-ms-asf",
                                                 "audio/x-ms-wma", "audio/x-scpls"};
constexpr std::string_view kAsxTypes[] = {"video/x-ms-asx", "video/x-ms-wvx", "video/x-ms-wmx", "audio/x-ms-wax"};
constexpr std::string_view kWindowsMediaTypes[] = {"video/x-ms-asf", "video/x-ms-wmv", "audio/x-ms-wma",
                                                   "application/x-ms-asf"};
constexpr std::string_view kMetafileStarts[] = {"<asx", "[Reference]"};

bool starts_icase(const char *text, std::string_view prefix) {
  return text != nullptr && strncasecmp(text, prefix.data(), prefix.size()) == 0;
}

template <std::size_t N>
bool starts_with_any(const char *text, const std::string_view (&prefixes)[N]) {
  for (std::string_view prefix : prefixes)
    if (starts_icase(text, prefix)) return true;
  return false;
}

template <std::size_t N>
bool equals_any(const char *text, const std::string_view (&values)[N]) {
  for (std::string_view value : values)
    if (std::strlen(text) == value.size() && strncasecmp(text, value.data(), value.size()) == 0) return true;
  return false;
}

const char *by_class(const TypeByClass &types, int expected_class) {
  if (expected_class == MEDIA_VIDEO) return types.video;
  if (expected_class == MEDIA_AUDIO) return types.audio;
  return types.other;
}

// The table row of the extension of url's path (after the host), cut at
// the first '?' or '&'.
const MediaTypeEntry *extension_row(const char *url) {
  const char *after = url_after_scheme(url);
  const char *path = after != nullptr ? std::strchr(after, '/') : url;
  if (path == nullptr) return media_type_by_extension(nullptr, -1);
  const char *extension = path_extension(path, 1);
  if (extension == nullptr) return media_type_by_extension(nullptr, -1);
  return media_type_by_extension(extension, static_cast<int>(std::strcspn(extension, "?&#")));
}

bool trusted(const MediaTypeEntry *row) {
  return row->media_class != 0 && row->media_class != MEDIA_UNKNOWN && !equals_any(row->mime_type, kDistrustedTypes);
}

// The headers of the last response of a chain of redirections.
std::string_view last_response(const char *headers, std::size_t length) {
  std::string_view text(headers != nullptr ? headers : "", headers != nullptr ? length : 0);
  std::size_t at = text.rfind("HTTP/");
  while (at != std::string_view::npos) {
    if (at == 0 || text[at - 1] == '\n') return text.substr(at);
    at = text.rfind("HTTP/", at - 1);
  }
  return text;
}

// The URL the probe asks for: https stays, any other scheme becomes http.
const char *probe_url(apr_pool_t *pool, const char *url) {
  if (url_has_scheme(url, "https://")) return url;
  const char *after = url_after_scheme(url);
  return apr_pstrcat(pool, "http://", after != nullptr ? after : url, nullptr);
}

const char *content_type(apr_pool_t *pool, const HttpRequest &request, int status) {
  std::string_view headers = last_response(request.headers, request.headers_length);
  bool redirect = status >= 300 && status <= 399 && status != 304;
  const char *type = redirect ? nullptr : http_header_value(pool, "Content-Type:", headers.data(), headers.size());
  if (type == nullptr && request.body != nullptr) {
    const char *line = strcasestr(request.body, "Content-Type:");
    if (line != nullptr) type = http_header_value(pool, "Content-Type:", line, std::strlen(line));
  }
  return type != nullptr && *type != '\0' ? type : nullptr;
}

const char *skip_blanks(const char *text) { return text + std::strspn(text, " \t\r\n\f"); }

int probe_status(const HttpRequest &request) {
  int status = http_status(request.headers, request.headers_length);
  return status >= 0 ? status : http_status(request.body, request.body_length);
}

// Steps 6 and 7 of the content type's rules: metafiles served under a media
// type, and Icecast's web page type for its streams.
const char *mend_type(apr_pool_t *pool, const char *url, const char *type, const HttpRequest &request) {
  if (url_is_http(url) && equals_any(type, kWindowsMediaTypes) && request.body != nullptr &&
      starts_with_any(skip_blanks(request.body), kMetafileStarts))
    return "video/x-ms-asx";
  if (strcasecmp(type, "text/html") == 0) {
    std::string_view headers = last_response(request.headers, request.headers_length);
    const char *server = http_header_value(pool, "Server:", headers.data(), headers.size());
    if (server != nullptr && strcasestr(server, "Icecast") != nullptr) return "audio/mpeg";
  }
  return type;
}

// The answer for a probe that gave a content type.
const char *from_probe(const char *type, const MediaTypeEntry *row, bool streaming, int expected_class,
                       apr_pool_t *pool) {
  if (starts_icase(type, "text/") && row->media_class >= MEDIA_VIDEO && row->media_class <= MEDIA_IMAGE)
    return row->mime_type;
  if (!streaming) return type;
  bool media = starts_icase(type, "video/") || starts_icase(type, "audio/") || starts_icase(type, "application/");
  if (!media || strcasecmp(type, "application/octet-stream") == 0) return type;
  if (equals_any(type, kAsxTypes)) return by_class(kAsfTypes, expected_class);
  if (expected_class == MEDIA_AUDIO && starts_icase(type, "video/"))
    return apr_pstrcat(pool, "audio", std::strchr(type, '/'), nullptr);
  return type;
}

}  // namespace

int url_probe_headers(apr_pool_t *pool, const char *url, int follow_redirects, const char **mime,
                      const char **location, CancelCheck cancel, void *context) {
  *mime = nullptr;
  *location = nullptr;
  bool ultravox = url_has_scheme(url, "uvox://");
  HttpRequest request;
  request.pool = pool;
  request.url = probe_url(pool, url);
  request.range = "0-1000";
  request.extra_headers = ultravox ? kUltravox : nullptr;
  request.extra_count = ultravox ? 1 : 0;
  request.user_agent = ultravox ? "Ultravox/2.0" : nullptr;
  request.follow_redirects = follow_redirects;
  request.cut_at = kProbeBytes;
  request.cancel = cancel;
  request.cancel_context = context;
  int result = http_request_retrying(&request);
  if ((result == APR_SUCCESS || result == APR_INCOMPLETE) && probe_status(request) == 403) {
    request.range = nullptr;
    result = http_request_retrying(&request);
  }
  if (result == COMMON_CANCELLED) return result;
  if (result != APR_SUCCESS && result != APR_INCOMPLETE) return APR_EGENERAL;
  int status = probe_status(request);
  if (status >= 400) {
    const char *after = url_after_scheme(url);
    LOG4C_EX(kModule, LOG4C_ERROR,
             log4c_sprintf("Could not get protocol headers for url http://%s", after != nullptr ? after : url),
             kUserErrorLevel, nullptr);
    return APR_EGENERAL;
  }
  std::string_view headers = last_response(request.headers, request.headers_length);
  *location = http_location(pool, request.url, headers.data(), headers.size());
  const char *type = content_type(pool, request, status);
  if (type != nullptr) *mime = mend_type(pool, request.url, type, request);
  return APR_SUCCESS;
}

const char *url_mime_type(apr_pool_t *pool, const char *url, int expected_class, const char **final_url,
                          CancelCheck cancel, void *context) {
  const char *previous = nullptr;
  for (int hop = 0;; ++hop) {
    if (starts_with_any(url, kAsfSchemes)) return by_class(kAsfTypes, expected_class);
    if (url_has_scheme(url, "pnm://")) return by_class(kRealTypes, expected_class);
    const MediaTypeEntry *row = extension_row(url);
    if (trusted(row)) {
      if (expected_class != 0 && expected_class != MEDIA_AUDIO_OR_VIDEO && expected_class != row->media_class)
        LOG4C(kModule, LOG4C_WARN, "mime type found is different than expected");
      return row->mime_type;
    }
    bool streaming = starts_with_any(url, kStreamingSchemes);
    const char *type = nullptr;
    const char *location = nullptr;
    int status = url_probe_headers(pool, url, 0, &type, &location, cancel, context);
    if (status == COMMON_CANCELLED) return nullptr;
    if (status == APR_SUCCESS && location != nullptr && (previous == nullptr || std::strcmp(location, previous) != 0)) {
      if (hop == kMaxRedirects) {
        LOG4C(kModule, LOG4C_WARN, log4c_sprintf("Too many redirections for url %s", url));
        return nullptr;
      }
      previous = location;
      url = location;
      if (final_url != nullptr) *final_url = url;
      continue;
    }
    if (status == APR_SUCCESS && type != nullptr) return from_probe(type, row, streaming, expected_class, pool);
    if (status != APR_SUCCESS && !streaming) return nullptr;
    if (url_is_http(url)) return "audio/mpeg";
    return streaming ? by_class(kAsfTypes, expected_class) : nullptr;
  }
}
