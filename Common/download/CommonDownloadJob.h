// One background download: its record, how it starts on the download
// thread's multi handle, what its write callback decides on the first chunk,
// and how it finishes. Only the download thread touches a started job, except
// for its stop flag.
#pragma once

#include <apr_file_io.h>
#include <apr_pools.h>

#include <atomic>

#include "CommonDownloadInternal.h"

struct DownloadJob {
  apr_pool_t *pool;         // owns the job and its strings
  DownloadJobSpec spec;     // strings copied into pool
  apr_file_t *file;         // the target, once the first chunk arrived
  char headers[HTTP_HEADERS_MAX + 1];
  std::size_t header_length;
  bool headers_overflow;
  CURL *easy;
  curl_slist *lines;        // extra request headers
  std::atomic<int> live;    // the response is a live stream
  bool first_chunk_seen;    // the final response's body has begun
  bool limit_reached;
  bool has_backup;          // the old target was renamed to ".bak"
  apr_int64_t written;
  std::atomic<int> stop;    // download_cancel
  CancelHook hook;
  char error[CURL_ERROR_SIZE];
};

// A job in a root pool of its own, holding its own copies of the request's strings.
DownloadJob *download_job_create(const DownloadJobSpec &spec);
void download_job_free(DownloadJob *job);

// Sets the job up and adds it to multi. Returns 0, or 20014 after "Could not
// add curl easy handle to multi handle, failing download of file %s, reason:
// %s" (the job is then finished as failed by the caller).
int download_job_start(const CurlLibrary &curl, CURLM *multi, DownloadJob *job);

// Closes the target, decides success, restores or deletes files and takes
// the handle out of multi; returns the success flag for the done callback.
// code is the transfer's result; curl may be null for a job that never
// started.
int download_job_finish(const CurlLibrary *curl, CURLM *multi, DownloadJob *job, CURLcode code);
