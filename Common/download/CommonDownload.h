// CommonDownload: every HTTP transfer of the system, over libcurl.
//
// Two services: http_request, a blocking transfer on the caller's thread that
// returns the response headers and a body (in memory or in a file); and a
// queue of background downloads to files (at most 200 waiting), driven by one
// download thread that runs up to the configured number of transfers at once.
// All transfers share one cookie file ("zentoria.cookies" in the current
// folder) and one DNS cache. Only "http://" and "https://" URLs are fetched and
// followed (at most 10 redirections); certificates are verified against the
// system's CA store. Results of blocking calls live in the caller's pool; the
// background callbacks run on the download thread. Logs on "CommonDownload".
#pragma once

#include <apr_pools.h>
#include <apr_time.h>

#include <cstddef>

#include "CommonCancel.h"
#include "CommonUrl.h"  // url_is_http, kept reachable from here

inline constexpr const char *DOWNLOAD_MODULE = "CommonDownload";
// Response headers collected per transfer, at most.
inline constexpr std::size_t HTTP_HEADERS_MAX = 10000;
// A ranged body collected in memory, at most.
inline constexpr std::size_t HTTP_RANGE_BODY_MAX = 192000;
// A whole body collected in memory, at most: a longer one fails the request.
inline constexpr std::size_t HTTP_BODY_MAX = 16 * 1024 * 1024;
inline constexpr int DOWNLOAD_QUEUE_SIZE = 200;

// A background job ended; success is 1 or 0.
using DownloadDoneFn = void (*)(const char *url, int success, void *context);
// A background job's final response arrived: its headers and the expected
// size (-1 when unknown), before the first byte is written.
using DownloadHeadersFn = void (*)(const char *url, const char *headers, apr_int64_t size, void *context);
// Receives body bytes of a blocking request; returns the count taken (less
// than length stops the transfer).
using HttpBodyFn = std::size_t (*)(const char *data, std::size_t length, void *context);

// ---- Module state and background downloads ----

// Creates the module state and starts the download thread; libcurl itself is
// loaded for the first transfer. Returns 0, or 20014 after ERROR "Could no
// create mutex", "Could not create hash table", "Could not create queue for
// download jobs", "Could not create thread attribute for download thread",
// "Could not set detach attribute of thread to false" or "Could not create
// thread for background downloads".
int download_init(apr_pool_t *pool, int max_active);

// One background download. Only url and path are required.
struct DownloadJobSpec {
  const char *url = nullptr;
  const char *path = nullptr;     // target file; its folder must exist
  int refuse_live = 0;            // abort a response of unknown size (a live stream)
  int conditional = 0;            // If-Modified-Since from an existing target, kept on 304
  apr_int64_t byte_limit = -1;    // write no more than this (-1: no limit)
  DownloadDoneFn done = nullptr;
  DownloadHeadersFn headers = nullptr;
  CancelCheck cancel = nullptr;
  void *context = nullptr;        // handed to all three callbacks
};

// Queues a background download. Returns 0; 17 (ERROR "Can't download to path
// %s since it is already in use") while another job writes to path; 11 when
// 200 jobs wait ("Could not queue download job - the queue is full, failing
// request"); another APR status after "Could not queue download job, failing
// request"; 20014 before download_init. The done callback is called exactly
// once for a queued job (also when the job fails to start).
int download_queue_job(const DownloadJobSpec &spec);
int download_queue(const char *url, const char *path, int refuse_live, int conditional, DownloadDoneFn done,
                   DownloadHeadersFn headers, void *context);

// Stops the job writing to path (with live_only, only once it is known to be
// a live stream). Returns 1 when a job was flagged, else 0.
int download_cancel(const char *path, int live_only);

// Lets the thread finish the waiting and running jobs, joins it and frees the
// shared state. Returns 0, or 20014 after "Could not interrupt the download
// queue" or a join failure.
int download_stop();

// Every blocking request and every background job with a byte_limit (a head
// copy someone waits for) ends after this many seconds, however slowly its
// server keeps it alive (0: no deadline; 10 minutes until set). A background
// download of a whole file has only the low-speed guard. Any thread; later
// transfers take the new value.
inline constexpr int DOWNLOAD_DEFAULT_DEADLINE_MINUTES = 10;
void download_set_deadline(long seconds);

