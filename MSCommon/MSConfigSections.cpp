// The simple sections of config.xml: language, content directory and its
// library views, player profiles, cache, downloads, MIME types and usage
// statistics.
#include <apr_strings.h>

#include "CommonText.h"
#include "CommonXML.h"
#include "MSConfigRead.h"
#include "log4c.h"

namespace {

constexpr apr_int64_t kMebibyte = 1048576;
constexpr apr_int64_t kMinute = 60000;  // milliseconds

struct BoolField {
  const char *name;
  int MSConfig::*field;
};
struct UintField {
  const char *name;
  unsigned int MSConfig::*field;
};

// A missing or invalid value leaves the default, without a message.
template <typename BoolTable, typename UintTable>
void read_fields(MSConfig &c, const apr_xml_elem *elem, const BoolTable &bools, const UintTable &uints) {
  for (const BoolField &entry : bools) config_attr_bool(elem, entry.name, &(c.*entry.field));
  for (const UintField &entry : uints) config_attr_uint(elem, entry.name, &(c.*entry.field));
}

constexpr BoolField kContentBools[] = {
    {"sortFolderByFileName", &MSConfig::sort_folder_by_file_name},
    {"prettyTags", &MSConfig::pretty_tags},
    {"longTitle", &MSConfig::long_title},
    {"readAVITags", &MSConfig::read_avi_tags},
    {"handleAlbumArt", &MSConfig::handle_album_art},
    {"allowAlbumArtAsPhoto", &MSConfig::allow_album_art_as_photo},
};
constexpr UintField kContentUints[] = {
    {"refreshStartTime", &MSConfig::refresh_start_time},
    {"refreshInterval", &MSConfig::refresh_interval},
    {"maxItemsPerFeed", &MSConfig::max_items_per_feed},
    {"maxPlaylistDepth", &MSConfig::max_playlist_depth},
    {"maxRequestsPerShare", &MSConfig::max_share_requests},
    {"maxItemsPerShare", &MSConfig::max_share_items},
};
constexpr BoolField kDownloadBools[] = {{"ProxyHTTP", &MSConfig::proxy_http}};
constexpr UintField kDownloadUints[] = {
    {"maxActive", &MSConfig::max_active},
    {"maxBitrate", &MSConfig::max_bitrate},
    {"feedNewItemCount", &MSConfig::feed_new_item_count},
    {"transferDeadline", &MSConfig::transfer_deadline},
};

void read_index(MSConfigLoader &loader, const apr_xml_elem *elem) {
  auto *view = static_cast<MSConfigView *>(apr_pcalloc(loader.pool, sizeof(MSConfigView)));
  view->parent = view->trigger = view->props = view->filter = "";
  config_attr_text(loader.pool, elem, "parent", &view->parent);
  config_attr_text(loader.pool, elem, "trigger", &view->trigger);
  config_attr_text(loader.pool, elem, "props", &view->props);
  config_attr_text(loader.pool, elem, "filter", &view->filter);
  view->next = loader.config->views;
  loader.config->views = view;
}

constexpr MSConfigChildHandler kContentChildren[] = {{"index", read_index}};

// A flag of a mimetype element: its boolean value, or -1 when absent.
int mime_flag(const apr_xml_elem *elem, const char *name) {
  int value = -1;
  return config_attr_bool(elem, name, &value) ? value : -1;
}

// MIME types are compared ignoring case, so the table is keyed in lower case.
void read_mimetype(MSConfigLoader &loader, const apr_xml_elem *elem) {
  const char *value = xml_attr_get(elem, "value");
  if (value == nullptr) return;
  auto *entry = static_cast<MSConfigMimeType *>(apr_pcalloc(loader.pool, sizeof(MSConfigMimeType)));
  entry->value = str_lower(loader.pool, value);
  entry->read_header = mime_flag(elem, "readHeader");
  entry->read_header_online = mime_flag(elem, "readHeaderOnline");
  apr_hash_set(loader.mime_types, entry->value, APR_HASH_KEY_STRING, entry);
}

constexpr MSConfigChildHandler kMimeChildren[] = {{"mimetype", read_mimetype}};
}  // namespace

void config_read_i18n(MSConfigLoader &loader, const apr_xml_elem *elem) {
  config_attr_nonempty(loader.pool, elem, "lang", &loader.config->lang);
  config_attr_nonempty(loader.pool, elem, "default_subtitles_lang", &loader.config->default_subtitles_lang);
}

void config_read_content_directory(MSConfigLoader &loader, const apr_xml_elem *elem) {
  MSConfig &c = *loader.config;
  if (config_attr_text(loader.pool, elem, "name", &c.content_name)) {
    c.content_db_path = apr_pstrcat(loader.pool, loader.paths->data_dir, c.content_name, nullptr);
  }
  config_attr_nonempty(loader.pool, elem, "root", &c.root_title);
  read_fields(c, elem, kContentBools, kContentUints);
  config_visit_children(loader, elem, kContentChildren);
}

void config_read_player_profiles(MSConfigLoader &loader, const apr_xml_elem *elem) {
  const char *name = xml_attr_get(elem, "name");
  if (name != nullptr) {
    loader.config->player_profiles_file = apr_pstrcat(loader.pool, loader.paths->install_dir, name, nullptr);
  }
  config_attr_text(loader.pool, elem, "profileID", &loader.config->profile_id);
}

void config_read_cache(MSConfigLoader &loader, const apr_xml_elem *elem) {
  MSConfig &c = *loader.config;
  unsigned int minutes = 30;
  if (!config_attr_uint(elem, "timeshiftInterval", &minutes)) {
    config_invalid_attribute("timeshiftInterval", elem, LOG4C_ERROR);
    minutes = 30;
  }
  unsigned int max_size = static_cast<unsigned int>(c.cache_max_size / kMebibyte);
  unsigned int min_size = static_cast<unsigned int>(c.cache_min_size / kMebibyte);
  if (!config_attr_uint(elem, "maxSize", &max_size)) config_invalid_attribute("maxSize", elem, LOG4C_ERROR);
  if (!config_attr_uint(elem, "minSize", &min_size)) config_invalid_attribute("minSize", elem, LOG4C_ERROR);
  c.cache_max_size = max_size * kMebibyte;
  c.cache_min_size = min_size * kMebibyte;
  c.timeshift_interval_ms = minutes * kMinute;
}

void config_read_download(MSConfigLoader &loader, const apr_xml_elem *elem) {
  read_fields(*loader.config, elem, kDownloadBools, kDownloadUints);
}

void config_read_mimetype_list(MSConfigLoader &loader, const apr_xml_elem *elem) {
  config_visit_children(loader, elem, kMimeChildren);
}

void config_read_anon_usage_stats(MSConfigLoader &loader, const apr_xml_elem *elem) {
  MSConfig &c = *loader.config;
  if (!config_attr_bool(elem, "collectStats", &c.collect_stats)) c.collect_stats = 0;
  if (!config_attr_bool(elem, "dailyUpload", &c.daily_upload)) c.daily_upload = 0;
  config_attr_text(loader.pool, elem, "uploadUrlPrefix", &c.upload_url_prefix);
}
