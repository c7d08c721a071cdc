// Finding an object's file and answering with it, whole or in part.
#include "Media.h"

#include <apr_strings.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "CommonMultimedia.h"
#include "CommonPropNames.h"
#include "ClientProfiles.h"
#include "DidlUrls.h"
#include "DlnaProfile.h"
#include "MSDBHelper.h"
#include "MSDBQuery.h"
#include "ServerContext.h"

namespace {

constexpr const char *kStreaming = "Streaming";
constexpr const char *kInteractive = "Interactive";
constexpr const char *kBackground = "Background";

// A request header that asks for something with "1".
bool asked(const HttpServerRequest &request, const char *name) {
  const char *value = http_header(request, name);
  return value != nullptr && std::strcmp(value, "1") == 0;
}

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
PropList *object_props(HttpServerRequest &request, const char *oid, HttpResponse &response, void *context) {
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

// The DLNA side of a media request: 406 for what the server cannot do (a
// time seek, which needs transcoding, or a transfer mode that does not fit
// the type), else the headers that describe the transfer. False when the
// response is already the refusal.
bool dlna_headers(HttpServerRequest &request, HttpResponse &response, PropList *list, int n, const char *mime,
                  const ServerContext &server, const ClientProfile &client, const char *oid) {
  if (http_header(request, "TimeSeekRange.dlna.org") != nullptr) {
    http_text(response, 406, "Time seek ranges are not supported");
    return false;
  }
  const char *fitting = dlna_is_streamed(mime) ? kStreaming : kInteractive;
  const char *mode = http_header(request, "transferMode.dlna.org");
  if (mode != nullptr && strcasecmp(mode, fitting) != 0 && strcasecmp(mode, kBackground) != 0) {
    http_text(response, 406, "This transfer mode does not fit the media type");
    return false;
  }
  response.headers.emplace_back("transferMode.dlna.org", mode != nullptr ? mode : fitting);
  response.headers.emplace_back("realTimeInfo.dlna.org", "DLNA.ORG_TLAG=*");
  if (asked(request, "getcontentFeatures.dlna.org")) {
    response.headers.emplace_back("contentFeatures.dlna.org", didl_dlna_field(request.pool, list, n, client));
  }
  const char *res = prop_get(request.pool, list, PROP_RES, 0);
  if (asked(request, "getCaptionInfo.sec") && didl_file_path(res) != nullptr &&
      didl_subtitle_type(didl_subtitle_path(request.pool, server, res)) != nullptr) {
    response.headers.emplace_back("CaptionInfo.sec", std::string(request.base_url) + SUBTITLE_PATH + oid);
  }
  return true;
}

}  // namespace

void media_serve_file(HttpServerRequest &request, HttpResponse &response, const char *path, const char *type) {
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

void media_serve(void *context, HttpServerRequest &request, HttpResponse &response) {
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
  const char *type = dlna_protocol_mime(request.pool, prop_get(request.pool, list, PROP_RES_PROTOCOL_INFO, n));
  if (type == nullptr) type = type_by_extension(path != nullptr ? path : "");
  const ClientProfile &client = client_profile(request);
  if (!dlna_headers(request, response, list, n, type, *static_cast<const ServerContext *>(context), client, oid)) {
    return;
  }
  media_serve_file(request, response, path, client_mime(client, type));
}

PropList *media_object(void *context, HttpServerRequest &request, HttpResponse &response, const char *prefix,
                       const char **oid) {
  const char *rest = nullptr;
  if (!split_oid(request.pool, request.path, prefix, oid, &rest) || rest != nullptr) {
    http_text(response, 404, "No such object");
    return nullptr;
  }
  return object_props(request, *oid, response, context);
}

void media_serve_subtitle(void *context, HttpServerRequest &request, HttpResponse &response) {
  const auto *server = static_cast<const ServerContext *>(context);
  const char *oid = nullptr;
  PropList *list = media_object(context, request, response, SUBTITLE_PATH, &oid);
  if (list == nullptr) return;
  const char *res = prop_get(request.pool, list, PROP_RES, 0);
  const char *path = didl_file_path(res) != nullptr ? didl_subtitle_path(request.pool, *server, res) : nullptr;
  const SubtitleType *type = didl_subtitle_type(path);
  media_serve_file(request, response, type != nullptr ? path : nullptr, type != nullptr ? type->mime : "");
}
