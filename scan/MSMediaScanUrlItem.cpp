// One URL source processed: inspected over the network, its earlier object
// kept while the server says it has not changed, else replaced by a new
// broadcast item or by the feed's playlist container.
#include <apr_file_io.h>
#include <apr_strings.h>
#include <strings.h>

#include <cstdio>
#include <cstring>

#include "CommonDownload.h"
#include "CommonHttp.h"
#include "CommonMetaFile.h"
#include "CommonHTTPFile.h"
#include "CommonMultimedia.h"
#include "CommonNumbers.h"
#include "CommonPath.h"
#include "CommonStreamReach.h"
#include "CommonText.h"
#include "CommonTime.h"
#include "CommonUrl.h"
#include "MSCodecCommon.h"
#include "MSConfig.h"
#include "MSDB.h"
#include "MSDBObjectSources.h"
#include "MSDownloadManager.h"
#include "MSMediaScanItemProps.h"
#include "MSMediaScanItemTags.h"
#include "MSMediaScanLookup.h"
#include "MSMediaScanLog.h"
#include "MSMediaScanSkeleton.h"
#include "MSMediaScanTidy.h"
#include "MSMediaScanUrl.h"
#include "MSMediaScanViews.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

// What the inspection of a URL found.
struct Inspected {
  const MediaTypeEntry *type;
  const char *mime;     // as the server named it, parameters cut
  const char *url;      // after redirections
  bool http;
  const char *validators;  // "Last-Modified: ..." / "ETag: ..." lines, "" without
  apr_int64_t size;        // the content length, -1 when unknown
  const char *stream_name;  // the station's name an ICY server gives, may be null
};

// Ends the validators of an item titled by what its stream says rather
// than by its source's name or url; the conditional request ignores it, and
// a refresh compares such a title with nothing (it changes with the stream).
// An item without it (made before titles came from streams, too) is titled
// by the source's name or url.
constexpr const char *kStreamTitled = "Title-From: stream\r\n";

bool is_stream_titled(const char *signature) {
  return signature != nullptr && std::strstr(signature, kStreamTitled) != nullptr;
}

// The Last-Modified and ETag lines of headers, the validators of a later
// conditional request.
const char *validators_of(apr_pool_t *pool, const char *headers, std::size_t length) {
  const char *modified = http_header_value(pool, "Last-Modified:", headers, length);
  const char *etag = http_header_value(pool, "ETag:", headers, length);
  return apr_pstrcat(pool, modified ? apr_psprintf(pool, "Last-Modified: %s\r\n", modified) : "",
                     etag ? apr_psprintf(pool, "ETag: %s\r\n", etag) : "", nullptr);
}

// Where the redirections of a request for url led: headers holds every
// response's lines in turn, each Location resolved against the url before
// it. A type known from the url's extension was taken without asking, so
// this is how a feed learns the url its relative links hang off.
const char *redirected(apr_pool_t *pool, const char *url, const char *headers, std::size_t length) {
  for (std::size_t at = 0; at < length;) {
    const char *line = headers + at;
    const char *end = static_cast<const char *>(std::memchr(line, '\n', length - at));
    const std::size_t size = end != nullptr ? static_cast<std::size_t>(end - line) + 1 : length - at;
    if (strncasecmp(line, "Location:", 9) == 0) {
      if (const char *next = http_location(pool, url, line, size)) url = next;
    }
    at += size;
  }
  return url;
}

