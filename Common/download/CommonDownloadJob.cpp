// Background jobs: start, the write callback's first-chunk rules, finish.
#include "CommonDownloadJob.h"

#include <apr_strings.h>
#include <strings.h>

#include <cstring>
#include <string_view>

#include "CommonCancel.h"
#include "CommonTime.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr apr_int64_t kNanocasterUnknownSize = 44000000;
constexpr apr_int64_t kUnknownSizes[] = {2147483647LL, 4294967295LL};

const char *backup_path(const DownloadJob *job) { return apr_pstrcat(job->pool, job->spec.path, ".bak", nullptr); }

void rename_logged(const char *from, const char *to, const DownloadJob *job) {
  apr_status_t status = apr_file_rename(from, to, job->pool);
  if (status == APR_SUCCESS) return;
  char reason[256];
  LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR,
        log4c_sprintf("Could not %s file for URL %s, reason: %s", "rename", job->spec.url,
                      apr_strerror(status, reason, sizeof reason)));
}

bool has_icy_headers(const char *headers, std::size_t length) {
  std::string_view text(headers, length);
  for (std::size_t at = 0; at < text.size();) {
    if (text.size() - at >= 4 && strncasecmp(text.data() + at, "icy-", 4) == 0) return true;
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  return false;
}

// The expected size, with the servers known to announce a size for a
// stream that never ends.
apr_int64_t expected_size(const DownloadJob *job) {
  apr_int64_t size = http_content_size(job->headers, job->header_length);
  const char *server = http_header_value(job->pool, "Server:", job->headers, job->header_length);
  if (server == nullptr || size < 0) return size;
  if (strncasecmp(server, "Nanocaster", 10) == 0 && size >= kNanocasterUnknownSize) return -1;
  if (std::strstr(server, "Zentoria") != nullptr)
    for (apr_int64_t unknown : kUnknownSizes)
      if (size == unknown) return -1;
  return size;
}

bool is_live_stream(const DownloadJob *job) {
  const char *type = http_header_value(job->pool, "Content-Type:", job->headers, job->header_length);
  if (type != nullptr && strncasecmp(type, "image/", 6) == 0) return false;
  const char *encoding = http_header_value(job->pool, "Transfer-Encoding:", job->headers, job->header_length);
  bool encoded = encoding != nullptr && strcasecmp(encoding, "identity") != 0;
  bool icy = has_icy_headers(job->headers, job->header_length) || std::strncmp(job->headers, "ICY 2", 5) == 0;
  return !(encoded && !icy);
}

int create_target(DownloadJob *job) {
  apr_status_t status =
      apr_file_open(&job->file, job->spec.path, APR_FOPEN_WRITE | APR_FOPEN_CREATE | APR_FOPEN_TRUNCATE |
                                                    APR_FOPEN_BINARY | APR_FOPEN_BUFFERED,
                    APR_FPROT_OS_DEFAULT, job->pool);
  // Tells the clean-up of a download folder, in this or another process,
  // that the file is being written; the lock goes with the file's close.
  if (status == APR_SUCCESS) {
    apr_file_lock(job->file, APR_FLOCK_SHARED | APR_FLOCK_NONBLOCK);
    return APR_SUCCESS;
  }
  job->file = nullptr;
  LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, log4c_sprintf("Unable to create and/or truncate file (%s)", job->spec.path));
  return status;
}

enum class FirstChunk { write, pass, abort };

// The rules applied when the final response's body begins.
FirstChunk first_chunk(DownloadJob *job) {
  int status = http_status(job->headers, job->header_length);
  if (status >= 300 && status <= 399 && status != 304) return FirstChunk::pass;
  job->first_chunk_seen = true;
  if (status > 399) {
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, log4c_sprintf("Failed HTTP response for %s", job->spec.url));
    return FirstChunk::abort;
  }
  apr_int64_t size = expected_size(job);
  if (size < 0 && is_live_stream(job)) {
    if (job->spec.refuse_live) {
      LOG4C(DOWNLOAD_MODULE, LOG4C_DEBUG,
            log4c_sprintf("Aborting download of infinite size file / live stream (%s)", job->spec.url));
      return FirstChunk::abort;
    }
    job->live = 1;
  }
  if (job->spec.headers != nullptr) job->spec.headers(job->spec.url, job->headers, size, job->spec.context);
  return create_target(job) == APR_SUCCESS ? FirstChunk::write : FirstChunk::abort;
}

