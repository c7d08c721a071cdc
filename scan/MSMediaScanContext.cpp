// A scan's context filled from the source and the configuration, with the
// source's tag list split into plain tags and view tags.
#include "MSMediaScanContext.h"

#include <apr_strings.h>
#include <strings.h>

#include <cstring>

#include "CommonText.h"
#include "MSConfig.h"
#include "MSMediaScanTidy.h"

namespace {

constexpr const char *kTranscodeWhen[] = {"never", "pprofile", "always"};
constexpr const char kViewPrefix[] = "_zentoria.libview.";
constexpr std::size_t kViewPrefixLength = sizeof kViewPrefix - 1;

bool has_tag(const apr_array_header_t *tags, const char *tag) {
  for (int i = 0; i < tags->nelts; ++i) {
    if (std::strcmp(APR_ARRAY_IDX(tags, i, const char *), tag) == 0) return true;
  }
  return false;
}

// Splits a comma-separated tag list (blanks around items ignored) into plain
// tags (tidied when pretty is set, each once) and view tags (items starting
// with "_zentoria.libview." and something after it, stored without the
// prefix).
void parse_source_tags(apr_pool_t *pool, const char *text, int pretty, apr_array_header_t **tags,
                       apr_array_header_t **view_tags) {
  *tags = apr_array_make(pool, 4, sizeof(const char *));
  *view_tags = apr_array_make(pool, 2, sizeof(const char *));
  if (text == nullptr) return;
  char *state = nullptr;
  for (char *item = apr_strtok(apr_pstrdup(pool, text), ",", &state); item != nullptr;
       item = apr_strtok(nullptr, ",", &state)) {
    item = str_trim(item);
    if (item[0] == '\0') continue;
    if (strncasecmp(item, kViewPrefix, kViewPrefixLength) == 0 && item[kViewPrefixLength] != '\0') {
      APR_ARRAY_PUSH(*view_tags, const char *) = item + kViewPrefixLength;
      continue;
    }
    const char *tag = pretty ? msms_tidy(pool, item) : item;
    if (!has_tag(*tags, tag)) APR_ARRAY_PUSH(*tags, const char *) = tag;
  }
}

}  // namespace

int msms_scan_context_init(apr_pool_t *pool, const ScanLibrary *library, const MediaSource *source, const char *root,
                           CancelCheck cancel, void *context, ScanContext *scan) {
  *scan = ScanContext{};
  const MSConfig *config = nullptr;
  if (msconfig_get(&config) != APR_SUCCESS) return APR_EGENERAL;
  scan->pretty_tags = config->pretty_tags;
  scan->long_title = config->long_title;
  scan->read_avi_tags = config->read_avi_tags;
  scan->handle_album_art = config->handle_album_art;
  scan->allow_album_art_as_photo = config->allow_album_art_as_photo;
  scan->bounds = ScanBounds{config->max_playlist_depth, config->max_share_requests, config->max_share_items,
                            config->max_items_per_feed, apr_hash_make(pool), 0, 0, 0};
  msconfig_release();
  scan->pool = pool;
  scan->library = library;
  scan->db = library->db;
  scan->source_oid = source->oid;
  scan->root = root;
  scan->lookfor_audio = source->lookfor_audio;
  scan->lookfor_video = source->lookfor_video;
  scan->lookfor_photo = source->lookfor_photo;
  for (const char *name : kTranscodeWhen) {
    if (source->transcode_when != nullptr && strcasecmp(source->transcode_when, name) == 0) scan->transcode_when = name;
  }
  parse_source_tags(pool, source->tags, scan->pretty_tags, &scan->tags, &scan->view_tags);
  scan->art_cache = apr_hash_make(pool);
  scan->cancel = cancel;
  scan->cancel_context = context;
  return APR_SUCCESS;
}

int msms_scan_created(const ScanContext *scan) {
  int sum = 0;
  for (int count : scan->created) sum += count;
  return sum;
}
