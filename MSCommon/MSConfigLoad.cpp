// Loading config.xml: installation paths, defaults, the root element's
// sections and the limits derived from them.
#include <apr_strings.h>
#include <sys/utsname.h>

#include "CommonXML.h"
#include "MSConfigRead.h"
#include "log4c.h"
#include "log4c_pool.h"

MSConfigState g_msconfig;

namespace {

constexpr const char *kServerIdFormat = "%sUPnP/1.0, Zentoria Media Server/%s\r\n";
constexpr const char *kServerVersion = "2.7";
constexpr apr_int64_t kMebibyte = 1048576;

const char *install_path(apr_pool_t *pool, const char *install_dir, const char *name) {
  return apr_pstrcat(pool, install_dir, "/", name, nullptr);
}

// The server identification opens with the operating system's name and
// release ("Linux/6.1.0-18-amd64, "), the place a Windows version takes
// there; without a readable version it starts directly with the protocol.
void compute_paths(apr_pool_t *pool, MSConfigPaths &paths, const char *dir, const char *program_path) {
  paths.config_file = install_path(pool, dir, "config.xml");
  paths.plugins_file = install_path(pool, dir, "plugins.xml");
  paths.data_dir = install_path(pool, dir, "data/");
  paths.download_dir = install_path(pool, dir, "data/download/");
  paths.logs_dir = install_path(pool, dir, "logs/");
  paths.implib_dir = install_path(pool, dir, "ImpLib/");
  paths.iconv_dir = install_path(pool, dir, "iconv/");
  paths.install_dir = install_path(pool, dir, "");
  paths.web_dir = install_path(pool, dir, "web/");
  paths.install_done_file = install_path(pool, dir, "zentoria.installDone");
  paths.mce_template_file = install_path(pool, dir, "web/mce/mce.template.html");
  paths.osb_file = install_path(pool, dir, "osb.xml");
  paths.fix_flash_file = install_path(pool, dir, "fix_flash.js");
  paths.web_version_file = install_path(pool, dir, "web/version.xml");
  paths.berkelium_dir = install_path(pool, dir, "berkelium");
  paths.program_path = apr_pstrdup(pool, program_path);
  struct utsname system;
  const char *os = uname(&system) == 0 ? apr_psprintf(pool, "%s/%s, ", system.sysname, system.release) : "";
  paths.server_id = apr_psprintf(pool, kServerIdFormat, os, kServerVersion);
  for (int profile = WM_PROFILE_WMVMP43; profile <= WM_PROFILE_WMV9; ++profile) {
    paths.wm_profile_files[profile] =
        apr_pstrcat(pool, dir, "/", MSCONFIG_WM_PROFILE_NAMES[profile], ".xml", nullptr);
  }
}

void fill_defaults(MSConfig &c, const MSConfigPaths &paths, apr_pool_t *pool) {
  c = MSConfig{};
  c.admin_db_path = apr_pstrcat(pool, paths.data_dir, "db/admin.db", nullptr);
  c.sort_folder_by_file_name = 1;
  c.pretty_tags = 1;
  c.refresh_interval = 1440;
  c.max_items_per_feed = 10;
  c.max_playlist_depth = 8;
  c.max_share_requests = 200;
  c.max_share_items = 10000;
  c.handle_album_art = 1;
  c.audio_compression_ratio = 8;
  c.video_compression_ratio = 24;
  c.disable_decoding_clock = 1;
  c.wm_encode_dshow = 1;
  c.max_video = {640, 480, 10000000, 30};
  c.min_video = {0, 0, 0, 24};
  c.max_audio = {48000, 1536000, 16, 6};
  c.min_audio = {32000, 0, 16, 1};
  c.max_image = {1280, 1024};
  c.min_image = {0, 0};
  c.timeshift_interval_ms = 30 * 60000;
  c.cache_max_size = 4096 * kMebibyte;
  c.cache_min_size = 3072 * kMebibyte;
  c.auto_start = 1;
  c.port = 41952;
  c.ssdp_max_age = 1800;
  c.max_connections = 512;
  c.connection_timeout = 60;
  c.max_header_size = 16384;
  c.relay_server_reconnect_timeout = 1800;
  c.min_thread = 4;
  c.max_thread = 50;
  c.jobs_per_thread = 1;
  c.thread_idle_time = 5000;
  c.proxy_http = 1;
  c.max_active = 10;
  c.max_bitrate = 1048576;
  c.feed_new_item_count = 1;
  c.transfer_deadline = 10;
  c.upload_url_prefix = "";
}

constexpr MSConfigChildHandler kSections[] = {
    {"i18n", config_read_i18n},
    {"contentDirectory", config_read_content_directory},
    {"playerProfiles", config_read_player_profiles},
    {"transcode", config_read_transcode},
    {"cache", config_read_cache},
    {"service", config_read_service},
    {"download", config_read_download},
    {"mimetypeList", config_read_mimetype_list},
    {"anonUsageStats", config_read_anon_usage_stats},
};

// Other root children belong to the media server's own modules.
void read_sections(MSConfigLoader &loader, const apr_xml_elem *root) {
  for (const apr_xml_elem *child = root->first_child; child != nullptr; child = child->next) {
    for (const MSConfigChildHandler &section : kSections) {
      if (config_name_is(child, section.name)) {
        section.read(loader, child);
        break;
      }
    }
  }
}

// The connection speed caps what may be streamed; optimising for speed
// compresses video harder.
void derive_limits(MSConfig &c) {
  const MSConfigSpeed &speed = MSCONFIG_SPEEDS[c.connection_speed];
  if (speed.video_cap < c.max_video.bitrate) c.max_video.bitrate = speed.video_cap;
  if (speed.audio_cap < c.max_audio.bitrate) c.max_audio.bitrate = speed.audio_cap;
  if (c.optimize != OPTIMIZE_QUALITY) {
    c.video_compression_ratio = static_cast<unsigned int>(c.video_compression_ratio / 2.4);
  }
}

int read_document(apr_pool_t *scratch, const char *path, const apr_xml_elem **root) {
  apr_xml_doc *doc = nullptr;
  if (xml_read_file_tree(scratch, path, &doc) != APR_SUCCESS) {
    LOG4C(kConfigModule, LOG4C_ERROR, log4c_sprintf("Unable to parse the configuration file (%s)", path));
    return APR_EGENERAL;
  }
  if (doc == nullptr || doc->root == nullptr) {
    LOG4C(kConfigModule, LOG4C_ERROR,
          log4c_sprintf("Parsing of configuration file (%s) resulted in an empty document", path));
    return APR_EGENERAL;
  }
  *root = doc->root;
  return APR_SUCCESS;
}

}  // namespace

