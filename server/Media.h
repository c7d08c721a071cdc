// Media: the files of the library served by object id: an item's res
// (/media/<oid>/<n>) and its subtitles (/subtitle/<oid>); thumbnails are
// Thumbnails.h's. The file is the one the library names for that object;
// nothing of the request's path reaches the file system but the decimal
// oid. GET and HEAD, single byte ranges (206, 416 past the end), the type
// from the item's protocolInfo, bodies sent with sendfile. Item requests
// get the DLNA headers (transferMode, realTimeInfo, contentFeatures and
// CaptionInfo.sec when asked; 406 for a time seek or a transfer mode that
// does not fit the type). Handlers run on
// the request threads, each on its own library connection.
#pragma once

#include "CommonProp.h"
#include "HttpServer.h"

void media_serve(void *context, HttpServerRequest &request, HttpResponse &response);
void media_serve_subtitle(void *context, HttpServerRequest &request, HttpResponse &response);

// The properties of the object of a path prefix<oid> and its oid, or null
// when the response already says why not (404, 503).
PropList *media_object(void *context, HttpServerRequest &request, HttpResponse &response, const char *prefix,
                       const char **oid);

// Answers with the file at path (404 when it is not a regular file), whole
// or the part the request's Range asks for, as type.
void media_serve_file(HttpServerRequest &request, HttpResponse &response, const char *path, const char *type);

// A parsed Range header against a file of size bytes.
struct ByteRange {
  enum Kind { whole, part, unsatisfiable } kind;
  apr_uint64_t first, length;
};

// Reads "bytes=a-b", "bytes=a-" or "bytes=-n"; a missing, malformed or
// multi-range header asks for the whole file (such headers are ignored).
ByteRange media_range(const char *header, apr_uint64_t size);
