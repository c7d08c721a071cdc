// CommonHTTPFile: a read-only, seekable file over HTTP byte ranges.
//
// Reads are served from a window of up to 192,000 bytes; a read outside it
// fetches the next window with one ranged request, so that a stream prober
// reading the start of a file (and seeking to its end) costs a few requests.
// The size comes from the first answer (-1 when the server gives none). The
// file and its windows live in a pool of their own under the caller's pool;
// one file is used by one thread at a time. Logs on "CommonHTTPFile".
//
// A local copy of a resource's head may be lent for a URL (a table of lent
// heads by URL, under a mutex): files opened on that URL meanwhile read the
// head from the copy and ask the server only for what lies beyond it.
#pragma once

#include <apr_file_io.h>
#include <apr_pools.h>

#include "CommonDownload.h"

inline constexpr apr_int64_t HTTP_FILE_WINDOW = 192000;

struct HttpFile;

// Opens url and reads its first window. Returns 0, 4 when cancel stopped it,
// or 20014 after "Error reading %s".
int http_file_open(apr_pool_t *pool, const char *url, HttpFile **file, CancelCheck cancel = nullptr,
                   void *context = nullptr);

// Reads up to *length bytes at the current position; *length becomes the
// count read. Returns 0; APR_EOF at the end (with *length 0); 4 when cancel
// stopped a window's request; 20014 after "Could not read HTTP URL %s at
// position %I64d", "Invalid range for HTTP URL %s" or "Unable to open HTTP
// URL (%s) for out of order reads" (a server that ignores ranges).
int http_file_read(HttpFile *file, void *buffer, apr_size_t *length, CancelCheck cancel, void *context);

// Moves the position (APR_SET, APR_CUR, APR_END); *offset becomes the new
// position. Returns 0, or 20014 after "Could not seek HTTP URL %s to position
// %I64d" (before the start, past the end, or from an unknown end).
int http_file_seek(HttpFile *file, apr_seek_where_t whence, apr_int64_t *offset);

// The size from the first answer, or -1.
apr_int64_t http_file_size(const HttpFile *file);

// Frees the file and its windows.
void http_file_close(HttpFile *file);

// Lends the first head_size bytes of url, held in the local file path, to
// the files opened on url until http_file_withdraw_head; total is the
// resource's size (-1 when unknown: the first ranged answer tells it).
// Strings are copied. One head per URL: a second loan replaces the first.
void http_file_lend_head(const char *url, const char *path, apr_int64_t head_size, apr_int64_t total);
// Ends the loan of url's head; files opened before keep reading it.
void http_file_withdraw_head(const char *url);
