// The HTTP file: one window of the resource in memory, refetched with a
// ranged request whenever a read leaves it.
#include "CommonHTTPFile.h"

#include <apr_strings.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "CommonCancel.h"
#include "log4c.h"
#include "log4c_pool.h"

struct HttpFile {
  apr_pool_t *pool;
  apr_pool_t *window_pool;  // cleared for every window
  const char *url;
  apr_int64_t size;
  apr_int64_t position;
  apr_int64_t window_start;
  apr_int64_t window_length;
  const char *window;
  apr_file_t *head;  // a local copy of the first head_size bytes, or null
  apr_int64_t head_size;
};

namespace {

constexpr const char *kModule = "CommonHTTPFile";

int fail_read(const HttpFile *file) {
  return log4c_fail(kModule, log4c_sprintf("Could not read HTTP URL %s at position %" APR_INT64_T_FMT, file->url, file->position));
}

struct LentHead {
  std::string path;
  apr_int64_t size;
  apr_int64_t total;
};

struct LentHeads {
  std::mutex mutex;
  std::map<std::string, LentHead> by_url;
};
LentHeads g_heads;

bool lent_head(const char *url, LentHead *head) {
  std::lock_guard<std::mutex> lock(g_heads.mutex);
  const auto found = g_heads.by_url.find(url);
  if (found == g_heads.by_url.end()) return false;
  *head = found->second;
  return true;
}

// Opens the head lent for file's url; without a total size the first window
// is still fetched to learn it. A head that cannot be opened is not used.
void open_head(HttpFile *file) {
  LentHead head;
  if (!lent_head(file->url, &head) || head.size <= 0) return;
  if (apr_file_open(&file->head, head.path.c_str(), APR_FOPEN_READ | APR_FOPEN_BINARY, APR_FPROT_OS_DEFAULT,
                    file->pool) != APR_SUCCESS) {
    file->head = nullptr;
    return;
  }
  file->head_size = head.size;
  file->size = head.total;
}

// Reads from the head at the current position, up to its end.
int read_head(HttpFile *file, void *buffer, apr_size_t *length) {
  apr_off_t at = file->position;
  apr_size_t count = std::min<apr_size_t>(*length, static_cast<apr_size_t>(file->head_size - file->position));
  if (apr_file_seek(file->head, APR_SET, &at) != APR_SUCCESS ||
      apr_file_read_full(file->head, buffer, count, &count) != APR_SUCCESS) {
    return fail_read(file);
  }
  file->position += static_cast<apr_int64_t>(count);
  *length = count;
  return APR_SUCCESS;
}


// Fetches the window that starts at start. Returns 0, 4 or 20014.
int fetch_window(HttpFile *file, apr_int64_t start, CancelCheck cancel, void *context) {
  if (file->size >= 0 && start >= file->size) return log4c_fail(kModule, log4c_sprintf("Invalid range for HTTP URL %s", file->url));
  apr_int64_t last = start + HTTP_FILE_WINDOW - 1;
  if (file->size > 0) last = std::min(last, file->size - 1);
  apr_pool_clear(file->window_pool);
  file->window = nullptr;
  file->window_length = 0;
  HttpRequest request;
  request.pool = file->window_pool;
  request.url = file->url;
  request.range = apr_psprintf(file->window_pool, "%" APR_INT64_T_FMT "-%" APR_INT64_T_FMT, start, last);
  request.follow_redirects = 1;
  request.cancel = cancel;
  request.cancel_context = context;
  int status = http_request(&request);
  if (status == COMMON_CANCELLED) return status;
  int code = http_status(request.headers, request.headers_length);
  if ((status != APR_SUCCESS && status != APR_INCOMPLETE) || code > 399)
    return log4c_fail(kModule, log4c_sprintf("Could not read HTTP URL %s at position %" APR_INT64_T_FMT, file->url, start));
  if (start > 0 && code != 206)
    return log4c_fail(kModule, log4c_sprintf("Unable to open HTTP URL (%s) for out of order reads", file->url));
  if (file->size < 0) file->size = http_content_size(request.headers, request.headers_length);
  file->window = request.body;
  file->window_start = start;
  file->window_length = static_cast<apr_int64_t>(request.body_length);
  return APR_SUCCESS;
}

bool in_window(const HttpFile *file) {
  return file->window != nullptr && file->position >= file->window_start &&
         file->position < file->window_start + file->window_length;
}

}  // namespace

int http_file_open(apr_pool_t *pool, const char *url, HttpFile **file, CancelCheck cancel, void *context) {
  *file = nullptr;
  apr_pool_t *own = pool_create_or_die(pool, kModule);
  auto *opened = static_cast<HttpFile *>(apr_pcalloc(own, sizeof(HttpFile)));
  opened->pool = own;
  opened->window_pool = pool_create_or_die(own, kModule);
  opened->url = apr_pstrdup(own, url);
  opened->size = -1;
  open_head(opened);
  int status = opened->size >= 0 ? APR_SUCCESS : fetch_window(opened, 0, cancel, context);
  if (status != APR_SUCCESS) {
    if (status != COMMON_CANCELLED) log4c_fail(kModule, log4c_sprintf("Error reading %s", url));
    apr_pool_destroy(own);
    return status;
  }
  *file = opened;
  return APR_SUCCESS;
}

int http_file_read(HttpFile *file, void *buffer, apr_size_t *length, CancelCheck cancel, void *context) {
  apr_size_t wanted = *length;
  *length = 0;
  if (file->size >= 0 && file->position >= file->size) return APR_EOF;
  if (file->position < file->head_size) {
    *length = wanted;
    return read_head(file, buffer, length);
  }
  if (!in_window(file)) {
    int status = fetch_window(file, file->position, cancel, context);
    if (status != APR_SUCCESS) return status;
    if (file->window_length == 0 && file->size < 0) return APR_EOF;
    if (file->window_length == 0) return fail_read(file);
  }
  apr_int64_t offset = file->position - file->window_start;
  apr_size_t count = std::min<apr_size_t>(wanted, static_cast<apr_size_t>(file->window_length - offset));
  std::memcpy(buffer, file->window + offset, count);
  file->position += static_cast<apr_int64_t>(count);
  *length = count;
  return APR_SUCCESS;
}

int http_file_seek(HttpFile *file, apr_seek_where_t whence, apr_int64_t *offset) {
  apr_int64_t target = *offset;
  if (whence == APR_CUR) target += file->position;
  if (whence == APR_END) target = file->size >= 0 ? file->size + target : -1;
  if (target < 0 || (file->size >= 0 && target > file->size))
    return log4c_fail(kModule, log4c_sprintf("Could not seek HTTP URL %s to position %" APR_INT64_T_FMT, file->url, target));
  file->position = target;
  *offset = target;
  return APR_SUCCESS;
}

apr_int64_t http_file_size(const HttpFile *file) { return file->size; }

void http_file_close(HttpFile *file) {
  if (file != nullptr) apr_pool_destroy(file->pool);
}

void http_file_lend_head(const char *url, const char *path, apr_int64_t head_size, apr_int64_t total) {
  std::lock_guard<std::mutex> lock(g_heads.mutex);
  g_heads.by_url[url] = LentHead{path, head_size, total};
}

void http_file_withdraw_head(const char *url) {
  std::lock_guard<std::mutex> lock(g_heads.mutex);
  g_heads.by_url.erase(url);
}
