// The share handle and the options every easy handle gets.
//
// Cookies and DNS entries are shared by all transfers, on any thread; each
// kind of shared data has its own lock, taken by libcurl through the share's
// lock callbacks (libcurl also locks the share's own bookkeeping).
#include <apr_strings.h>
#include <strings.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "CommonCancel.h"
#include "CommonDownloadInternal.h"
#include "PlatformFileLock.h"
#include "log4c.h"

namespace {

struct SiteAgent {
  std::string_view host;
  const char *agent;
};

constexpr const char *kBrowserAgent =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0 Safari/537.36";

// Video sites that serve their pages and media only to browsers.
constexpr SiteAgent kSiteAgents[] = {
    {"youtube.com", kBrowserAgent},
    {"dailymotion.com", kBrowserAgent},
    {"vimeo.com", kBrowserAgent},
};

constexpr long kConnectTimeoutSeconds = 3;
constexpr long kMaxRedirects = 10;
constexpr long kLowSpeedBytes = 1250;
constexpr long kLowSpeedSeconds = 30;
constexpr const char *kProtocols = "http,https";
// A transfer that began over TLS never continues in the clear.
constexpr const char *kSecureProtocols = "https";

std::atomic<long> g_deadline_seconds{DOWNLOAD_DEFAULT_DEADLINE_MINUTES * 60L};

struct ShareState {
  std::mutex mutex;  // guards share and the CA path
  CURLSH *share = nullptr;
  std::mutex locks[CURL_LOCK_DATA_LAST];
  std::string ca_file;
};
ShareState g_share;

bool shared_kind(curl_lock_data data) {
  if (data == CURL_LOCK_DATA_COOKIE || data == CURL_LOCK_DATA_DNS || data == CURL_LOCK_DATA_SHARE) return true;
  LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, "Unexpected data for curl share lock");
  return false;
}

// Transfers hold these locks for moments only: readers and writers alike
// take them exclusively.
void share_lock(CURL *, curl_lock_data data, curl_lock_access, void *) {
  if (shared_kind(data)) g_share.locks[data].lock();
}

void share_unlock(CURL *, curl_lock_data data, void *) {
  if (shared_kind(data)) g_share.locks[data].unlock();
}

CURLSH *share_create(const CurlLibrary &curl) {
  CURLSH *share = curl.share_init();
  if (share == nullptr) {
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, "Could not init a CURL share");
    return nullptr;
  }
  if (curl.share_setopt(share, CURLSHOPT_LOCKFUNC, share_lock) != CURLSHE_OK ||
      curl.share_setopt(share, CURLSHOPT_UNLOCKFUNC, share_unlock) != CURLSHE_OK ||
      curl.share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE) != CURLSHE_OK ||
      curl.share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) != CURLSHE_OK) {
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, "Could set an option for the CURL share");
    curl.share_cleanup(share);
    return nullptr;
  }
  return share;
}

const char *user_agent_for(const char *url, const char *given) {
  const char *after = std::strstr(url, "://");
  std::string_view rest(after != nullptr ? after + 3 : url);
  std::string_view host = rest.substr(0, rest.find_first_of("/?#"));
  for (const SiteAgent &site : kSiteAgents) {
    if (host.size() < site.host.size()) continue;
    std::string_view tail = host.substr(host.size() - site.host.size());
    bool whole = host.size() == site.host.size() || host[host.size() - site.host.size() - 1] == '.';
    if (whole && strncasecmp(tail.data(), site.host.data(), tail.size()) == 0) return site.agent;
  }
  return given != nullptr ? given : BACKGROUND_USER_AGENT;
}

int debug_text(CURL *, curl_infotype type, char *data, size_t size, void *) {
  if (type != CURLINFO_TEXT) return 0;
  while (size > 0 && (data[size - 1] == '\n' || data[size - 1] == '\r')) --size;
  LOG4C(DOWNLOAD_MODULE, LOG4C_DEBUG, log4c_sprintf("%.*s", static_cast<int>(size), data));
  return 0;
}

