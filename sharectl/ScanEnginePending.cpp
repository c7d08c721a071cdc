// The scan engine's source operations before the folder walk exists: each
// fails with a logged error, so that sharectl reports the failure to the user
// and in its exit status. Replaced by the sharing and refresh modules (#7).
#include "MSMediaScan.h"
#include "log4c.h"

namespace {

constexpr const char *kModule = "MSMediaScan";

int not_available() {
  LOG4C(kModule, LOG4C_ERROR, "Sharing and refreshing media sources is not available in this build");
  return APR_EGENERAL;
}

}  // namespace

MediaSource *msms_find_media_source(apr_pool_t *, const char *, MediaSource *) { return nullptr; }

int msms_add_media_source(apr_pool_t *, MediaSource *, const char **) { return not_available(); }

int msms_update_media_source(apr_pool_t *, MediaSource *, const char **) { return not_available(); }

int msms_refresh_media_source(const char *, int, int, int *, int *, CancelCheck, void *) { return not_available(); }

int msms_share_url(apr_pool_t *, MediaSource *, int, int, int, int, CancelCheck, void *, int *, const char **) {
  return not_available();
}

int msms_refresh_all(int *added, int *removed, CancelCheck, void *) {
  *added = 0;
  *removed = 0;
  return not_available();
}

int msms_remove_media_source(apr_pool_t *, const char *, int, const char **, CancelCheck, void *) {
  return not_available();
}

int msms_list_media_sources() { return not_available(); }