// Polled by the write and progress callbacks: download_cancel's flag or the
// caller's cancel check.
int job_stopped(void *data) {
  auto *job = static_cast<DownloadJob *>(data);
  return job->stop.load() != 0 || cancel_requested(job->spec.cancel, job->spec.context);
}

std::size_t on_body(char *data, std::size_t size, std::size_t count, void *user) {
  auto *job = static_cast<DownloadJob *>(user);
  std::size_t length = size * count;
  if (job_stopped(job)) return 0;
  if (!job->first_chunk_seen) {
    FirstChunk rule = first_chunk(job);
    if (rule == FirstChunk::pass) return length;
    if (rule == FirstChunk::abort) return 0;
  }
  std::size_t take = length;
  if (job->spec.byte_limit >= 0 && job->written + static_cast<apr_int64_t>(length) > job->spec.byte_limit) {
    take = static_cast<std::size_t>(job->spec.byte_limit - job->written);
    job->limit_reached = true;
  }
  apr_size_t bytes = take;
  if (take > 0 && (apr_file_write_full(job->file, data, take, &bytes) != APR_SUCCESS || bytes != take)) {
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, WRITE_FAILED_TEXT);
    return 0;
  }
  job->written += static_cast<apr_int64_t>(take);
  return take == length ? length : 0;
}

std::size_t on_header(char *data, std::size_t size, std::size_t count, void *user) {
  auto *job = static_cast<DownloadJob *>(user);
  std::size_t length = size * count;
  if (job->header_length + length > HTTP_HEADERS_MAX) {
    job->headers_overflow = true;
    return 0;
  }
  std::memcpy(job->headers + job->header_length, data, length);
  job->header_length += length;
  job->headers[job->header_length] = '\0';
  return length;
}

// If-Modified-Since from the existing target, which is kept as ".bak"
// until the answer is known.
void make_conditional(const CurlLibrary &curl, DownloadJob *job) {
  apr_finfo_t info;
  if (apr_stat(&info, job->spec.path, APR_FINFO_MTIME, job->pool) != APR_SUCCESS) return;
  const char *date = time_rfc822(job->pool, info.mtime);
  if (date == nullptr) {
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR,
          log4c_sprintf("Can't get file mtime in RFC822 format for URL %s, HTTP request will not be conditional...",
                        job->spec.url));
  } else {
    job->lines = curl.slist_append(job->lines, apr_psprintf(job->pool, "If-Modified-Since: %s", date));
  }
  apr_status_t status = apr_file_rename(job->spec.path, backup_path(job), job->pool);
  if (status != APR_SUCCESS) {
    char reason[256];
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR,
          log4c_sprintf("Could not %s file for URL %s, reason: %s", "back up", job->spec.url,
                        apr_strerror(status, reason, sizeof reason)));
    return;
  }
  job->has_backup = true;
}

void delete_target(const DownloadJob *job) {
  apr_status_t status = apr_file_remove(job->spec.path, job->pool);
  if (status == APR_SUCCESS || APR_STATUS_IS_ENOENT(status)) return;
  char reason[256];
  LOG4C(DOWNLOAD_MODULE, LOG4C_WARN,
        log4c_sprintf("Could not delete file %s, reason is %s", job->spec.path,
                      apr_strerror(status, reason, sizeof reason)));
}

// A successful answer without a body still leaves the target in place.
void ensure_target(DownloadJob *job) {
  if (job->first_chunk_seen) return;
  if (create_target(job) == APR_SUCCESS) {
    apr_file_close(job->file);
    job->file = nullptr;
  }
}

void finish_conditional(DownloadJob *job, long status) {
  if (status == 304) {
    if (job->has_backup) rename_logged(backup_path(job), job->spec.path, job);
    return;
  }
  ensure_target(job);
  if (job->has_backup) apr_file_remove(backup_path(job), job->pool);
  if (http_header_value(job->pool, "Last-Modified:", job->headers, job->header_length) == nullptr) return;
  apr_time_t modified = http_last_modified(job->headers, job->header_length);
  apr_status_t result = modified >= 0 ? apr_file_mtime_set(job->spec.path, modified, job->pool) : APR_EGENERAL;
  if (result != APR_SUCCESS)
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR,
          log4c_sprintf("Could not set modification time for downloaded file after a conditional HTTP Get, %s",
                        job->spec.path));
}