int progress(void *data, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto *hook = static_cast<const CancelHook *>(data);
  return hook != nullptr && cancel_requested(hook->cancel, hook->context) ? 1 : 0;
}

}  // namespace

const CurlLibrary *download_curl() {
  const CurlLibrary *curl = curl_library();
  if (curl == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(g_share.mutex);
  if (g_share.share == nullptr) g_share.share = share_create(*curl);
  return g_share.share != nullptr ? curl : nullptr;
}

void download_share_free() {
  std::lock_guard<std::mutex> lock(g_share.mutex);
  if (g_share.share == nullptr) return;
  const CurlLibrary *curl = curl_library();
  CURLSHcode code = curl->share_cleanup(g_share.share);
  if (code != CURLSHE_OK) {
    LOG4C(DOWNLOAD_MODULE, LOG4C_ERROR, curl->share_strerror(code));
    return;
  }
  g_share.share = nullptr;
}

void download_set_deadline(long seconds) { g_deadline_seconds.store(seconds > 0 ? seconds : 0); }

void download_set_ca_file(const char *path) {
  std::lock_guard<std::mutex> lock(g_share.mutex);
  g_share.ca_file = path != nullptr ? path : "";
}

void download_easy_options(const CurlLibrary &curl, CURL *easy, const EasyOptions &options) {
  curl.easy_setopt(easy, CURLOPT_USERAGENT, user_agent_for(options.url, options.user_agent));
  curl.easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  platform_file_make_private(COOKIE_FILE);  // curl keeps the mode of the jar it rewrites
  curl.easy_setopt(easy, CURLOPT_COOKIEFILE, COOKIE_FILE);
  curl.easy_setopt(easy, CURLOPT_COOKIEJAR, COOKIE_FILE);
  if (log4c_is_enabled[LOG4C_DEBUG](DOWNLOAD_MODULE)) {
    curl.easy_setopt(easy, CURLOPT_DEBUGFUNCTION, debug_text);
    curl.easy_setopt(easy, CURLOPT_VERBOSE, 1L);
  }
  curl.easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  curl.easy_setopt(easy, CURLOPT_PROTOCOLS_STR, kProtocols);
  const bool secure = strncasecmp(options.url, "https://", 8) == 0;
  curl.easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, secure ? kSecureProtocols : kProtocols);
  if (options.follow_redirects) {
    curl.easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl.easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  }
  if (options.low_speed_guard) {
    curl.easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytes);
    curl.easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds);
  }
  // A server trickling just above the guard's speed is cut at the deadline;
  // a background copy of a big file on a slow but steady line is not.
  if (const long deadline = g_deadline_seconds.load(); options.deadline && deadline > 0) {
    curl.easy_setopt(easy, CURLOPT_TIMEOUT, deadline);
  }
  // HTTP/2 would lower-case header names and change the status line the
  // header helpers read.
  curl.easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  // Servers of the ICY family answer without an HTTP status line: their
  // status and headers arrive as the start of the body.
  curl.easy_setopt(easy, CURLOPT_HTTP09_ALLOWED, 1L);
  std::lock_guard<std::mutex> lock(g_share.mutex);
  if (g_share.share != nullptr) curl.easy_setopt(easy, CURLOPT_SHARE, g_share.share);
  if (!g_share.ca_file.empty()) curl.easy_setopt(easy, CURLOPT_CAINFO, g_share.ca_file.c_str());
  curl.easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl.easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, progress);
  curl.easy_setopt(easy, CURLOPT_XFERINFODATA, options.cancel);
}

curl_slist *download_header_list(const CurlLibrary &curl, curl_slist *list, const char *const *lines, int count) {
  for (int i = 0; i < count; ++i) {
    if (lines[i] == nullptr) continue;
    curl_slist *next = curl.slist_append(list, lines[i]);
    if (next == nullptr) return list;
    list = next;
  }
  return list;
}

void download_log_failure(const char *url, const char *reason) {
  LOG4C(DOWNLOAD_MODULE, LOG4C_WARN, log4c_sprintf("Failure for url %s, reason: %s", url, reason));
}