int inspect(apr_pool_t *pool, UrlScan *u, const char *url, Inspected *out) {
  ScanContext *scan = u->scan;
  *out = Inspected{nullptr, nullptr, url, url_is_http(url) != 0, "", -1, nullptr};
  if (!url_is_spoken(url)) return APR_EGENERAL;
  const int probe_class = u->expected_class == MEDIA_IMAGE ? 0 : u->expected_class;
  const char *final_url = nullptr;
  const char *mime = url_mime_type(pool, url, probe_class, &final_url, msms_url_cancel, scan);
  if (msms_url_cancel(scan)) return COMMON_CANCELLED;
  if (mime == nullptr) return APR_EGENERAL;
  if (final_url != nullptr) out->url = final_url;
  out->mime = msms_mime_base(pool, mime);
  out->type = media_type_by_mime(out->mime, -1);
  if (out->type->media_class == MEDIA_UNKNOWN || out->type->media_class == MEDIA_TEXT) {
    const char *extension = path_extension(out->url, 1);
    const MediaTypeEntry *by_name = media_type_by_extension(extension, -1);
    if (by_name->media_class == MEDIA_METAFILE) out->type = by_name;
    else if (out->type->media_class == MEDIA_TEXT) return APR_EGENERAL;
  }
  // A stream the engine hands to players is checked by a connection to its
  // server: a URL nobody answers is not recorded.
  if (!out->http) return stream_reach(pool, out->url) == APR_SUCCESS ? APR_SUCCESS : APR_EGENERAL;
  char *headers = nullptr;
  std::size_t length = 0;
  const int status = http_get_headers(pool, out->url, &headers, &length, msms_url_cancel, scan);
  // A type known from the url's extension alone says nothing of the
  // server: a server that does not answer fails the inspection.
  if (status != APR_SUCCESS || headers == nullptr) return status == COMMON_CANCELLED ? status : APR_EGENERAL;
  out->url = redirected(pool, out->url, headers, length);
  out->validators = validators_of(pool, headers, length);
  out->size = http_content_size(headers, length);
  out->stream_name = http_header_value(pool, "icy-name:", headers, length);
  return APR_SUCCESS;
}

// A metafile the playlist reader does not read (an ASX, RAM or "[Reference]"
// file) names one stream: the item is that stream's, inspected in turn,
// while a refresh still asks the server about the metafile. Returns 0, 4,
// or 20014 after ERROR "No media URL found in %s".
int follow_reference(apr_pool_t *pool, UrlScan *u, Inspected *inspected) {
  const char *validators = inspected->validators;
  const char *media = metafile_media_url(pool, inspected->url, inspected->mime, msms_url_cancel, u->scan);
  if (msms_url_cancel(u->scan)) return COMMON_CANCELLED;
  const char *metafile = inspected->url;
  const int status = media != nullptr && std::strcmp(media, metafile) != 0 ? inspect(pool, u, media, inspected)
                                                                           : APR_EGENERAL;
  if (status == COMMON_CANCELLED) return status;
  if (status != APR_SUCCESS || inspected->type->media_class == MEDIA_METAFILE) {
    return log4c_fail(MSMS_MODULE, log4c_sprintf("No media URL found in %s", metafile));
  }
  inspected->validators = validators;
  return APR_SUCCESS;
}

bool is_unread_metafile(const MediaTypeEntry *type) {
  return type->media_class == MEDIA_METAFILE && !metafile_is_parsable(type, 0);
}

// The inspection of a source's url, a metafile the reader does not read
// followed to the stream it names.
struct Inspection {
  Inspected found;
  int inspect_status;  // the inspection's, reported by the pass
  int status;          // following the reference's (logged), 0 without one
  bool reference;
};

void inspect_source(apr_pool_t *pool, UrlScan *u, Inspection *out) {
  out->inspect_status = inspect(pool, u, u->url, &out->found);
  out->reference = out->inspect_status == APR_SUCCESS && is_unread_metafile(out->found.type);
  out->status = out->reference ? follow_reference(pool, u, &out->found) : APR_SUCCESS;
}

// The kind rule: the format's own, the expected one for audio-or-video, else undecided.
int decide_class(const Inspected &inspected, int expected) {
  const int media_class = inspected.type->media_class;
  if (media_class == MEDIA_VIDEO || media_class == MEDIA_AUDIO || media_class == MEDIA_IMAGE) return media_class;
  if (media_class == MEDIA_AUDIO_OR_VIDEO && (expected == MEDIA_AUDIO || expected == MEDIA_VIDEO)) return expected;
  return expected == MEDIA_IMAGE && media_class == MEDIA_UNKNOWN ? MEDIA_IMAGE : 0;
}

bool has_own_name(const UrlScan *u) { return u->name != nullptr && u->name[0] != '\0' && std::strcmp(u->name, u->url) != 0; }

