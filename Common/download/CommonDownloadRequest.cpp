// The blocking request: one easy handle on the caller's thread, the response
// headers and body collected as asked, and the probes' retries around it.
//
// Everything a hostile server sends is bounded: the headers at 10,000 bytes,
// a ranged body at its range, any other body in memory at HTTP_BODY_MAX.
#include <apr_file_io.h>
#include <apr_strings.h>
#include <strings.h>

#include <cstring>
#include <string>

#include "CommonCancel.h"
#include "CommonDownloadInternal.h"
#include "CommonHttp.h"
#include "CommonUserMessage.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr long kRangedTimeoutSeconds = 20;
constexpr const char *kProbeRange = "0-1000";

struct Transfer {
  HttpRequest *request;
  std::string headers;
  bool headers_overflow = false;
  std::string body;
  apr_file_t *file = nullptr;
  apr_int64_t written = 0;
  apr_int64_t limit = -1;  // bytes the body may have; -1: unbounded
  bool cut = false;        // the range's length was reached
  bool too_long = false;   // a body in memory outgrew HTTP_BODY_MAX
  bool write_failed = false;
  bool no_status = false;  // neither an HTTP status line nor an ICY answer
  CancelHook hook;
  // Upload source.
  apr_file_t *upload_file = nullptr;
  std::size_t upload_sent = 0;
};

std::size_t on_header(char *data, std::size_t size, std::size_t count, void *user) {
  auto *transfer = static_cast<Transfer *>(user);
  std::size_t length = size * count;
  if (transfer->headers.size() + length > HTTP_HEADERS_MAX) {
    transfer->headers_overflow = true;
    return 0;
  }
  transfer->headers.append(data, length);
  return length;
}

// The part of a chunk that fits under the limit; flags what was refused.
std::size_t fitting(Transfer &transfer, std::size_t length, apr_int64_t memory_cap) {
  apr_int64_t limit = transfer.limit;
  bool ranged = limit >= 0;
  if (!ranged) limit = memory_cap;
  if (limit < 0 || transfer.written + static_cast<apr_int64_t>(length) <= limit) return length;
  (ranged ? transfer.cut : transfer.too_long) = true;
  return static_cast<std::size_t>(limit - transfer.written);
}

std::size_t on_body(char *data, std::size_t size, std::size_t count, void *user) {
  auto *transfer = static_cast<Transfer *>(user);
  HttpRequest *request = transfer->request;
  std::size_t length = size * count;
  if (transfer->written == 0 && transfer->headers.empty() && (length < 3 || std::strncmp(data, "ICY", 3) != 0)) {
    transfer->no_status = true;
    return 0;
  }
  bool in_memory = transfer->file == nullptr && request->body_callback == nullptr;
  std::size_t take = fitting(*transfer, length, in_memory ? static_cast<apr_int64_t>(HTTP_BODY_MAX) : -1);
  std::size_t taken = take;
  if (transfer->file != nullptr) {
    apr_size_t bytes = take;
    if (take > 0 && (apr_file_write_full(transfer->file, data, take, &bytes) != APR_SUCCESS || bytes != take)) {
      transfer->write_failed = true;
      return 0;
    }
  } else if (request->body_callback != nullptr) {
    taken = take > 0 ? request->body_callback(data, take, request->body_context) : 0;
  } else {
    transfer->body.append(data, take);
  }
  transfer->written += static_cast<apr_int64_t>(taken);
  return taken < take ? taken : take;
}

std::size_t on_upload(char *buffer, std::size_t size, std::size_t count, void *user) {
  auto *transfer = static_cast<Transfer *>(user);
  const HttpRequest *request = transfer->request;
  std::size_t room = size * count;
  if (transfer->upload_file != nullptr) {
    apr_size_t bytes = room;
    apr_status_t status = apr_file_read(transfer->upload_file, buffer, &bytes);
    if (status == APR_EOF) return 0;
    return status == APR_SUCCESS ? bytes : CURL_READFUNC_ABORT;
  }
  std::size_t left = request->upload_size - transfer->upload_sent;
  std::size_t bytes = left < room ? left : room;
  std::memcpy(buffer, static_cast<const char *>(request->upload_data) + transfer->upload_sent, bytes);
  transfer->upload_sent += bytes;
  return bytes;
}