// Test hook: verify servers against this CA file instead of the system's
// store (null: the system's store again).
void download_set_ca_file(const char *path);

// ---- Blocking requests ----

struct HttpRequest {
  apr_pool_t *pool = nullptr;
  const char *url = nullptr;
  // "first-last" or "first-": the byte range asked for; null: the whole
  // body; "": headers only (no body).
  const char *range = nullptr;
  const char *const *extra_headers = nullptr;  // "Name: value" lines
  int extra_count = 0;
  const char *user_agent = nullptr;  // null: "Zentoria Media Server 2.7 Indexer"
  int follow_redirects = 0;
  int timeout_seconds = 0;           // 0: none, or 20 s for a ranged request
  // Without a range: cut the body after this many bytes (70008), as a range
  // would; -1: no cut.
  apr_int64_t cut_at = -1;
  CancelCheck cancel = nullptr;
  void *cancel_context = nullptr;
  // Where the body goes: a file (created or truncated), a callback, or (when
  // both are null) memory in pool, NUL-terminated.
  const char *body_path = nullptr;
  HttpBodyFn body_callback = nullptr;
  void *body_context = nullptr;
  // Optional upload: a file, or a memory block; sent as PUT, or as POST with
  // upload_post.
  const char *upload_path = nullptr;
  const void *upload_data = nullptr;
  std::size_t upload_size = 0;
  int upload_post = 0;
  // Optional HTTP digest credentials.
  const char *user = nullptr;
  const char *password = nullptr;
  // Results, in pool.
  char *body = nullptr;
  std::size_t body_length = 0;
  char *headers = nullptr;  // every response's header lines, as received
  std::size_t headers_length = 0;
};

// Performs the request on the calling thread. Returns 0; 70008 when the body
// was cut at the range's length (a server that ignored the range: success
// for callers); 4 when cancelled; 20014 after "Failure for url %s, reason:
// %s" (WARN) or a range that does not parse ("Could not parse HTTP range
// string %s for URL %s") or asks for more than 192,000 bytes in memory.
// A time-out before the first byte is retried once on a fresh connection.
int http_request(HttpRequest *request);

// http_request with the probes' retries: a failed "0-" range once more
// without a range, a failed headers-only request once more with "0-1000",
// and an "ICY 404" answer once more with "Icy-MetaData:1".
int http_request_retrying(HttpRequest *request);

// Headers only, redirections followed, with the retries above. Returns the
// statuses of http_request; *headers in pool.
int http_get_headers(apr_pool_t *pool, const char *url, char **headers, std::size_t *length,
                     CancelCheck cancel, void *context);

// Asks whether url changed since previous_headers were received: *changed is
// 0 on a 304 or an equal Last-Modified, else 1; *validators is
// "Last-Modified: %s\r\n" and/or "ETag: %s\r\n" of the answer (null with
// neither). Returns 0, 4, or 20014 after "Could not get protocol headers of
// url %s[, HTTP response indicates error %d]" (ERROR).
int http_check_changed(apr_pool_t *pool, const char *url, const char *previous_headers, int *changed,
                       char **validators, CancelCheck cancel, void *context);

// ---- Header helpers (texts as received, CR LF separated) ----

// The value of the first line starting with name ("Content-Type:"), leading
// blanks skipped, up to CR/LF; null when there is none.
char *http_header_value(apr_pool_t *pool, const char *name, const char *headers, std::size_t length);
// The status of the last "HTTP/" status line, else of an "ICY" line; -1 when
// there is none or it is not three digits.
int http_status(const char *text, std::size_t length);
// The total after '/' of "Content-Range:", else "Content-Length:"; -1 when
// unknown.
apr_int64_t http_content_size(const char *headers, std::size_t length);
// "Last-Modified:" as an APR time; -1 after ERROR "Could not get value for
// Last-Modified" or "Could not parset value of Last-Modified".
apr_time_t http_last_modified(const char *headers, std::size_t length);
// The "Location:" value, with "http:/x", "mms:/x" and "rtsp:/x" repaired and
// a relative value resolved against url; null when there is none.
char *http_location(apr_pool_t *pool, const char *url, const char *headers, std::size_t length);
