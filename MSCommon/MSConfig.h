// MSConfig: the server's configuration file "config.xml", read once at
// start-up into one process-wide record, and the folder layout of the
// installation.
//
// Missing or malformed values fall back to defaults with a logged message.
// The record, its lists and the paths live in the pool given to
// msconfig_load until the process ends. One read-write lock guards the
// record: readers hold it only to copy what they need, or keep the pointer
// for the run when nothing writes. Logs on "MSConfig".
#pragma once

#include <apr_hash.h>
#include <apr_pools.h>

#include <array>

// One `index` element of contentDirectory; the scan engine interprets it.
struct MSConfigView {
  const char *parent;
  const char *trigger;
  const char *props;
  const char *filter;
  MSConfigView *next;  // the list is newest first
};

// One `auth` (allowed 1) or `noauth` (allowed 0) element of service.
struct MSConfigAccessRule {
  int allowed;
  const char *from;
  const char *path;
  const char *libpath;
  MSConfigAccessRule *next;  // newest first
};

// One `mimetype` element; each flag is 0, 1 or -1 when absent.
struct MSConfigMimeType {
  const char *value;
  int read_header;
  int read_header_online;
};

struct MSConfigVideoLimits {
  unsigned int width, height, bitrate, fps;
};
struct MSConfigAudioLimits {
  unsigned int sample_rate, bitrate, bits_per_sample, nchannels;
};
struct MSConfigImageLimits {
  unsigned int width, height;
};

// Indexes into the enumerations below; 0 means no value (no transcode
// element).
enum MSConfigTranscodeWhen : int { TRANSCODE_NONE = 0, TRANSCODE_NEVER, TRANSCODE_PPROFILE, TRANSCODE_ALWAYS };
enum MSConfigOptimize : int { OPTIMIZE_NONE = 0, OPTIMIZE_SPEED, OPTIMIZE_QUALITY };
enum MSConfigWmProfile : int { WM_PROFILE_NONE = 0, WM_PROFILE_WMVMP43, WM_PROFILE_WMV7, WM_PROFILE_WMV8, WM_PROFILE_WMV9 };

inline constexpr std::array<const char *, 4> MSCONFIG_TRANSCODE_WHEN_NAMES = {nullptr, "never", "pprofile", "always"};
inline constexpr std::array<const char *, 3> MSCONFIG_OPTIMIZE_NAMES = {nullptr, "speed", "quality"};
inline constexpr std::array<const char *, 5> MSCONFIG_WM_PROFILE_NAMES = {nullptr, "wmvmp43", "wmv7", "wmv8", "wmv9"};

// Connection speeds (index 1..12; 0 is none) and the bitrate caps they set.
struct MSConfigSpeed {
  const char *name;
  unsigned int video_cap;
  unsigned int audio_cap;
};
inline constexpr std::array<MSConfigSpeed, 13> MSCONFIG_SPEEDS = {{
    {nullptr, 0, 0},
    {"WIRED_HIGH", 30000000, 320000},
    {"WIRED_MEDIUM", 20000000, 320000},
    {"WIRED_LOW", 10000000, 320000},
    {"WIFI_G_HIGH", 15000000, 320000},
    {"WIFI_G_MEDIUM", 7500000, 256000},
    {"WIFI_G_LOW", 4000000, 192000},
    {"WIFI_B_HIGH", 3000000, 128000},
    {"WIFI_B_MEDIUM", 1500000, 96000},
    {"WIFI_B_LOW", 800000, 64000},
    {"INTERNET_HIGH", 3000000, 64000},
    {"INTERNET_MEDIUM", 2000000, 64000},
    {"INTERNET_LOW", 1000000, 64000},
}};

// The installation's folders and files, each the installation folder joined
// with "/" and a fixed name; folders end with "/".
struct MSConfigPaths {
  const char *config_file;        // config.xml
  const char *plugins_file;       // plugins.xml
  const char *data_dir;           // data/
  const char *download_dir;       // data/download/
  const char *logs_dir;           // logs/
  const char *implib_dir;         // ImpLib/
  const char *iconv_dir;          // iconv/
  const char *install_dir;        // the installation folder itself
  const char *web_dir;            // web/
  const char *install_done_file;  // zentoria.installDone
  const char *mce_template_file;  // web/mce/mce.template.html
  const char *osb_file;           // osb.xml
  const char *fix_flash_file;     // fix_flash.js
  const char *web_version_file;   // web/version.xml
  const char *berkelium_dir;      // berkelium
  const char *program_path;       // argv[0]
  const char *server_id;          // "<os>UPnP/1.0, Zentoria Media Server/2.7\r\n"
  std::array<const char *, 5> wm_profile_files;  // by MSConfigWmProfile; [0] null
};

