// Rewriting the URLs of one object on its way out.
#include "DidlUrls.h"

#include <apr_strings.h>

#include <strings.h>

#include <cstring>

#include "CommonEscape.h"
#include "CommonPropNames.h"
#include "CommonText.h"
#include "Description.h"
#include "DlnaProfile.h"
#include "MSDBURIProps.h"
#include "Thumbnails.h"

namespace {

constexpr const char *kFileScheme = "file://";
constexpr const char *kVideoClass = "object.item.videoItem";
constexpr const char *kImageClass = "object.item.imageItem";
constexpr const char *kThumbProfile = "JPEG_TN";
constexpr const char *kDidlRoot = "<DIDL-Lite ";
constexpr const char *kExtraNamespaces =
    "xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\" xmlns:sec=\"http://www.sec.co.kr/\" ";

constexpr SubtitleType kSubtitleTypes[] = {
    {"srt", "text/srt", "srt"},
    {"smi", "smi/caption", "smi"},
    {"ssa", "text/x-ssa", "ssa"},
    {"ass", "text/x-ass", "ass"},
    {"vtt", "text/vtt", "vtt"},
};

const char *object_oid(const char *id) {
  const char *slash = std::strrchr(id, '/');
  return slash != nullptr ? slash + 1 : id;
}

void rewrite_res(apr_pool_t *pool, PropList *list, const DidlRequest &r, const char *oid) {
  const int count = prop_count(list, PROP_RES);
  for (int i = 0; i < count; ++i) {
    const char *value = prop_get(pool, list, PROP_RES, i);
    if (didl_file_path(value) == nullptr) continue;
    const char *info = prop_get(pool, list, PROP_RES_PROTOCOL_INFO, i);
    const char *mime = client_mime(*r.profile, dlna_protocol_mime(pool, info));
    const char *dlna = dlna_protocol_info(pool, info, mime, didl_dlna_field(pool, list, i, *r.profile));
    if (dlna != nullptr) prop_set_at(pool, list, PROP_RES_PROTOCOL_INFO, i, dlna);
    prop_set_at(pool, list, PROP_RES, i, apr_psprintf(pool, "%s%s%s/%d", r.base_url, MEDIA_PATH, oid, i));
  }
}

// Local pictures become this server's thumbnail (JPEG_TN), also a second
// res of photos; album art from the internet is kept as it is.
void add_album_art(apr_pool_t *pool, PropList *list, const DidlRequest &r, const char *oid, bool thumbnail) {
  const char *art = didl_album_art(pool, list);
  if (thumbnail && (art == nullptr || didl_file_path(art) != nullptr)) {
    const char *uri = apr_pstrcat(pool, r.base_url, THUMB_PATH, oid, nullptr);
    prop_set_single(pool, list, PROP_UPNP_ALBUM_ART_URI, uri);
    prop_set(pool, list, "upnp:albumArtURI@dlna:profileID", kThumbProfile);
    const char *klass = prop_get(pool, list, PROP_UPNP_CLASS, 0);
    if (klass == nullptr || std::strncmp(klass, kImageClass, std::strlen(kImageClass)) != 0) return;
    prop_add(pool, list, PROP_RES, uri);
    prop_set_at(pool, list, PROP_RES_PROTOCOL_INFO, prop_count(list, PROP_RES) - 1,
                apr_pstrcat(pool, "http-get:*:image/jpeg:", dlna_fourth_field(pool, "image/jpeg", kThumbProfile),
                            nullptr));
    return;
  }
  if (art != nullptr && didl_file_path(art) == nullptr) prop_set_single(pool, list, PROP_UPNP_ALBUM_ART_URI, art);
}

void add_subtitles(apr_pool_t *pool, PropList *list, const DidlRequest &r, const char *oid) {
  const char *klass = prop_get(pool, list, PROP_UPNP_CLASS, 0);
  if (klass == nullptr || std::strncmp(klass, kVideoClass, std::strlen(kVideoClass)) != 0) return;
  const char *res = prop_get(pool, list, PROP_RES, 0);
  const char *path = didl_file_path(res) != nullptr ? didl_subtitle_path(pool, *r.server, xml_unescape(pool, res))
                                                    : nullptr;
  const SubtitleType *type = didl_subtitle_type(path);
  if (type == nullptr) return;
  const char *url = apr_pstrcat(pool, r.base_url, SUBTITLE_PATH, oid, nullptr);
  prop_add(pool, list, PROP_RES, url);
  prop_set_at(pool, list, PROP_RES_PROTOCOL_INFO, prop_count(list, PROP_RES) - 1,
              apr_pstrcat(pool, "http-get:*:", type->mime, ":*", nullptr));
  prop_add(pool, list, "sec:CaptionInfoEx", url);
  prop_set(pool, list, "sec:CaptionInfoEx@sec:type", type->caption_type);
}

}  // namespace

const char *didl_declare_namespaces(apr_pool_t *pool, const char *document) {
  const char *root = document != nullptr ? std::strstr(document, kDidlRoot) : nullptr;
  if (root == nullptr) return document;
  const char *after = root + std::strlen(kDidlRoot);
  return apr_pstrcat(pool, apr_pstrndup(pool, document, static_cast<apr_size_t>(after - document)), kExtraNamespaces,
                     after, nullptr);
}

const char *didl_subtitle_path(apr_pool_t *pool, const ServerContext &server, const char *url) {
  const char *srt = nullptr;
  if (msdb_uri_prop_get(pool, server.db, url, 0, nullptr, nullptr, "zentoria:subtitles", &srt) != APR_SUCCESS) {
    return nullptr;
  }
  return didl_file_path(srt);
}

const SubtitleType *didl_subtitle_type(const char *path) {
  const char *dot = path != nullptr ? std::strrchr(path, '.') : nullptr;
  if (dot == nullptr) return nullptr;
  for (const SubtitleType &row : kSubtitleTypes) {
    if (strcasecmp(dot + 1, row.extension) == 0) return &row;
  }
  return nullptr;
}

const char *didl_dlna_field(apr_pool_t *pool, PropList *list, int n, const ClientProfile &client) {
  const DlnaStreams streams = dlna_streams(pool, list, n);
  const char *name = (client.quirks & CLIENT_NO_PROFILE_NAME) != 0 ? nullptr : dlna_profile_name(streams);
  return dlna_fourth_field(pool, streams.mime, name);
}

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
  // Asked while the res still names the file the thumbnail is made of.
  const bool thumbnail = thumbnails_has(pool, list);
  add_subtitles(pool, list, r, oid);
  rewrite_res(pool, list, r, oid);
  add_album_art(pool, list, r, oid, thumbnail);
  return list;
}