// Checks the range and sets transfer.limit from it. Returns 0 or 20014.
int apply_range(Transfer &transfer, bool in_memory) {
  const HttpRequest *request = transfer.request;
  if (request->range == nullptr) transfer.limit = request->cut_at;
  if (request->range == nullptr || *request->range == '\0') return APR_SUCCESS;
  apr_int64_t first = 0, last = 0;
  std::string text = std::string("bytes=") + request->range;
  if (!http_range_parse(text.c_str(), &first, &last)) {
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR,
          log4c_sprintf("Could not parse HTTP range string %s for URL %s", request->range, request->url));
    return APR_EGENERAL;
  }
  bool open_ended = text.back() == '-';
  if (first < 0) transfer.limit = -first;
  else if (!open_ended) transfer.limit = last - first + 1;
  if (in_memory && transfer.limit > static_cast<apr_int64_t>(HTTP_RANGE_BODY_MAX)) {
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

int open_files(Transfer &transfer, apr_pool_t *pool) {
  const HttpRequest *request = transfer.request;
  char reason[256];
  if (request->body_path != nullptr) {
    apr_status_t status =
        apr_file_open(&transfer.file, request->body_path,
                      APR_FOPEN_WRITE | APR_FOPEN_CREATE | APR_FOPEN_TRUNCATE | APR_FOPEN_BINARY, APR_FPROT_OS_DEFAULT,
                      pool);
    if (status != APR_SUCCESS) {
      LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR,
            log4c_sprintf("Unable to create and/or truncate file (%s), reason: %s", request->body_path,
                          apr_strerror(status, reason, sizeof reason)));
      return APR_EGENERAL;
    }
  }
  if (request->upload_path != nullptr) {
    apr_status_t status =
        apr_file_open(&transfer.upload_file, request->upload_path, APR_FOPEN_READ | APR_FOPEN_BINARY, 0, pool);
    if (status != APR_SUCCESS) {
      LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR,
            log4c_sprintf("Unable to open file (%s) for reading, reason: %s", request->upload_path,
                          apr_strerror(status, reason, sizeof reason)));
      return APR_EGENERAL;
    }
  }
  return APR_SUCCESS;
}

void set_upload(const CurlLibrary &curl, CURL *easy, Transfer &transfer) {
  const HttpRequest *request = transfer.request;
  if (request->upload_path == nullptr && request->upload_data == nullptr) return;
  curl_off_t size = static_cast<curl_off_t>(request->upload_size);
  if (transfer.upload_file != nullptr) {
    apr_finfo_t info;
    size = apr_file_info_get(&info, APR_FINFO_SIZE, transfer.upload_file) == APR_SUCCESS ? info.size : -1;
  }
  curl.easy_setopt(easy, CURLOPT_READFUNCTION, on_upload);
  curl.easy_setopt(easy, CURLOPT_READDATA, &transfer);
  if (request->upload_post) {
    curl.easy_setopt(easy, CURLOPT_POST, 1L);
    curl.easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, size);
  } else {
    curl.easy_setopt(easy, CURLOPT_UPLOAD, 1L);
    curl.easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, size);
  }
}

void set_options(const CurlLibrary &curl, CURL *easy, Transfer &transfer, curl_slist *lines, char *error) {
  const HttpRequest *request = transfer.request;
  curl.easy_setopt(easy, CURLOPT_URL, request->url);
  curl.easy_setopt(easy, CURLOPT_ERRORBUFFER, error);
  if (request->range != nullptr) {
    if (*request->range == '\0')
      curl.easy_setopt(easy, CURLOPT_NOBODY, 1L);
    else
      curl.easy_setopt(easy, CURLOPT_RANGE, request->range);
  }
  curl.easy_setopt(easy, CURLOPT_WRITEFUNCTION, on_body);
  curl.easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
  curl.easy_setopt(easy, CURLOPT_HEADERFUNCTION, on_header);
  curl.easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
  set_upload(curl, easy, transfer);
  if (request->user != nullptr) {
    curl.easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_DIGEST));
    curl.easy_setopt(easy, CURLOPT_USERNAME, request->user);
    curl.easy_setopt(easy, CURLOPT_PASSWORD, request->password != nullptr ? request->password : "");
  }
  if (lines != nullptr) curl.easy_setopt(easy, CURLOPT_HTTPHEADER, lines);
  const char *agent = request->user_agent != nullptr ? request->user_agent : REQUEST_USER_AGENT;
  download_easy_options(curl, easy, {request->url, agent, request->follow_redirects, 1, 1, &transfer.hook});
  // A request's own time-out is shorter than the deadline of every transfer.
  long timeout = request->timeout_seconds;
  if (timeout == 0 && request->range != nullptr && *request->range != '\0') timeout = kRangedTimeoutSeconds;
  if (timeout > 0) curl.easy_setopt(easy, CURLOPT_TIMEOUT, timeout);
}

// Rewinds what one attempt collected, for the retry on a fresh connection.
void restart(Transfer &transfer) {
  transfer.headers.clear();
  transfer.body.clear();
  transfer.written = 0;
  transfer.upload_sent = 0;
  if (transfer.file != nullptr) {
    apr_off_t start = 0;
    apr_file_seek(transfer.file, APR_SET, &start);
    apr_file_trunc(transfer.file, 0);
  }
  if (transfer.upload_file != nullptr) {
    apr_off_t start = 0;
    apr_file_seek(transfer.upload_file, APR_SET, &start);
  }
}