const char *item_title(apr_pool_t *pool, const UrlScan *u, const char *inspected_title) {
  const char *title = has_own_name(u)                                                ? u->name
                      : inspected_title != nullptr && inspected_title[0] != '\0' ? inspected_title
                                                                                   : u->url;
  if (title[0] == '\0') {
    LOG4C(MSMS_MODULE, LOG4C_WARN, "Could not create title for media with no file name");
    return "Unknown Title";
  }
  // A url is no tag text: tidying would change its letters.
  return u->scan->pretty_tags && title != u->url ? msms_tidy(pool, title) : title;
}

// What a probe of an online item found.
struct OnlineProbe {
  VideoInfo video;
  AudioInfo audio;
  std::int64_t duration;
  const char *title;  // the stream's title tag, may be null
};

// A step fetched before the pass: its status and what it found.
template <typename Found>
struct FetchedStep {
  bool done = false;
  int status = APR_SUCCESS;
  Found found{};
};

struct ProbeResult {
  OnlineProbe probe;
  bool ok;
};

struct CheckResult {
  int answer;  // 0 when the server said "unchanged"
};

bool probe_input(apr_pool_t *pool, UrlScan *u, const char *path_or_url, OnlineProbe *probe) {
  StreamFacts facts;
  const bool ok = stream_probe(pool, path_or_url, &facts, msms_url_cancel, u->scan) == APR_SUCCESS;
  *probe = OnlineProbe{facts.video, facts.audio, ok ? facts.duration : -1, ok ? facts.title : nullptr};
  return ok;
}

// The stream facts of url, as the fetch before the pass found them when it
// probed; else probed now (see probe_copy).
int probe_copy(apr_pool_t *pool, UrlScan *u, const char *url, OnlineProbe *probe, bool *ok);
int probe_fetched(apr_pool_t *pool, UrlScan *u, const char *url, OnlineProbe *probe, bool *ok);

// Probes url with its head copied into the download area: the prober reads
// the head from the copy and asks the server only for what lies beyond it
// (the index of an MP4 written without "faststart", the last page of an Ogg
// file), and the copy is deleted once read. Returns 0 with *ok, or 4 when
// cancelled.
int probe_copy(apr_pool_t *pool, UrlScan *u, const char *url, OnlineProbe *probe, bool *ok) {
  *ok = false;
  *probe = OnlineProbe{};
  DlmHeadCopy copy{};
  const int status = dlm_ref_head(pool, url, URL_HEAD_BYTES, msms_url_cancel, u->scan, &copy);
  if (status == COMMON_CANCELLED) return status;
  // A live stream is refused, and a server that failed or stalled the copy
  // would fail ranged reads as well: the item goes without stream facts.
  if (status != APR_SUCCESS) return APR_SUCCESS;
  http_file_lend_head(url, copy.path, copy.size, copy.total);
  *ok = probe_input(pool, u, url, probe);
  http_file_withdraw_head(url);
  dlm_unref(url);
  return msms_url_cancel(u->scan) ? COMMON_CANCELLED : APR_SUCCESS;
}

// The stream facts of an online probe as attributes of res; the probe's
// video stream decides "video", an audio stream alone "audio"; *title is
// the stream's title tag (null when none). Returns 0 or 4.
int probe_online(apr_pool_t *pool, UrlScan *u, const char *url, PropList *list, int *media_class, const char **mime,
                 const char **title) {
  OnlineProbe probe;
  bool ok = false;
  if (const int status = probe_fetched(pool, u, url, &probe, &ok); status != APR_SUCCESS) return status;
  *title = probe.title;
  const VideoInfo &video = probe.video;
  const AudioInfo &audio = probe.audio;
  if (ok && video.present) *media_class = MEDIA_VIDEO;
  else if (ok && audio.present) *media_class = MEDIA_AUDIO;
  if (ok && probe.duration > 0) {
    prop_set(pool, list, PROP_RES_DURATION, duration_format(pool, static_cast<int>(probe.duration / 1000000)));
  }
  if (ok && video.width > 0 && video.height > 0) {
    prop_set(pool, list, PROP_RES_RESOLUTION, apr_psprintf(pool, "%dx%d", video.width, video.height));
  }
  if (ok && audio.present && audio.sample_rate > 0) {
    prop_set(pool, list, PROP_RES_SAMPLE_FREQUENCY, str_from_int64(pool, audio.sample_rate));
  }
  if (ok && audio.present && audio.channels > 0) prop_set(pool, list, PROP_RES_NR_AUDIO_CHANNELS, str_from_int64(pool, audio.channels));
  // Players that meet these types online expect H.264 when the probe could not say.
  const bool mp4 = strncasecmp(*mime, "video/MP4V-ES", 13) == 0 || strncasecmp(*mime, "video/mp4", 9) == 0;
  if (mp4 && !(ok && video.present)) *mime = "video/h264";
  return APR_SUCCESS;
}

