// Thumbnails: the JPEG_TN picture of an item (a photo scaled, a frame of a
// video, a track's cover beside it or in its tags), at most 160 x 160, made
// by the thumbnail extractor on the first request and kept in
// data/cache/thumbnails/ under the file cache's budget (least recently used
// evicted). Up to one extraction per core runs at once, never two of one
// thumbnail, and at most THUMB_WAITERS more requests wait; more get 503, so
// browsing goes on. An unreadable file gets 404 and one log line. The folder
// is set by thumbnails_start before requests; handlers run on request threads.
#pragma once

#include <apr_pools.h>

#include "CommonProp.h"
#include "HttpServer.h"
#include "ServerContext.h"

inline constexpr int THUMB_SIZE = 160;
inline constexpr int THUMB_WAITERS = 4;
inline constexpr const char *THUMB_PATH = "/thumb/";

// Makes the folder (under data_dir) and hands it to the file cache, whose
// budget (the configuration's cache maxSize/minSize) and timer the scan host
// started before: its pass runs every minute and after each thumbnail made.
// Returns 0, or 20014 after "Could not make the thumbnail folder %s".
int thumbnails_start(apr_pool_t *pool, const char *data_dir);

// Whether an object (its properties) has a thumbnail: photos, videos, and
// audio with album art beside it or a cover in its tags, made of a file of
// this machine (never of an internet URL).
bool thumbnails_has(apr_pool_t *pool, PropList *list);

// HttpHandler for GET /thumb/<oid> (context: the ServerContext).
void thumbnails_serve(void *context, HttpServerRequest &request, HttpResponse &response);
