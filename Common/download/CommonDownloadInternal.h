// Shared between the CommonDownload sources: libcurl with the share handle,
// and the options every easy handle gets.
#pragma once

#include <curl/curl.h>

#include "CommonCurlLibrary.h"
#include "CommonDownload.h"

inline constexpr const char *BACKGROUND_USER_AGENT = "Zentoria Media Server 2.7";
inline constexpr const char *REQUEST_USER_AGENT = "Zentoria Media Server 2.7 Indexer";
inline constexpr const char *COOKIE_FILE = "zentoria.cookies";

// Failures that background jobs and blocking requests report alike.
inline constexpr const char *HEADERS_TOO_LONG_TEXT = "response headers longer than 10000 bytes";
inline constexpr const char *WRITE_FAILED_TEXT = "Could not write downloaded data to file, check disk space...";

// The cancel check a transfer's progress callback polls.
struct CancelHook {
  CancelCheck cancel = nullptr;
  void *context = nullptr;
};

// libcurl, loaded and initialised, with the share handle made on first use;
// null when libcurl cannot be had (logged).
const CurlLibrary *download_curl();
// Frees the share handle (a failure logs libcurl's message); the next
// transfer makes a new one.
void download_share_free();

struct EasyOptions {
  const char *url;
  const char *user_agent;  // null: the background default
  int follow_redirects;
  int low_speed_guard;     // abort below 1250 bytes/s for 30 s
  int deadline;            // end at the overall deadline (a transfer someone waits for)
  const CancelHook *cancel;
};

// The options common to every easy handle: user agent (with the per-site
// override), no signals, cookies, debug text, 3 s connection time-out,
// redirections (http and https only, https only from https, at most 10),
// the guard, the overall deadline when asked for, the share,
// progress with cancel, HTTP/1.1, verified certificates.
void download_easy_options(const CurlLibrary &curl, CURL *easy, const EasyOptions &options);

// Appends lines to list; returns the new head (null stays null on failure).
curl_slist *download_header_list(const CurlLibrary &curl, curl_slist *list, const char *const *lines, int count);

// Logs "Failure for url %s, reason: %s" (WARN).
void download_log_failure(const char *url, const char *reason);