bool is_container(const char *item_class) {
  return item_class != nullptr && std::strncmp(item_class, "object.container", 16) == 0;
}

// The class stored among props, null when none is.
const char *stored_class(const PropRows *props) { return msdb_prop_rows_get(props, PROP_UPNP_CLASS, 0); }

// Brings the tags of oid (its properties into *stored) in line with the
// source; an object that needs only re-indexing is re-indexed here, one that
// lost a tag sets *rebuild.
int sync_object_tags(apr_pool_t *pool, ScanContext *scan, const char *oid, const PropRows **stored, bool *rebuild) {
  if (msms_checked_props(pool, scan, oid, nullptr, stored) != APR_SUCCESS) return APR_EGENERAL;
  bool reindex = false;
  if (msms_sync_tags(pool, scan, oid, *stored, rebuild, &reindex) != APR_SUCCESS) return APR_EGENERAL;
  if (*rebuild || !reindex) return APR_SUCCESS;
  const char *item_class = stored_class(*stored);
  // Nested playlists are reached through their parent alone and were never filed.
  if (is_container(item_class)) return APR_SUCCESS;
  if (msms_index_object(pool, scan->library, oid, msms_index_class(item_class), nullptr) != APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("Could not index object %s, ignoring...", oid));
  }
  return APR_SUCCESS;
}

// The entries of a feed carry the source's tags as its container does, so a
// kept feed brings each of them in line too, each in a pool of its own; the
// first entry that lost a tag sets *rebuild and ends the walk.
int sync_entry_tags(apr_pool_t *pool, ScanContext *scan, const char *container, bool *rebuild) {
  apr_array_header_t *entries = nullptr;
  if (msdb_subtree_objects(pool, scan->db, container, &entries) != APR_SUCCESS) return APR_EGENERAL;
  for (int i = 0; i < entries->nelts && !*rebuild; ++i) {
    if (msms_url_cancel(scan)) return COMMON_CANCELLED;
    Pool work(pool, MSMS_MODULE);
    const PropRows *stored = nullptr;
    if (sync_object_tags(work, scan, APR_ARRAY_IDX(entries, i, const char *), &stored, rebuild) != APR_SUCCESS) {
      return APR_EGENERAL;
    }
  }
  return APR_SUCCESS;
}

// The title an existing object of url is checked against, null when there
// is none to check. An item is titled by the source's own name, else by
// what its stream says (kStreamTitled), else by its url. A feed's container
// without a name of the source takes the title the feed gives itself, which
// changes only with the feed, as the server's validators do.
const char *expected_title(apr_pool_t *pool, const UrlScan *u, const PropRows *stored, const char *signature) {
  if (has_own_name(u)) return item_title(pool, u, nullptr);
  return is_container(stored_class(stored)) || is_stream_titled(signature) ? nullptr : item_title(pool, u, nullptr);
}

