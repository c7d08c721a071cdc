// Finding an object's file and answering with it, whole or in part.
#include "Media.h"

#include <apr_strings.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "CommonMultimedia.h"
#include "CommonPropNames.h"
#include "DidlUrls.h"
#include "MSDBHelper.h"
#include "MSDBQuery.h"
#include "MSDBURIProps.h"
#include "ServerContext.h"

namespace {

constexpr const char *kSubtitleType = "text/srt";

bool parse_number(const char *text, const char *end, apr_uint64_t *value) {
  if (text == end) return false;
  apr_uint64_t n = 0;
  for (const char *p = text; p < end; ++p) {
    if (*p < '0' || *p > '9' || n > (~0ull - 9) / 10) return false;
    n = n * 10 + static_cast<apr_uint64_t>(*p - '0');
  }
  *value = n;
  return true;
}

// The object oid and the rest of a path after prefix ("12/0" -> "12", "0").
bool split_oid(apr_pool_t *pool, const char *path, const char *prefix, const char **oid, const char **rest) {
  const char *start = path + std::strlen(prefix);
  const char *slash = std::strchr(start, '/');
  *oid = slash != nullptr ? apr_pstrndup(pool, start, static_cast<apr_size_t>(slash - start)) : start;
  *rest = slash != nullptr ? slash + 1 : nullptr;
  return db_oid_valid(*oid);
}

// The object's properties, or null (the response says why).
PropList *object_props(HttpRequest &request, const char *oid, HttpResponse &response, void *context) {
  const auto *server = static_cast<const ServerContext *>(context);
  PropList *list = nullptr;
  if (msdb_fetch_prop_list(request.pool, server->db, oid, &list) != APR_SUCCESS) {
    http_text(response, 503, "The library cannot be read now");
    return nullptr;
  }
  if (prop_count(list, PROP_UPNP_CLASS) == 0) {
    http_text(response, 404, "No such object");
    return nullptr;
  }
  return list;
}

const char *type_by_extension(const char *path) {
  const char *dot = std::strrchr(path, '.');
  const char *extension = dot != nullptr ? dot + 1 : "";
  return media_type_by_extension(extension, static_cast<int>(std::strlen(extension)))->mime_type;
}

// The MIME type of a protocolInfo ("http-get:*:video/mp4:*"), or null.
const char *protocol_type(apr_pool_t *pool, const char *protocol_info) {
  if (protocol_info == nullptr) return nullptr;
  const char *first = std::strchr(protocol_info, ':');
  const char *second = first != nullptr ? std::strchr(first + 1, ':') : nullptr;
  const char *third = second != nullptr ? std::strchr(second + 1, ':') : nullptr;
  if (third == nullptr) return nullptr;
  return apr_pstrndup(pool, second + 1, static_cast<apr_size_t>(third - second - 1));
}

void serve_file(HttpRequest &request, HttpResponse &response, const char *path, const char *type) {
  const int fd = path != nullptr ? open(path, O_RDONLY | O_CLOEXEC) : -1;
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (fd >= 0) close(fd);
    http_text(response, 404, "The file of this object is missing");
    return;
  }
  const auto size = static_cast<apr_uint64_t>(info.st_size);
  const ByteRange range = media_range(http_header(request, "Range"), size);
  response.headers.emplace_back("Accept-Ranges", "bytes");
  if (range.kind == ByteRange::unsatisfiable) {
    close(fd);
    http_text(response, 416, "Range not satisfiable");
    response.headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
    return;
  }
  response.fd = fd;
  response.content_type = type;
  response.offset = range.kind == ByteRange::part ? range.first : 0;
  response.length = range.kind == ByteRange::part ? range.length : size;
  if (range.kind == ByteRange::part) {
    response.status = 206;
    response.headers.emplace_back("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                                       std::to_string(range.first + range.length - 1) + "/" +
                                                       std::to_string(size));
  }
}

}  // namespace

ByteRange media_range(const char *header, apr_uint64_t size) {
  const ByteRange whole{ByteRange::whole, 0, size};
  constexpr const char *kUnit = "bytes=";
  if (header == nullptr || std::strncmp(header, kUnit, std::strlen(kUnit)) != 0) return whole;
  const char *spec = header + std::strlen(kUnit);
  const char *dash = std::strchr(spec, '-');
  if (dash == nullptr || std::strchr(spec, ',') != nullptr) return whole;
  const char *end = spec + std::strlen(spec);
  apr_uint64_t first = 0, last = 0;
  if (dash == spec) {  // the last n bytes
    if (!parse_number(dash + 1, end, &last)) return whole;
    if (last == 0 || size == 0) return {ByteRange::unsatisfiable, 0, 0};
    const apr_uint64_t length = last < size ? last : size;
    return {ByteRange::part, size - length, length};
  }
  if (!parse_number(spec, dash, &first)) return whole;
  if (dash + 1 == end) {
    last = size == 0 ? 0 : size - 1;
  } else if (!parse_number(dash + 1, end, &last) || last < first) {
    return whole;
  }
  if (first >= size) return {ByteRange::unsatisfiable, 0, 0};
  if (last >= size) last = size - 1;
  return {ByteRange::part, first, last - first + 1};
}

void media_serve(void *context, HttpRequest &request, HttpResponse &response) {
  const char *oid = nullptr, *rest = nullptr;
  apr_uint64_t instance = 0;
  if (!split_oid(request.pool, request.path, MEDIA_PATH, &oid, &rest) || rest == nullptr ||
      !parse_number(rest, rest + std::strlen(rest), &instance) || instance > 100) {
    http_text(response, 404, "No such object");
    return;
  }
  PropList *list = object_props(request, oid, response, context);
  if (list == nullptr) return;
  const int n = static_cast<int>(instance);
  const char *path = didl_file_path(prop_get(request.pool, list, PROP_RES, n));
  const char *type = protocol_type(request.pool, prop_get(request.pool, list, PROP_RES_PROTOCOL_INFO, n));
  serve_file(request, response, path, type != nullptr ? type : type_by_extension(path != nullptr ? path : ""));
}

void media_serve_art(void *context, HttpRequest &request, HttpResponse &response) {
  const char *oid = nullptr, *rest = nullptr;
  if (!split_oid(request.pool, request.path, ART_PATH, &oid, &rest) || rest != nullptr) {
    http_text(response, 404, "No such object");
    return;
  }
  PropList *list = object_props(request, oid, response, context);
  if (list == nullptr) return;
  const char *path = didl_file_path(didl_album_art(request.pool, list));
  serve_file(request, response, path, type_by_extension(path != nullptr ? path : ""));
}

void media_serve_subtitle(void *context, HttpRequest &request, HttpResponse &response) {
  const auto *server = static_cast<const ServerContext *>(context);
  const char *oid = nullptr, *rest = nullptr;
  if (!split_oid(request.pool, request.path, SUBTITLE_PATH, &oid, &rest) || rest != nullptr) {
    http_text(response, 404, "No such object");
    return;
  }
  PropList *list = object_props(request, oid, response, context);
  if (list == nullptr) return;
  const char *res = prop_get(request.pool, list, PROP_RES, 0);
  const char *srt = nullptr;
  if (didl_file_path(res) != nullptr) {
    msdb_uri_prop_get(request.pool, server->db, res, 0, nullptr, nullptr, "zentoria:subtitles", &srt);
  }
  serve_file(request, response, didl_file_path(srt), kSubtitleType);
}
