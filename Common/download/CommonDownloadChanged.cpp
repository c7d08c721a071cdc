// The change check of a shared URL: a conditional headers-only request with
// the validators of the previous answer.
#include <apr_strings.h>
#include <strings.h>

#include <cstring>

#include "CommonCancel.h"
#include "CommonDownloadInternal.h"
#include "log4c.h"

namespace {

constexpr int kUserErrorLevel = 2;

void report(const char *message) { LOG4C_EX(DOWNLOAD_MODULE, LOG4C_ERROR, message, kUserErrorLevel, nullptr); }

const char *validator_lines(apr_pool_t *pool, const char *last_modified, const char *etag) {
  if (last_modified == nullptr && etag == nullptr) return nullptr;
  return apr_pstrcat(pool, last_modified != nullptr ? apr_psprintf(pool, "Last-Modified: %s\r\n", last_modified) : "",
                     etag != nullptr ? apr_psprintf(pool, "ETag: %s\r\n", etag) : "", nullptr);
}

}  // namespace

int http_check_changed(apr_pool_t *pool, const char *url, const char *previous_headers, int *changed,
                       char **validators, CancelCheck cancel, void *context) {
  *changed = 1;
  *validators = nullptr;
  std::size_t previous_length = previous_headers != nullptr ? std::strlen(previous_headers) : 0;
  const char *since = http_header_value(pool, "Last-Modified:", previous_headers, previous_length);
  const char *tag = http_header_value(pool, "ETag:", previous_headers, previous_length);
  const char *lines[2];
  int count = 0;
  if (since != nullptr) lines[count++] = apr_psprintf(pool, "If-Modified-Since: %s", since);
  if (tag != nullptr) lines[count++] = apr_psprintf(pool, "If-None-Match: %s", tag);

  HttpRequest request;
  request.pool = pool;
  request.url = url;
  request.range = "";
  request.extra_headers = lines;
  request.extra_count = count;
  request.follow_redirects = 1;
  request.cancel = cancel;
  request.cancel_context = context;
  int status = http_request(&request);
  if (status != APR_SUCCESS && status != APR_INCOMPLETE && status != COMMON_CANCELLED) {
    request.range = "0-100";
    status = http_request(&request);
  }
  if (status == COMMON_CANCELLED) return status;
  if (status != APR_SUCCESS && status != APR_INCOMPLETE) {
    report(log4c_sprintf("Could not get protocol headers of url %s", url));
    return APR_EGENERAL;
  }
  int code = http_status(request.headers, request.headers_length);
  if (code > 399) {
    report(log4c_sprintf("Could not get protocol headers of url %s, HTTP response indicates error %d", url, code));
    return APR_EGENERAL;
  }
  const char *modified = http_header_value(pool, "Last-Modified:", request.headers, request.headers_length);
  const char *etag = http_header_value(pool, "ETag:", request.headers, request.headers_length);
  if (code == 304 || (modified != nullptr && since != nullptr && strcasecmp(modified, since) == 0)) *changed = 0;
  *validators = const_cast<char *>(validator_lines(pool, modified, etag));
  return APR_SUCCESS;
}