// Whether the title of oid (its properties stored) is no longer the one its
// source gives it. Reads only. Returns 0 or 20014.
int title_differs(apr_pool_t *pool, const UrlScan *u, const char *oid, const PropRows *stored, const char *signature,
                  bool *differs) {
  *differs = false;
  const char *title = expected_title(pool, u, stored, signature);
  if (title == nullptr) return APR_SUCCESS;
  const char *stored_title = nullptr;
  const char *row = nullptr;
  if (msdb_get_prop(pool, u->scan->db, oid, PROP_DC_TITLE, nullptr, 0, &stored_title, &row) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  *differs = str_compare(stored_title, title) != 0;
  return APR_SUCCESS;
}

// Whether the server says url changed since signature (*answer 1) or not
// (0), as the fetch before the pass asked it when it did.
int server_check(apr_pool_t *pool, UrlScan *u, const char *signature, int *answer);

// An existing object of url: kept (*kept) when its tags, title and the
// server say nothing changed, else marked as replaced.
int check_existing(apr_pool_t *pool, UrlScan *u, const char *oid, const char *signature, int counter, bool *kept) {
  ScanContext *scan = u->scan;
  *kept = false;
  const PropRows *stored = nullptr;
  bool rebuild = false;
  if (sync_object_tags(pool, scan, oid, &stored, &rebuild) != APR_SUCCESS) return APR_EGENERAL;
  if (const int status = rebuild ? APR_SUCCESS : sync_entry_tags(pool, scan, oid, &rebuild); status != APR_SUCCESS) {
    return status;
  }
  bool changed = rebuild;
  if (!changed && title_differs(pool, u, oid, stored, signature, &changed) != APR_SUCCESS) return APR_EGENERAL;
  if (!changed && url_is_http(u->url)) {
    int answer = 1;
    const int status = server_check(pool, u, signature, &answer);
    if (status == COMMON_CANCELLED) return status;
    if (status != APR_SUCCESS) LOG4C(MSMS_MODULE, LOG4C_WARN, log4c_sprintf("Could not determine if URL %s has changed", u->url));
    changed = status != APR_SUCCESS || answer != 0;
  }
  // The entries of a replaced feed go with the sweep: nothing marks them.
  if (changed) return msdb_mark_object(pool, scan->db, oid, MSMS_MARK_REPLACED);
  scan->up_to_date[counter]++;
  if (msdb_mark_subtree(pool, scan->db, oid, MSMS_MARK_SEEN) != APR_SUCCESS) return APR_EGENERAL;
  if (msdb_add_object_source(pool, scan->db, oid, scan->source_oid, nullptr) != APR_SUCCESS) {
    return log4c_fail(MSMS_MODULE, "Could not add media source - object relation");
  }
  *kept = true;
  return APR_SUCCESS;
}

// Whether the item of inspected gets its stream facts from a probe.
bool wants_probe(const Inspected &inspected, int expected_class) {
  return decide_class(inspected, expected_class) != MEDIA_IMAGE && msconfig_read_header(inspected.mime, 1);
}

// The item of a single URL, titled by the source's own name, else by the
// stream's title tag or station name, else by its url.
int single_item(apr_pool_t *pool, UrlScan *u, const Inspected &inspected, const char **oid) {
  int media_class = decide_class(inspected, u->expected_class);
  const char *mime = inspected.mime;
  PropList *list = prop_list_create(pool);
  prop_add(pool, list, PROP_RES, inspected.url);
  const char *said = nullptr;
  if (wants_probe(inspected, u->expected_class)) {
    if (const int status = probe_online(pool, u, inspected.url, list, &media_class, &mime, &said); status != APR_SUCCESS) {
      return status;
    }
  }
  if (said == nullptr || said[0] == '\0') said = inspected.stream_name;
  const bool by_stream = !has_own_name(u) && said != nullptr && said[0] != '\0';
  const char *title = item_title(pool, u, by_stream ? said : nullptr);
  const char *signature = by_stream ? apr_pstrcat(pool, inspected.validators, kStreamTitled, nullptr) : inspected.validators;
  prop_set(pool, list, PROP_RES_PROTOCOL_INFO, protocol_info_http(pool, mime));
  if (inspected.http && inspected.size > 0) prop_set(pool, list, PROP_RES_SIZE, str_from_int64(pool, inspected.size));
  if (media_class == 0) media_class = MEDIA_VIDEO;
  return msms_url_store_item(pool, u, nullptr, signature, list, media_class, title, 1, oid);
}

int report_uninspected(const char *url, int status) {
  if (status == COMMON_CANCELLED || status == APR_NOTFOUND) return status;
  LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("Invalid or non audio/video URL %s", url));
  std::printf(" Invalid or non audio/video URL %s\n", url);
  return APR_EGENERAL;
}

}  // namespace