struct MSConfig {
  // i18n
  const char *lang;  // user-interface language name, or null
  const char *default_subtitles_lang;
  // contentDirectory
  const char *content_name;
  const char *content_db_path;  // data folder + name; null without a name
  const char *admin_db_path;    // data folder + "db/admin.db"
  const char *root_title;
  int sort_folder_by_file_name;
  int pretty_tags;
  int long_title;
  int read_avi_tags;
  unsigned int refresh_start_time;
  unsigned int refresh_interval;
  unsigned int max_items_per_feed;
  // Bounds of one share's playlists and feeds: nesting depth, fetches of
  // nested documents, objects made from their entries.
  unsigned int max_playlist_depth;
  unsigned int max_share_requests;
  unsigned int max_share_items;
  int handle_album_art;
  int allow_album_art_as_photo;
  MSConfigView *views;
  // playerProfiles
  const char *player_profiles_file;  // full path under the installation folder
  const char *profile_id;
  // transcode
  int transcode_when;   // MSConfigTranscodeWhen
  int optimize;         // MSConfigOptimize
  int connection_speed;  // index into MSCONFIG_SPEEDS
  int downsample_for_connection_speed;
  unsigned int audio_compression_ratio;
  unsigned int video_compression_ratio;
  int disable_decoding_clock;
  int wm_profile;  // MSConfigWmProfile
  int wm_encode_dshow;
  unsigned int aud_cap_drift_comp_thresh;
  int aud_cap_stereo_mix;
  MSConfigVideoLimits max_video, min_video;
  MSConfigAudioLimits max_audio, min_audio;
  MSConfigImageLimits max_image, min_image;
  // cache
  apr_int64_t timeshift_interval_ms;
  apr_int64_t cache_max_size;  // bytes
  apr_int64_t cache_min_size;  // bytes
  // service
  int auto_start;
  const char *hostname;
  unsigned int port;
  const char *ip;
  int allow_remote_connection;
  unsigned int ssdp_max_age;
  // The media server's bounds (listen maxConnections, connectionTimeout in
  // seconds, maxHeaderSize in bytes): ours, not the original's.
  unsigned int max_connections;
  unsigned int connection_timeout;
  unsigned int max_header_size;
  const char *admin_up;  // Base64
  const char *relay_server;
  const char *relay_server_auth;
  unsigned int relay_server_reconnect_timeout;
  unsigned int min_thread, max_thread, jobs_per_thread, thread_idle_time;
  MSConfigAccessRule *access_rules;
  // download
  int proxy_http;
  unsigned int max_active;
  unsigned int max_bitrate;
  unsigned int feed_new_item_count;
  unsigned int transfer_deadline;  // minutes, 0: none
  // anonUsageStats
  int collect_stats;
  int daily_upload;
  const char *upload_url_prefix;
};

// Reads install_dir/config.xml. Returns 0, or 20014 when the lock or the
// MIME-type table cannot be created, the file is missing or not XML, the
// document is empty or its root element is not "config" (any case). Bad
// values never fail: they are replaced by defaults.
int msconfig_load(apr_pool_t *pool, const char *install_dir, const char *program_path);

// Forgets the record, its lock and the paths (they live in the loader's
// pool); msconfig_load may run again.
void msconfig_unload();

// Takes the read lock and hands out the record. Returns 0, or 20014 (record
// null) when nothing is loaded or locking fails ("Unable to lock mutex").
int msconfig_get(const MSConfig **config);
// As msconfig_get, with the write lock.
int msconfig_get_for_update(MSConfig **config);
// Releases the lock taken by msconfig_get or msconfig_get_for_update.
// Returns 0, or 20014 ("Unable to lock mutex") when unlocking fails.
int msconfig_release();

// listen@allowRemoteConnection, read under the lock; 0 when not loaded.
int msconfig_allow_remote();

// Whether the header of a file of this MIME type is read: 1 when the type
// has no mimetype entry; readHeaderOnline when online is set and that value
// is 0 or more; else readHeader (absent counts as 1).
int msconfig_read_header(const char *mime_type, int online);

// The installation paths computed by msconfig_load, or null before it.
const MSConfigPaths *msconfig_paths();
