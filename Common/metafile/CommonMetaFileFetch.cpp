// Fetching metafiles, feeds and web pages for the reader, the media-URL
// resolution and the site crawl: a blocking request whose body goes to a
// file or to memory, cut at a limit so that an endless stream served as a
// feed costs bounded disk and memory.
#include <apr_strings.h>

#include <cstring>
#include <string_view>

#include "CommonCancel.h"
#include "CommonDownload.h"
#include "CommonMetaFileInternal.h"
#include "log4c.h"

namespace {

// Once the caller has enough, the rest is let pass unwritten until the
// transfer's next progress report ends it (see stop_check).
std::size_t take_body(const char *data, std::size_t length, void *context) {
  auto *fetch = static_cast<MetaFetch *>(context);
  if (fetch->satisfied) return length;
  std::size_t room = fetch->limit - fetch->received;
  std::size_t taken = length < room ? length : room;
  if (taken > 0 && fetch->file != nullptr) {
    apr_size_t written = 0;
    if (apr_file_write_full(fetch->file, data, taken, &written) != APR_SUCCESS) return 0;
  } else if (taken > 0) {
    fetch->memory.append(data, taken);
  }
  fetch->received += taken;
  if (taken < length) fetch->capped = true;
  if (fetch->enough != nullptr && fetch->file != nullptr && fetch->received - fetch->asked_at >= META_FETCH_STEP) {
    fetch->asked_at = fetch->received;
    fetch->satisfied = apr_file_flush(fetch->file) == APR_SUCCESS && fetch->enough(fetch->path, fetch->enough_context);
  }
  return taken;
}

// Ending a satisfied transfer as a cancellation logs no failure.
int stop_check(void *context) {
  const auto *fetch = static_cast<const MetaFetch *>(context);
  return fetch->satisfied || cancel_requested(fetch->cancel, fetch->cancel_context) ? 1 : 0;
}

// The URL after the redirections recorded in headers (one block of header
// lines per response).
const char *final_url(apr_pool_t *pool, const char *url, const char *headers, std::size_t length) {
  std::string_view all(headers, length);
  std::size_t start = all.find("HTTP/");
  while (start != std::string_view::npos) {
    std::size_t next = all.find("\nHTTP/", start + 1);
    std::string_view block = all.substr(start, next == std::string_view::npos ? std::string_view::npos : next - start);
    if (char *location = http_location(pool, url, block.data(), block.size())) url = location;
    start = next == std::string_view::npos ? next : next + 1;
  }
  return url;
}

}  // namespace

int meta_fetch(apr_pool_t *pool, MetaFetch *fetch) {
  HttpRequest request;
  request.pool = pool;
  request.url = fetch->url;
  request.user_agent = fetch->user_agent;
  request.follow_redirects = 1;
  request.cancel = stop_check;
  request.cancel_context = fetch;
  request.body_callback = take_body;
  request.body_context = fetch;
  int status = http_request(&request);
  if (fetch->satisfied) {
    LOG4C(METAFILE_MODULE, LOG4C_DEBUG,
          log4c_sprintf("Read %lu bytes of %s, all that its reader keeps", static_cast<unsigned long>(fetch->received),
                        fetch->url));
    status = APR_SUCCESS;
  }
  if (status == COMMON_CANCELLED) return COMMON_CANCELLED;
  fetch->final_url = final_url(pool, fetch->url, request.headers, request.headers_length);
  if (fetch->capped) {
    LOG4C(METAFILE_MODULE, LOG4C_WARN,
          log4c_sprintf("Only the first %lu bytes of %s were read", static_cast<unsigned long>(fetch->limit),
                        fetch->url));
    status = APR_SUCCESS;
  }
  int code = http_status(request.headers, request.headers_length);
  if ((status != APR_SUCCESS && status != APR_INCOMPLETE) || code >= 400) {
    LOG4C(METAFILE_MODULE, LOG4C_ERROR, log4c_sprintf("Could not get url %s", fetch->url));
    return APR_EGENERAL;
  }
  return APR_SUCCESS;
}
