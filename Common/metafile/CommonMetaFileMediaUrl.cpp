// The playable URL behind a metafile URL (an ASX, "[Reference]" or RAM file
// on a web server). The last answer is remembered process-wide under a lock,
// since the scan thread and the server's threads ask for the same stream
// one after the other.
#include <apr_strings.h>

#include <cstring>
#include <mutex>
#include <string>
#include <strings.h>

#include "CommonCancel.h"
#include "CommonDownload.h"
#include "CommonMetaFileInternal.h"
#include "CommonMultimedia.h"
#include "CommonPath.h"
#include "CommonUrl.h"
#include "log4c.h"

namespace {

// The remembered answer covers URLs up to this length.
constexpr std::size_t kRememberedUrlMax = 1023;
// Enough for the 50 lines the scan reads.
constexpr std::size_t kScannedBytes = 64 * 1024;
// An ASX pointing to another ASX is followed this many times at most, so
// that two files pointing to each other end.
constexpr int kMaxAsxHops = 5;
constexpr const char *kAsxType = "video/x-ms-asx";

// Metafile URLs of particular sites whose content cannot be scanned (a page
// built by script, a player that asks for a token) and the stream each one
// stands for. One row per site; the URL must match exactly (any case).
struct KnownMetafile {
  const char *url;
  const char *media_url;
};
constexpr KnownMetafile kKnownMetafiles[] = {
    // The shape of a row: a broadcaster's ".asx" front page and its stream.
    {"http://www.example.com/live/radio.asx", "mms://www.example.com/live/radio"},
};

constexpr const char *kWindowsMediaExtensions[] = {"wmv", "asf", "wma"};

struct Remembered {
  std::mutex lock;
  std::string url;
  std::string answer;
};

Remembered remembered;

bool recall(apr_pool_t *pool, const char *url, char **answer) {
  std::lock_guard<std::mutex> guard(remembered.lock);
  if (remembered.url.empty() || remembered.url != url) return false;
  *answer = apr_pstrdup(pool, remembered.answer.c_str());
  return true;
}

void remember(const char *url, const char *answer) {
  if (answer == nullptr || std::strlen(url) > kRememberedUrlMax) return;
  std::lock_guard<std::mutex> guard(remembered.lock);
  remembered.url = url;
  remembered.answer = answer;
}

bool is_windows_media(const char *extension) {
  if (extension == nullptr) return false;
  for (const char *candidate : kWindowsMediaExtensions) {
    if (strcasecmp(candidate, extension) == 0) return true;
  }
  return false;
}

const char *known_media_url(const char *url) {
  for (const KnownMetafile &row : kKnownMetafiles) {
    if (strcasecmp(row.url, url) == 0) return row.media_url;
  }
  return nullptr;
}

// Step 4: a URL served as a media type is the media itself.
bool answer_by_type(apr_pool_t *pool, const char *url, const char *mime_type, char **answer) {
  if (mime_type == nullptr) return false;
  const MediaTypeEntry *type = media_type_by_mime(mime_type, -1);
  if (type->extension != nullptr && (strcasecmp(type->extension, "pls") == 0 || strcasecmp(type->extension, "m3u") == 0)) {
    *answer = apr_pstrdup(pool, url);
    return true;
  }
  if (type->media_class == MEDIA_METAFILE || type->media_class == MEDIA_UNKNOWN) return false;
  *answer = is_windows_media(type->extension) ? meta_as_mms(pool, url) : apr_pstrdup(pool, url);
  return true;
}

char *resolve(apr_pool_t *pool, const char *url, const char *mime_type, CancelCheck cancel, void *context,
              int hops);

// Step 6: what the server says a found web or RTSP URL is.
char *check_found(apr_pool_t *pool, const char *url, char *found, CancelCheck cancel, void *context, int hops) {
  bool rtsp = url_has_scheme(found, "rtsp://");
  if (!rtsp && !url_is_http(found)) return found;
  const char *extension = meta_url_extension(pool, found);
  if (extension != nullptr && strcasecmp(extension, "asx") == 0 && strcasecmp(found, url) != 0) {
    if (hops >= kMaxAsxHops) {
      LOG4C(METAFILE_MODULE, LOG4C_ERROR,
            log4c_sprintf("Too many metafiles chained from %s, giving up at %s", url, found));
      return nullptr;
    }
    return resolve(pool, found, kAsxType, cancel, context, hops + 1);
  }
  const char *type = nullptr;
  const char *location = nullptr;
  int status = url_probe_headers(pool, found, 1, &type, &location, cancel, context);
  if (status == COMMON_CANCELLED) return nullptr;
  if (status != APR_SUCCESS) type = nullptr;
  if (type == nullptr) return rtsp ? found : nullptr;
  if (url_has_scheme(type, "video/x-ms") || url_has_scheme(type, "audio/x-ms")) return meta_as_mms(pool, found);
  return rtsp ? nullptr : found;
}

char *resolve(apr_pool_t *pool, const char *url, const char *mime_type, CancelCheck cancel, void *context,
              int hops) {
  char *answer = nullptr;
  if (recall(pool, url, &answer)) return answer;
  if (const char *known = known_media_url(url)) {
    answer = apr_pstrdup(pool, known);
  } else if (!url_is_http(url) || answer_by_type(pool, url, mime_type, &answer)) {
    if (answer == nullptr) answer = apr_pstrdup(pool, url);
  } else {
    MetaFetch fetch;
    fetch.url = url;
    fetch.cancel = cancel;
    fetch.cancel_context = context;
    fetch.limit = kScannedBytes;
    if (meta_fetch(pool, &fetch) != APR_SUCCESS) return nullptr;
    char *found = metafile_scan_text(pool, fetch.memory.data(), fetch.memory.size());
    if (found == nullptr) {
      LOG4C(METAFILE_MODULE, LOG4C_ERROR, log4c_sprintf("Could not get media url for %s", url));
      return nullptr;
    }
    answer = check_found(pool, url, found, cancel, context, hops);
  }
  remember(url, answer);
  return answer;
}

}  // namespace

char *metafile_media_url(apr_pool_t *pool, const char *url, const char *mime_type, CancelCheck cancel,
                         void *context) {
  if (url == nullptr) return nullptr;
  return resolve(pool, url, mime_type, cancel, context, 0);
}

void meta_forget_media_url() {
  std::lock_guard<std::mutex> guard(remembered.lock);
  remembered.url.clear();
  remembered.answer.clear();
}
