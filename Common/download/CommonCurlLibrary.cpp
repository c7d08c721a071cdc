// Binding of the libcurl functions (see CommonSharedLibrary).
#include "CommonCurlLibrary.h"

#include <iterator>
#include <mutex>

#include "CommonSharedLibrary.h"
#include "log4c.h"

namespace {

// Debian's libcurl4 packages install the library under its ABI soname, which
// stayed 4 through all of libcurl 7 and 8.
constexpr const char *kSonames[] = {"libcurl.so.4"};
constexpr const char *kModule = "CommonDownload";

CurlLibrary g_library;
bool g_initialised = false;

bool bind_all(void *handle) {
  CurlLibrary &l = g_library;
  const auto bind = [handle](const char *name, auto *fn) { return shared_library_bind(handle, name, fn); };
  return bind("curl_global_init", &l.global_init) && bind("curl_global_cleanup", &l.global_cleanup) &&
         bind("curl_easy_init", &l.easy_init) && bind("curl_easy_setopt", &l.easy_setopt) &&
         bind("curl_easy_perform", &l.easy_perform) && bind("curl_easy_getinfo", &l.easy_getinfo) &&
         bind("curl_easy_strerror", &l.easy_strerror) && bind("curl_easy_cleanup", &l.easy_cleanup) &&
         bind("curl_multi_init", &l.multi_init) && bind("curl_multi_add_handle", &l.multi_add_handle) &&
         bind("curl_multi_remove_handle", &l.multi_remove_handle) &&
         bind("curl_multi_perform", &l.multi_perform) && bind("curl_multi_fdset", &l.multi_fdset) &&
         bind("curl_multi_info_read", &l.multi_info_read) && bind("curl_multi_cleanup", &l.multi_cleanup) &&
         bind("curl_multi_strerror", &l.multi_strerror) &&
         bind("curl_share_init", &l.share_init) && bind("curl_share_setopt", &l.share_setopt) &&
         bind("curl_share_strerror", &l.share_strerror) && bind("curl_share_cleanup", &l.share_cleanup) &&
         bind("curl_slist_append", &l.slist_append) && bind("curl_slist_free_all", &l.slist_free_all);
}

void global_init() {
  g_initialised = g_library.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  if (!g_initialised) LOG4C(kModule, LOG4C_ERROR, "Could not initialize CURL");
}

SharedLibrary g_shared{kSonames, std::size(kSonames), bind_all, global_init, kModule, "Could not load libcurl: %s"};

}  // namespace

const CurlLibrary *curl_library() {
  if (!shared_library_load(g_shared)) return nullptr;
  return g_initialised ? &g_library : nullptr;
}

void curl_library_cleanup() {
  std::lock_guard<std::mutex> lock(g_shared.mutex);
  if (!g_initialised) return;
  g_library.global_cleanup();
  g_initialised = false;
}