int msconfig_load(apr_pool_t *pool, const char *install_dir, const char *program_path) {
  Pool scratch(pool, kConfigModule);
  if (apr_thread_rwlock_create(&g_msconfig.lock, pool) != APR_SUCCESS) {
    LOG4C(kConfigModule, LOG4C_ERROR, "Could no create mutex");
    return APR_EGENERAL;
  }
  g_msconfig.mime_types = apr_hash_make(pool);
  compute_paths(pool, g_msconfig.paths, install_dir, program_path);
  g_msconfig.paths_ready = true;
  const apr_xml_elem *root = nullptr;
  if (read_document(scratch, g_msconfig.paths.config_file, &root) != APR_SUCCESS) return APR_EGENERAL;
  apr_pool_t *record_pool = pool_create_or_die(pool, kConfigModule);
  auto *config = static_cast<MSConfig *>(apr_pcalloc(record_pool, sizeof(MSConfig)));
  fill_defaults(*config, g_msconfig.paths, record_pool);
  if (!config_name_is(root, "config")) {
    LOG4C(kConfigModule, LOG4C_ERROR, "Invalid root element name, cannot parse the configuration file...");
    return APR_EGENERAL;
  }
  MSConfigLoader loader{record_pool, config, g_msconfig.mime_types, &g_msconfig.paths};
  read_sections(loader, root);
  derive_limits(*config);
  g_msconfig.config = config;
  return APR_SUCCESS;
}