struct UrlFetched {
  apr_pool_t *pool;
  apr_hash_t *documents;  // url -> FetchedDocument
  FetchedStep<CheckResult> check;
  FetchedStep<Inspection> inspection;
  FetchedStep<ProbeResult> probe;
};

namespace {

apr_status_t remove_copies(void *data) {
  const UrlFetched *fetched = static_cast<const UrlFetched *>(data);
  for (apr_hash_index_t *at = apr_hash_first(nullptr, fetched->documents); at != nullptr; at = apr_hash_next(at)) {
    const auto *document = static_cast<const FetchedDocument *>(apr_hash_this_val(at));
    if (document->copy != nullptr) apr_file_remove(document->copy, fetched->pool);
  }
  return APR_SUCCESS;
}

}  // namespace

UrlFetched *msms_url_fetched_make(apr_pool_t *pool) {
  auto *fetched = static_cast<UrlFetched *>(apr_pcalloc(pool, sizeof(UrlFetched)));
  *fetched = UrlFetched{pool, apr_hash_make(pool), {}, {}, {}};
  apr_pool_cleanup_register(pool, fetched, remove_copies, apr_pool_cleanup_null);
  return fetched;
}

bool msms_url_fetched_any(const UrlFetched *fetched) { return apr_hash_count(fetched->documents) > 0; }

FetchedDocument *msms_fetched_document(UrlFetched *fetched, const char *url) {
  return static_cast<FetchedDocument *>(apr_hash_get(fetched->documents, url, APR_HASH_KEY_STRING));
}

FetchedDocument *msms_fetched_keep_document(UrlFetched *fetched, const char *url, const char *copy, int status) {
  auto *document = static_cast<FetchedDocument *>(apr_palloc(fetched->pool, sizeof(FetchedDocument)));
  *document = FetchedDocument{fetched->pool, copy != nullptr ? apr_pstrdup(fetched->pool, copy) : nullptr, status, nullptr};
  apr_hash_set(fetched->documents, apr_pstrdup(fetched->pool, url), APR_HASH_KEY_STRING, document);
  return document;
}

int msms_url_cancel(void *context) {
  const ScanContext *scan = static_cast<const ScanContext *>(context);
  return cancel_requested(scan->cancel, scan->cancel_context) ? 1 : 0;
}

const char *msms_mime_base(apr_pool_t *pool, const char *mime) {
  return apr_pstrndup(pool, mime, std::strcspn(mime, ";( \t"));
}

const UrlItemClass &msms_url_item_class(int media_class) {
  for (const UrlItemClass &row : URL_ITEM_CLASSES) {
    if (row.media_class == media_class) return row;
  }
  return URL_ITEM_CLASSES[0];
}

