// DidlUrls: the per-object callback of the library's browse and search
// queries that makes a DIDL-Lite document fit for the network: every local
// res becomes this server's media URL by object id, a picture of an
// object (its thumbnail) an upnp:albumArtURI, a video's subtitle file an extra res
// and a sec:CaptionInfoEx, each local res gets its DLNA fourth field (and
// the MIME type the client's profile asks for), and objects the access
// rules refuse to the client are dropped. Internet URLs are kept as they
// are. Runs on the request's thread, in its pool.
#pragma once

#include <apr_pools.h>

#include "ClientProfiles.h"
#include "CommonProp.h"
#include "ServerContext.h"

struct DidlRequest {
  const ServerContext *server;
  const char *base_url;  // "http://address:port" the client reached
  const char *client;
  const ClientProfile *profile;
};

// The media URLs of an object (oid): res instance n, subtitles.
inline constexpr const char *MEDIA_PATH = "/media/";
inline constexpr const char *SUBTITLE_PATH = "/subtitle/";

// DbObjectCallback: value is a DidlRequest.
PropList *didl_rewrite(apr_pool_t *pool, void *value, PropList *list);

// document (a DIDL-Lite document as the library writes it) with the dlna
// and sec namespaces the rewritten objects use declared on its root.
const char *didl_declare_namespaces(apr_pool_t *pool, const char *document);

// The path of the subtitle file the library paired with the local file
// url (unescaped), or null.
const char *didl_subtitle_path(apr_pool_t *pool, const ServerContext &server, const char *url);

// The MIME type and the caption type (sec:type) of a subtitle file by its
// extension; null for an unknown one.
struct SubtitleType {
  const char *extension, *mime, *caption_type;
};
const SubtitleType *didl_subtitle_type(const char *path);

// The fourth protocolInfo field of res instance n for the client's profile.
const char *didl_dlna_field(apr_pool_t *pool, PropList *list, int n, const ClientProfile &client);

// The URL of the object's album art (small preferred), as the list holds
// it, or null.
const char *didl_album_art(apr_pool_t *pool, PropList *list);

// The path of a local file URL ("file://" and a path), or null for any
// other URL or null.
const char *didl_file_path(const char *url);
