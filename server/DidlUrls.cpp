// Rewriting the URLs of one object on its way out.
#include "DidlUrls.h"

#include <apr_strings.h>

#include <cstring>

#include "CommonEscape.h"
#include "CommonPropNames.h"
#include "CommonText.h"
#include "Description.h"
#include "MSDBURIProps.h"

namespace {

constexpr const char *kFileScheme = "file://";
constexpr const char *kSubtitleProtocol = "http-get:*:text/srt:*";
constexpr const char *kVideoClass = "object.item.videoItem";

const char *object_oid(const char *id) {
  const char *slash = std::strrchr(id, '/');
  return slash != nullptr ? slash + 1 : id;
}

void rewrite_res(apr_pool_t *pool, PropList *list, const DidlRequest &r, const char *oid) {
  const int count = prop_count(list, PROP_RES);
  for (int i = 0; i < count; ++i) {
    const char *value = prop_get(pool, list, PROP_RES, i);
    if (didl_file_path(value) == nullptr) continue;
    prop_set_at(pool, list, PROP_RES, i, apr_psprintf(pool, "%s%s%s/%d", r.base_url, MEDIA_PATH, oid, i));
  }
}

void add_album_art(apr_pool_t *pool, PropList *list, const DidlRequest &r, const char *oid) {
  const char *art = didl_album_art(pool, list);
  if (art == nullptr) return;
  const char *uri = didl_file_path(art) != nullptr ? apr_pstrcat(pool, r.base_url, ART_PATH, oid, nullptr) : art;
  prop_set_single(pool, list, PROP_UPNP_ALBUM_ART_URI, uri);
}

void add_subtitles(apr_pool_t *pool, PropList *list, const DidlRequest &r, const char *oid) {
  const char *klass = prop_get(pool, list, PROP_UPNP_CLASS, 0);
  if (klass == nullptr || std::strncmp(klass, kVideoClass, std::strlen(kVideoClass)) != 0) return;
  const char *res = prop_get(pool, list, PROP_RES, 0);
  const char *srt = nullptr;
  if (didl_file_path(res) == nullptr ||
      msdb_uri_prop_get(pool, r.server->db, xml_unescape(pool, res), 0, nullptr, nullptr, "zentoria:subtitles",
                        &srt) != APR_SUCCESS ||
      srt == nullptr) {
    return;
  }
  prop_add(pool, list, PROP_RES, apr_pstrcat(pool, r.base_url, SUBTITLE_PATH, oid, nullptr));
  prop_set_at(pool, list, PROP_RES_PROTOCOL_INFO, prop_count(list, PROP_RES) - 1, kSubtitleProtocol);
}

}  // namespace

const char *didl_album_art(apr_pool_t *pool, PropList *list) {
  for (int slot : {PROP_ZENTORIA_ART_SMALL, PROP_ZENTORIA_ART_LARGE}) {
    const char *art = prop_get(pool, list, slot, 0);
    if (art != nullptr && *art != '\0') return art;
  }
  return nullptr;
}

const char *didl_file_path(const char *url) {
  if (url == nullptr || std::strncmp(url, kFileScheme, std::strlen(kFileScheme)) != 0) return nullptr;
  return url + std::strlen(kFileScheme);
}

PropList *didl_rewrite(apr_pool_t *pool, void *value, PropList *list) {
  const auto &r = *static_cast<const DidlRequest *>(value);
  const char *id = prop_get(pool, list, PROP_ID, 0);
  if (id == nullptr) return list;
  if (!access_allowed(r.server->rules, r.client, SERVICES[0].control_path, id)) return nullptr;
  const char *oid = object_oid(id);
  add_subtitles(pool, list, r, oid);
  rewrite_res(pool, list, r, oid);
  add_album_art(pool, list, r, oid);
  return list;
}