int outcome(CURLcode code, const Transfer &transfer, const char *error, const CurlLibrary &curl) {
  const char *url = transfer.request->url;
  if (code == CURLE_OK) return APR_SUCCESS;
  if (code == CURLE_WRITE_ERROR && transfer.cut) return APR_INCOMPLETE;
  if (code == CURLE_ABORTED_BY_CALLBACK) return COMMON_CANCELLED;
  if (transfer.no_status)
    download_log_failure(url, "the answer has no HTTP status line");
  else if (transfer.headers_overflow)
    download_log_failure(url, HEADERS_TOO_LONG_TEXT);
  else if (transfer.too_long)
    download_log_failure(url, "response body longer than 16 MiB");
  else if (transfer.write_failed)
    download_log_failure(url, WRITE_FAILED_TEXT);
  else
    download_log_failure(url, *error != '\0' ? error : curl.easy_strerror(code));
  return APR_EGENERAL;
}

CURLcode perform(const CurlLibrary &curl, CURL *easy, Transfer &transfer) {
  CURLcode code = curl.easy_perform(easy);
  if (code != CURLE_OPERATION_TIMEDOUT || !transfer.headers.empty() || transfer.written > 0) return code;
  restart(transfer);
  curl.easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
  return curl.easy_perform(easy);
}

void hand_back(HttpRequest *request, const Transfer &transfer) {
  request->headers = apr_pstrmemdup(request->pool, transfer.headers.data(), transfer.headers.size());
  request->headers_length = transfer.headers.size();
  if (transfer.file == nullptr && request->body_callback == nullptr) {
    request->body = apr_pstrmemdup(request->pool, transfer.body.data(), transfer.body.size());
    request->body_length = transfer.body.size();
  }
}

bool starts_with(const char *text, std::size_t length, const char *prefix) {
  std::size_t size = std::strlen(prefix);
  return text != nullptr && length >= size && std::strncmp(text, prefix, size) == 0;
}

// A probe the server refused in this form: the transfer failed, or it
// answered that it cannot serve the range or the method.
bool refused(int status, const HttpRequest &request) {
  if (status != APR_SUCCESS && status != APR_INCOMPLETE) return status != COMMON_CANCELLED;
  int code = http_status(request.headers, request.headers_length);
  return code == 405 || code == 416 || code == 501;
}

}  // namespace

int http_request(HttpRequest *request) {
  request->body = nullptr;
  request->body_length = 0;
  request->headers = nullptr;
  request->headers_length = 0;
  Pool scratch(request->pool, DOWNLOAD_MODULE);
  Transfer transfer;
  transfer.request = request;
  transfer.hook = {request->cancel, request->cancel_context};
  bool in_memory = request->body_path == nullptr && request->body_callback == nullptr;
  if (apply_range(transfer, in_memory) != APR_SUCCESS) return APR_EGENERAL;
  const CurlLibrary *curl = download_curl();
  CURL *easy = curl != nullptr ? curl->easy_init() : nullptr;
  if (easy == nullptr) {
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, "Could not initialize curl");
    return APR_EGENERAL;
  }
  int status = open_files(transfer, scratch);
  if (status == APR_SUCCESS) {
    curl_slist *lines = download_header_list(*curl, nullptr, request->extra_headers, request->extra_count);
    char error[CURL_ERROR_SIZE] = "";
    set_options(*curl, easy, transfer, lines, error);
    status = outcome(perform(*curl, easy, transfer), transfer, error, *curl);
    curl->slist_free_all(lines);
  }
  curl->easy_cleanup(easy);
  if (transfer.file != nullptr && apr_file_close(transfer.file) != APR_SUCCESS && status == APR_SUCCESS) {
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, log4c_sprintf("Could not close file %s", request->body_path));
    status = APR_EGENERAL;
  }
  hand_back(request, transfer);
  return status;
}

int http_request_retrying(HttpRequest *request) {
  const char *range = request->range;
  int status = http_request(request);
  if (range != nullptr && refused(status, *request)) {
    if (std::strncmp(range, "0-", 2) == 0) {
      request->range = nullptr;
      status = http_request(request);
    } else if (*range == '\0') {
      request->range = kProbeRange;
      status = http_request(request);
    }
    request->range = range;
  }
  if ((status == APR_SUCCESS || status == APR_INCOMPLETE) &&
      (starts_with(request->headers, request->headers_length, "ICY 404") ||
       starts_with(request->body, request->body_length, "ICY 404"))) {
    const char **lines = static_cast<const char **>(
        apr_palloc(request->pool, sizeof(char *) * static_cast<std::size_t>(request->extra_count + 1)));
    for (int i = 0; i < request->extra_count; ++i) lines[i] = request->extra_headers[i];
    lines[request->extra_count] = "Icy-MetaData:1";
    const char *const *saved = request->extra_headers;
    request->extra_headers = lines;
    ++request->extra_count;
    status = http_request(request);
    request->extra_headers = saved;
    --request->extra_count;
  }
  return status;
}

int http_get_headers(apr_pool_t *pool, const char *url, char **headers, std::size_t *length,
                     CancelCheck cancel, void *context) {
  HttpRequest request;
  request.pool = pool;
  request.url = url;
  request.range = "";
  request.follow_redirects = 1;
  request.cancel = cancel;
  request.cancel_context = context;
  int status = http_request_retrying(&request);
  *headers = request.headers;
  *length = request.headers_length;
  return status;
}