const char *failure_reason(const CurlLibrary *curl, const DownloadJob *job, CURLcode code, long status) {
  if (job->headers_overflow) return HEADERS_TOO_LONG_TEXT;
  if (job->live.load() != 0 && code == CURLE_OK) return "live stream";
  if (code == CURLE_OK) return apr_psprintf(job->pool, "HTTP status %ld", status);
  if (job->error[0] != '\0') return job->error;
  return curl != nullptr ? curl->easy_strerror(code) : "the transfer could not start";
}

}  // namespace

DownloadJob *download_job_create(const DownloadJobSpec &spec) {
  apr_pool_t *pool = pool_create_or_die(nullptr, DOWNLOAD_MODULE);
  auto *job = static_cast<DownloadJob *>(apr_pcalloc(pool, sizeof(DownloadJob)));
  new (job) DownloadJob{};
  job->pool = pool;
  job->spec = spec;
  job->spec.url = apr_pstrdup(pool, spec.url);
  job->spec.path = apr_pstrdup(pool, spec.path);
  job->hook = {job_stopped, job};
  return job;
}

void download_job_free(DownloadJob *job) {
  apr_pool_t *pool = job->pool;
  job->~DownloadJob();
  apr_pool_destroy(pool);
}

int download_job_start(const CurlLibrary &curl, CURLM *multi, DownloadJob *job) {
  job->easy = curl.easy_init();
  if (job->easy == nullptr) {
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, "Could not initialize curl");
    return APR_EGENERAL;
  }
  CURL *easy = job->easy;
  curl.easy_setopt(easy, CURLOPT_URL, job->spec.url);
  curl.easy_setopt(easy, CURLOPT_ERRORBUFFER, job->error);
  curl.easy_setopt(easy, CURLOPT_WRITEFUNCTION, on_body);
  curl.easy_setopt(easy, CURLOPT_WRITEDATA, job);
  curl.easy_setopt(easy, CURLOPT_HEADERFUNCTION, on_header);
  curl.easy_setopt(easy, CURLOPT_HEADERDATA, job);
  curl.easy_setopt(easy, CURLOPT_PRIVATE, job);
  if (job->spec.conditional) make_conditional(curl, job);
  if (job->lines != nullptr) curl.easy_setopt(easy, CURLOPT_HTTPHEADER, job->lines);
  // A head copy is waited for (a probe reads it); a whole file is not.
  const int deadline = job->spec.byte_limit >= 0 ? 1 : 0;
  download_easy_options(curl, easy, {job->spec.url, BACKGROUND_USER_AGENT, 1, 1, deadline, &job->hook});
  CURLMcode code = curl.multi_add_handle(multi, easy);
  if (code == CURLM_OK) return APR_SUCCESS;
  LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR,
        log4c_sprintf("Could not add curl easy handle to multi handle, failing download of file %s, reason: %s",
                      job->spec.path, curl.multi_strerror(code)));
  return APR_EGENERAL;
}

int download_job_finish(const CurlLibrary *curl, CURLM *multi, DownloadJob *job, CURLcode code) {
  if (job->file != nullptr && apr_file_close(job->file) != APR_SUCCESS)
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, log4c_sprintf("Could not close file %s", job->spec.path));
  job->file = nullptr;
  long status = 0;
  if (curl != nullptr && job->easy != nullptr) curl->easy_getinfo(job->easy, CURLINFO_RESPONSE_CODE, &status);
  bool ended = code == CURLE_OK || (code == CURLE_WRITE_ERROR && job->limit_reached);
  bool success = ended && job->live.load() == 0 && status < 400 && status > 0;
  if (success && job->spec.conditional) {
    finish_conditional(job, status);
  } else if (success) {
    ensure_target(job);
  } else {
    if (ended && status > 399 && !job->first_chunk_seen)
      LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, log4c_sprintf("Failed HTTP response for %s", job->spec.url));
    LOG4C(DOWNLOAD_MODULE, LOG4C_WARN,
          log4c_sprintf("Download of %s failed/aborted, reason: %s", job->spec.url,
                        failure_reason(curl, job, code, status)));
    delete_target(job);
    if (job->has_backup) rename_logged(backup_path(job), job->spec.path, job);
  }
  if (job->easy != nullptr) {
    if (multi != nullptr && curl->multi_remove_handle(multi, job->easy) != CURLM_OK)
      LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, "Could not remove easy handle from multi handle");
    curl->easy_cleanup(job->easy);
    job->easy = nullptr;
  }
  if (job->lines != nullptr) curl->slist_free_all(job->lines);
  job->lines = nullptr;
  return success ? 1 : 0;
}