int msms_url_store_object(apr_pool_t *pool, UrlScan *u, const char *parent, const char *signature, PropList *list,
                          const char **oid) {
  ScanContext *scan = u->scan;
  if (msdb_create_object(pool, scan->db, parent, scan->source_oid, signature, oid) != APR_SUCCESS) {
    return log4c_fail(MSMS_MODULE, "Could not create object");
  }
  if (msdb_add_prop_list(pool, scan->db, *oid, list) != APR_SUCCESS || msms_store_tags(pool, scan, *oid, list) != APR_SUCCESS ||
      msdb_mark_object(pool, scan->db, *oid, MSMS_MARK_SEEN) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  if (!u->index) return APR_SUCCESS;
  const char *item_class = prop_get(pool, list, PROP_UPNP_CLASS, 0);
  const char *index_class = is_container(item_class) ? item_class : msms_index_class(item_class);
  if (msms_index_object(pool, scan->library, *oid, index_class, list) != APR_SUCCESS) {
    return log4c_fail(MSMS_MODULE, log4c_sprintf("Could not index object %s, ignoring...", *oid));
  }
  return APR_SUCCESS;
}

int msms_url_store_item(apr_pool_t *pool, UrlScan *u, const char *parent, const char *signature, PropList *list,
                        int media_class, const char *title, int internet, const char **oid) {
  const UrlItemClass &row = msms_url_item_class(media_class);
  prop_add(pool, list, PROP_UPNP_CLASS, row.item_class);
  prop_add(pool, list, PROP_DC_TITLE, title);
  const char *view = msms_system_view_path(pool, row.kind, internet, 0);
  if (u->index) prop_add(pool, list, PROP_ZENTORIA_SYSTAG_LIB_VIEW, view != nullptr ? view : "Hidden");
  if (msms_url_store_object(pool, u, parent, signature, list, oid) != APR_SUCCESS) return APR_EGENERAL;
  u->scan->created[media_class]++;
  u->scan->up_to_date[media_class]++;
  return APR_SUCCESS;
}

namespace {

// The object an earlier scan made of the url: the one whose res is the url,
// else the source's only object: the item of a metafile keeps the stream it
// names as its res (and the metafile's validators as its signature).
int find_url_object(apr_pool_t *pool, UrlScan *u, FileLookup *lookup) {
  if (msms_find_file_object(pool, u->scan, u->url, lookup) != APR_SUCCESS) {
    return log4c_fail(MSMS_MODULE, "Can't fetch object by its property");
  }
  if (lookup->oid != nullptr) return APR_SUCCESS;
  return msdb_find_sole_object(pool, u->scan->db, u->scan->source_oid, &lookup->oid, &lookup->signature);
}

}  // namespace

int msms_process_url(apr_pool_t *pool, UrlScan *u) {
  ScanContext *scan = u->scan;
  msms_print_progress(pool, u->url);
  std::fflush(stdout);
  LOG4C(MSMS_MODULE, LOG4C_DEBUG, log4c_sprintf("Processing URL %s", u->url));
  // An unchanged URL needs nothing but the server's answer to one
  // conditional request, so the object an earlier scan made is checked
  // before the URL is inspected again: nothing the inspection finds enters
  // that decision (the title is the source's name or the url; a feed's own
  // title and a stream's change only with what the server sends), and a URL
  // that can no longer be inspected fails the server's question as well.
  FileLookup lookup{};
  const char *old_oid = nullptr;
  if (!u->validate_only && u->refresh_existing) {
    if (find_url_object(pool, u, &lookup) != APR_SUCCESS) return APR_EGENERAL;
    if (lookup.oid != nullptr) {
      bool kept = false;
      const int status = check_existing(pool, u, lookup.oid, lookup.signature, MEDIA_METAFILE, &kept);
      if (status != APR_SUCCESS || kept) return status;
      old_oid = lookup.oid;
    }
  }
  Inspection inspection;
  if (u->fetched != nullptr && u->fetched->inspection.done) inspection = u->fetched->inspection.found;
  else inspect_source(pool, u, &inspection);
  if (inspection.inspect_status != APR_SUCCESS) return report_uninspected(u->url, inspection.inspect_status);
  if (inspection.status != APR_SUCCESS) return inspection.status;
  if (u->validate_only) return APR_SUCCESS;
  const Inspected &inspected = inspection.found;
  const bool reference = inspection.reference;
  const char *oid = nullptr;
  int status = APR_SUCCESS;
  if (inspected.type->media_class == MEDIA_METAFILE) {
    status = msms_process_playlist(pool, u, inspected.type, inspected.url, item_title(pool, u, nullptr), nullptr,
                                   inspected.validators, &oid);
  } else {
    status = single_item(pool, u, inspected, &oid);
  }
  if (status != APR_SUCCESS) return status;
  // The objects of a url are found by the url the source names, also when
  // the server redirected it elsewhere; the item of a metafile keeps the
  // stream it names, which players can play.
  if (!reference && std::strcmp(inspected.url, u->url) != 0 &&
      msdb_set_slot(pool, scan->db, oid, PROP_RES, u->url) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  return old_oid != nullptr && oid != nullptr ? msms_link_replacement(pool, scan->db, old_oid, oid) : APR_SUCCESS;
}

namespace {

int probe_fetched(apr_pool_t *pool, UrlScan *u, const char *url, OnlineProbe *probe, bool *ok) {
  const UrlFetched *fetched = u->fetched;
  if (fetched == nullptr || !fetched->probe.done) return probe_copy(pool, u, url, probe, ok);
  *probe = fetched->probe.found.probe;
  *ok = fetched->probe.found.ok;
  return fetched->probe.status;
}

int server_check(apr_pool_t *pool, UrlScan *u, const char *signature, int *answer) {
  if (u->fetched != nullptr && u->fetched->check.done) {
    *answer = u->fetched->check.found.answer;
    return u->fetched->check.status;
  }
  char *validators = nullptr;
  return http_check_changed(pool, u->url, signature != nullptr ? signature : "", answer, &validators, msms_url_cancel,
                            u->scan);
}

// Whether the pass will rebuild the object of lookup although its server
// said "unchanged": its title no longer fits its source, or it or an entry
// of it has a tag the source no longer lists. Reads only. Returns 0 or 20014.
int will_be_rebuilt(apr_pool_t *pool, UrlScan *u, const FileLookup &lookup, bool *rebuilt) {
  ScanContext *scan = u->scan;
  const PropRows *stored = nullptr;
  apr_array_header_t *entries = nullptr;
  if (msms_checked_props(pool, scan, lookup.oid, nullptr, &stored) != APR_SUCCESS ||
      title_differs(pool, u, lookup.oid, stored, lookup.signature, rebuilt) != APR_SUCCESS ||
      msdb_subtree_objects(pool, scan->db, lookup.oid, &entries) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  *rebuilt = *rebuilt || msms_tags_lost(scan, stored);
  for (int i = 0; i < entries->nelts && !*rebuilt; ++i) {
    Pool work(pool, MSMS_MODULE);
    if (msms_checked_props(work, scan, APR_ARRAY_IDX(entries, i, const char *), nullptr, &stored) != APR_SUCCESS) {
      return APR_EGENERAL;
    }
    *rebuilt = msms_tags_lost(scan, stored);
  }
  return APR_SUCCESS;
}

// The fetch's question about the object of an earlier scan. Returns 0 or 4.
int fetch_check(UrlScan *u, const FileLookup &lookup) {
  if (lookup.oid == nullptr || !url_is_http(u->url)) return APR_SUCCESS;
  FetchedStep<CheckResult> &check = u->fetched->check;
  check.found.answer = 1;
  check.status = server_check(u->fetched->pool, u, lookup.signature, &check.found.answer);
  check.done = check.status != COMMON_CANCELLED;
  return check.status == COMMON_CANCELLED ? COMMON_CANCELLED : APR_SUCCESS;
}

}  // namespace

int msms_fetch_url(apr_pool_t *pool, UrlScan *u) {
  UrlFetched *fetched = u->fetched;
  FileLookup lookup{};
  if (u->refresh_existing && find_url_object(pool, u, &lookup) != APR_SUCCESS) return APR_EGENERAL;
  if (const int status = fetch_check(u, lookup); status != APR_SUCCESS) return status;
  // An unchanged object that still fits its source needs nothing more.
  const FetchedStep<CheckResult> &check = fetched->check;
  if (check.done && check.status == APR_SUCCESS && check.found.answer == 0) {
    bool rebuilt = false;
    if (will_be_rebuilt(pool, u, lookup, &rebuilt) != APR_SUCCESS) return APR_EGENERAL;
    if (!rebuilt) return APR_SUCCESS;
  }
  Inspection &inspection = fetched->inspection.found;
  inspect_source(fetched->pool, u, &inspection);
  if (inspection.inspect_status == COMMON_CANCELLED || inspection.status == COMMON_CANCELLED) return COMMON_CANCELLED;
  fetched->inspection.done = true;
  if (inspection.inspect_status != APR_SUCCESS || inspection.status != APR_SUCCESS) return APR_SUCCESS;
  const Inspected &found = inspection.found;
  if (found.type->media_class == MEDIA_METAFILE) return msms_fetch_playlist(u, found.type, found.url);
  if (!wants_probe(found, u->expected_class)) return APR_SUCCESS;
  ProbeResult &probe = fetched->probe.found;
  fetched->probe.status = probe_copy(fetched->pool, u, found.url, &probe.probe, &probe.ok);
  fetched->probe.done = fetched->probe.status != COMMON_CANCELLED;
  return fetched->probe.status;
}
