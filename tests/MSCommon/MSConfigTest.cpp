// The configuration file: defaults, every section's values and messages,
// the derived limits, files that cannot be used, and the example file that
// new installations start from.
#include <sys/utsname.h>
#include <gtest/gtest.h>

#include <string>

#include "LogCapture.h"
#include "log4c.h"
#include "MSConfig.h"

namespace {

constexpr const char *kInvalidTemplate =
    "Missing or invalid value for %s atribute of %s element, using default value...";

std::string invalid_message(const std::string &attribute, const std::string &element) {
  char text[256];
  snprintf(text, sizeof text, kInvalidTemplate, attribute.c_str(), element.c_str());
  return text;
}

class ConfigTest : public ::testing::Test {
 protected:
  void TearDown() override { msconfig_unload(); }

  int load(const std::string &body) {
    write_file(dir.file("config.xml"), body);
    return msconfig_load(pool, dir.path().c_str(), "/opt/zentoria/sharectl");
  }
  // Loads a <config> holding inner and hands out the record.
  const MSConfig &loaded(const std::string &inner) {
    EXPECT_EQ(load("<config>" + inner + "</config>"), APR_SUCCESS);
    const MSConfig *config = nullptr;
    EXPECT_EQ(msconfig_get(&config), APR_SUCCESS);
    msconfig_release();
    static const MSConfig empty{};
    return config != nullptr ? *config : empty;
  }
  int messages_at_or_above(int level) {
    int count = 0;
    for (const LoggedEvent &event : log.events())
      if (event.logger == "MSConfig" && event.level >= level) ++count;
    return count;
  }

  TestPool pool;
  TempDir dir;
  LogCapture log;
};

// What an empty file leaves must still be usable: databases in the
// installation, no message, and every lower bound below its upper bound.
TEST_F(ConfigTest, EmptyConfigGivesAUsableRecordWithoutMessages) {
  const MSConfig &c = loaded("");
  EXPECT_EQ(c.content_db_path, nullptr);
  EXPECT_EQ(std::string(c.admin_db_path), dir.path() + "/data/db/admin.db");
  EXPECT_LT(c.cache_min_size, c.cache_max_size);
  EXPECT_LE(c.min_thread, c.max_thread);
  EXPECT_LE(c.min_video.fps, c.max_video.fps);
  EXPECT_LE(c.min_audio.sample_rate, c.max_audio.sample_rate);
  EXPECT_GT(c.refresh_interval, 0u);
  EXPECT_EQ(c.transcode_when, TRANSCODE_NONE);
  EXPECT_EQ(messages_at_or_above(LOG4C_DEBUG), 0);
}

TEST_F(ConfigTest, WithoutTranscodeTheLimitsDeriveFromNoSpeed) {
  const MSConfig &c = loaded("");
  EXPECT_EQ(c.max_video.bitrate, 0u);
  EXPECT_EQ(c.max_audio.bitrate, 0u);
  EXPECT_EQ(c.video_compression_ratio, 10u) << "24 / 2.4, as nothing asks for quality";
}

TEST_F(ConfigTest, ConnectionSpeedCapsTheBitrates) {
  const MSConfig &c = loaded(
      "<transcode connectionSpeed='wifi_b_low' optimize='quality'>"
      "<maxVideoInfo bitrate='10000000'/><maxAudioInfo bitrate='32000'/></transcode>");
  EXPECT_EQ(c.connection_speed, 9);
  EXPECT_EQ(c.max_video.bitrate, 800000u);
  EXPECT_EQ(c.max_audio.bitrate, 32000u) << "already below the cap";
  EXPECT_EQ(c.video_compression_ratio, 24u);
}

TEST_F(ConfigTest, OptimizingForSpeedCompressesVideoHarder) {
  const MSConfig &c = loaded("<transcode optimize='SPEED' videoCompressionRatio='25'/>");
  EXPECT_EQ(c.optimize, OPTIMIZE_SPEED);
  EXPECT_EQ(c.video_compression_ratio, 10u);
}

TEST_F(ConfigTest, TranscodeValuesOutsideTheirTablesFallBackWithAMessage) {
  const MSConfig &c = loaded(
      "<transcode when='sometimes' optimize='quality' connectionSpeed='WIRED_LOW' downsampleForConnectionSpeed='1'"
      " audioCompressionRatio='-8' videoCompressionRatio='30' disableDecodingClock='no' wmProfile='wmv10'"
      " wmEncodeDShow='perhaps' audCapStereoMix='yes'/>");
  EXPECT_EQ(c.transcode_when, TRANSCODE_PPROFILE);
  EXPECT_EQ(c.wm_profile, WM_PROFILE_WMV8);
  EXPECT_EQ(c.audio_compression_ratio, 8u);
  EXPECT_EQ(c.video_compression_ratio, 30u);
  EXPECT_EQ(c.disable_decoding_clock, 0);
  EXPECT_EQ(c.wm_encode_dshow, 1);
  EXPECT_EQ(c.aud_cap_stereo_mix, 1);
  EXPECT_EQ(c.downsample_for_connection_speed, 1);
  EXPECT_EQ(log.count("MSConfig", LOG4C_ERROR, invalid_message("when", "transcode")), 1);
  EXPECT_EQ(log.count("MSConfig", LOG4C_ERROR, invalid_message("wmProfile", "transcode")), 1);
  EXPECT_EQ(log.count("MSConfig", LOG4C_ERROR, invalid_message("audioCompressionRatio", "transcode")), 1);
  EXPECT_EQ(log.count("MSConfig", LOG4C_ERROR, invalid_message("wmEncodeDShow", "transcode")), 1);
  EXPECT_EQ(log.count("MSConfig", LOG4C_DEBUG, invalid_message("audCapDriftCompThresh", "transcode")), 1)
      << "the drift threshold is optional";
  EXPECT_EQ(messages_at_or_above(LOG4C_ERROR), 4);
}

TEST_F(ConfigTest, BadBoundElementIsReportedByItsDocumentedName) {
  const MSConfig &c = loaded(
      "<transcode><maxVideoInfo width='800' height='x'/><MINIMAGEINFO width='-1'/><colour/></transcode>");
  EXPECT_EQ(c.max_video.width, 800u);
  EXPECT_EQ(c.max_video.height, 480u);
  EXPECT_EQ(log.count("MSConfig", LOG4C_ERROR, "There were errors extracting maxVideoInfo from the configuration file"),
            1);
  EXPECT_EQ(log.count("MSConfig", LOG4C_ERROR, "There were errors extracting minImageInfo from the configuration file"),
            1);
  EXPECT_EQ(log.count("MSConfig", LOG4C_WARN, "Unknown element encountered colour, skipping..."), 1);
}

TEST_F(ConfigTest, ContentDirectoryValuesAndViews) {
  const MSConfig &c = loaded(
      "<CONTENTDIRECTORY name='lib.db' root='' prettyTags='no' longTitle='maybe' refreshInterval='-5'"
      " maxItemsPerFeed='25 '>"
      "<index parent='A' props='upnp:artist'/><Index parent='B' trigger='T' props='upnp:album' filter='f=1'/>"
      "<view/></CONTENTDIRECTORY>");
  EXPECT_EQ(std::string(c.content_db_path), dir.path() + "/data/lib.db");
  EXPECT_EQ(c.root_title, nullptr);
  EXPECT_EQ(c.pretty_tags, 0);
  EXPECT_EQ(c.long_title, 0) << "an invalid boolean keeps the default";
  EXPECT_EQ(c.refresh_interval, 1440u) << "a negative integer keeps the default";
  EXPECT_EQ(c.max_items_per_feed, 25u);
  ASSERT_NE(c.views, nullptr);
  EXPECT_STREQ(c.views->parent, "B") << "newest first";
  EXPECT_STREQ(c.views->trigger, "T");
  EXPECT_STREQ(c.views->filter, "f=1");
  ASSERT_NE(c.views->next, nullptr);
  EXPECT_STREQ(c.views->next->trigger, "") << "a missing attribute reads as empty";
  EXPECT_EQ(c.views->next->next, nullptr);
  EXPECT_EQ(log.count("MSConfig", LOG4C_WARN, "Unknown element encountered view, skipping..."), 1);
  EXPECT_EQ(messages_at_or_above(LOG4C_WARN), 1);
}

TEST_F(ConfigTest, CacheKeepsMillisecondsAndBytes) {
  const MSConfig &c = loaded("<cache timeshiftInterval='15' maxSize='512' minSize='256'/>");
  EXPECT_EQ(c.timeshift_interval_ms, 900000);
  EXPECT_EQ(c.cache_max_size, 536870912);
  EXPECT_EQ(c.cache_min_size, 268435456);
}

TEST_F(ConfigTest, CacheWithBadValuesKeepsDefaultsAndSaysSo) {
  const MSConfig &c = loaded("<cache timeshiftInterval='soon' maxSize='-1'/>");
  EXPECT_EQ(c.timeshift_interval_ms, 1800000);
  EXPECT_EQ(c.cache_max_size, 4294967296LL);
  EXPECT_EQ(c.cache_min_size, 3221225472LL);
  EXPECT_EQ(log.count("MSConfig", LOG4C_ERROR, invalid_message("timeshiftInterval", "cache")), 1);
  EXPECT_EQ(log.count("MSConfig", LOG4C_ERROR, invalid_message("maxSize", "cache")), 1);
  EXPECT_EQ(log.count("MSConfig", LOG4C_ERROR, invalid_message("minSize", "cache")), 1);
}

TEST_F(ConfigTest, ServiceListenRulesAndThreadPool) {
  const MSConfig &c = loaded(
      "<service autoStart='false' hostname='box'>"
      "<listen ip='' allowRemoteConnection='yes' adminUP='admin:pw' relayServer='r' maxConnections='64'"
      " connectionTimeout='5' maxHeaderSize='big'/>"
      "<auth from='10.0.0.0/8' path='/a' libpath='/b'/><noauth from='*'/>"
      "<threadPool minThread='2' maxThread='many'/><extra/></service>");
  EXPECT_EQ(c.auto_start, 0);
  EXPECT_STREQ(c.hostname, "box");
  EXPECT_EQ(c.port, 41952u);
  EXPECT_EQ(c.ip, nullptr);
  EXPECT_EQ(c.allow_remote_connection, 1);
  EXPECT_STREQ(c.admin_up, "YWRtaW46cHc=");
  EXPECT_STREQ(c.relay_server, "r");
  EXPECT_EQ(c.max_connections, 64u);
  EXPECT_EQ(c.connection_timeout, 5u);
  EXPECT_EQ(c.max_header_size, 16384u);
  ASSERT_NE(c.access_rules, nullptr);
  EXPECT_EQ(c.access_rules->allowed, 0);
  EXPECT_STREQ(c.access_rules->from, "*");
  ASSERT_NE(c.access_rules->next, nullptr);
  EXPECT_EQ(c.access_rules->next->allowed, 1);
  EXPECT_STREQ(c.access_rules->next->libpath, "/b");
  EXPECT_EQ(c.min_thread, 2u);
  EXPECT_EQ(c.max_thread, 50u);
  EXPECT_EQ(log.count("MSConfig", LOG4C_WARN, "Unknown element encountered extra, skipping..."), 1);
  EXPECT_EQ(msconfig_allow_remote(), 1);
}

TEST_F(ConfigTest, EncodedCredentialsAndPortsOutOfRange) {
  const MSConfig &c = loaded("<service><listen adminUP='YWRtaW46cHc=' port='70000' ip='127.0.0.1'/></service>");
  EXPECT_STREQ(c.admin_up, "YWRtaW46cHc=");
  EXPECT_EQ(c.port, 41952u) << "not a TCP port";
  EXPECT_STREQ(c.ip, "127.0.0.1");
}

TEST_F(ConfigTest, ReadHeaderFollowsTheMimeTypeTable) {
  loaded(
      "<mimetypeList><mimetype value='video/mp4' readHeader='false' readHeaderOnline='true'/>"
      "<mimetype value='audio/x-ms-wma' readHeaderOnline='0'/><mimetype value='video/x-flv' readHeader='yes'/>"
      "<mimetype value='image/png' readHeader='no'/><mimetype value='image/png' readHeader='1'/>"
      "<type value='x'/></mimetypeList>");
  EXPECT_EQ(msconfig_read_header("video/unknown", 0), 1) << "types without an entry are read";
  EXPECT_EQ(msconfig_read_header("video/mp4", 0), 0);
  EXPECT_EQ(msconfig_read_header("Video/MP4", 1), 1);
  EXPECT_EQ(msconfig_read_header("audio/x-ms-wma", 1), 0);
  EXPECT_EQ(msconfig_read_header("audio/x-ms-wma", 0), 1) << "an absent readHeader counts as set";
  EXPECT_EQ(msconfig_read_header("video/x-flv", 1), 1) << "no online value: readHeader decides";
  EXPECT_EQ(msconfig_read_header("image/png", 0), 1) << "the last entry of a type wins";
  EXPECT_EQ(log.count("MSConfig", LOG4C_WARN, "Unknown element encountered type, skipping..."), 1);
}

TEST_F(ConfigTest, SimpleSections) {
  const MSConfig &c = loaded(
      "<i18n lang='english' default_subtitles_lang=''/><playerProfiles name='p.xml' profileID='7'/>"
      "<download ProxyHTTP='false' maxActive='3' maxBitrate='x'/>"
      "<anonUsageStats collectStats='maybe' dailyUpload='true' uploadUrlPrefix='http://127.0.0.1/'/>"
      "<somethingElse/>");
  EXPECT_STREQ(c.lang, "english");
  EXPECT_EQ(c.default_subtitles_lang, nullptr);
  EXPECT_EQ(std::string(c.player_profiles_file), dir.path() + "/p.xml");
  EXPECT_STREQ(c.profile_id, "7");
  EXPECT_EQ(c.proxy_http, 0);
  EXPECT_EQ(c.max_active, 3u);
  EXPECT_EQ(c.max_bitrate, 1048576u);
  EXPECT_EQ(c.collect_stats, 0);
  EXPECT_EQ(c.daily_upload, 1);
  EXPECT_STREQ(c.upload_url_prefix, "http://127.0.0.1/");
  EXPECT_EQ(messages_at_or_above(LOG4C_DEBUG), 0) << "unknown root children are ignored silently";
}

TEST_F(ConfigTest, RootNameIsCaseInsensitiveButMustBeConfig) {
  EXPECT_EQ(load("<Config/>"), APR_SUCCESS);
  msconfig_unload();
  EXPECT_EQ(load("<settings/>"), APR_EGENERAL);
  EXPECT_EQ(
      log.count("MSConfig", LOG4C_ERROR, "Invalid root element name, cannot parse the configuration file..."), 1);
  const MSConfig *config = reinterpret_cast<const MSConfig *>(1);
  EXPECT_EQ(msconfig_get(&config), APR_EGENERAL) << "a failed load publishes no record";
  EXPECT_EQ(config, nullptr);
}

TEST_F(ConfigTest, UnusableFilesFailToLoad) {
  std::string path = dir.file("config.xml");
  std::string parse_error = "Unable to parse the configuration file (" + path + ")";
  EXPECT_EQ(msconfig_load(pool, dir.path().c_str(), "x"), APR_EGENERAL) << "missing";
  EXPECT_EQ(log.count("MSConfig", LOG4C_ERROR, parse_error), 1);
  EXPECT_EQ(load(""), APR_EGENERAL) << "empty";
  EXPECT_EQ(load("this is not XML"), APR_EGENERAL);
  EXPECT_EQ(load("<config><a></config>"), APR_EGENERAL);
  EXPECT_EQ(log.count("MSConfig", LOG4C_ERROR, parse_error), 4);
}

TEST_F(ConfigTest, InstallationPathsAndLocking) {
  loaded("");
  const MSConfigPaths *paths = msconfig_paths();
  ASSERT_NE(paths, nullptr);
  EXPECT_EQ(std::string(paths->config_file), dir.path() + "/config.xml");
  EXPECT_EQ(std::string(paths->download_dir), dir.path() + "/data/download/");
  EXPECT_EQ(std::string(paths->logs_dir), dir.path() + "/logs/");
  EXPECT_EQ(std::string(paths->install_dir), dir.path() + "/");
  EXPECT_EQ(std::string(paths->wm_profile_files[WM_PROFILE_WMV9]), dir.path() + "/wmv9.xml");
  EXPECT_STREQ(paths->program_path, "/opt/zentoria/sharectl");
  struct utsname system;
  ASSERT_EQ(uname(&system), 0);
  EXPECT_EQ(std::string(paths->server_id), std::string("Linux/") + system.release + ", UPnP/1.0, Zentoria Media Server/2.7\r\n");

  MSConfig *writable = nullptr;
  ASSERT_EQ(msconfig_get_for_update(&writable), APR_SUCCESS);
  writable->allow_remote_connection = 1;
  EXPECT_EQ(msconfig_release(), APR_SUCCESS);
  EXPECT_EQ(msconfig_allow_remote(), 1);
}

TEST_F(ConfigTest, NothingLoadedMeansNoRecord) {
  const MSConfig *config = nullptr;
  EXPECT_EQ(msconfig_get(&config), APR_EGENERAL);
  EXPECT_EQ(log.count("MSConfig", LOG4C_ERROR, "Unable to lock mutex"), 1);
  EXPECT_EQ(msconfig_allow_remote(), 0);
  EXPECT_EQ(msconfig_read_header("video/mp4", 1), 1);
  EXPECT_EQ(msconfig_paths(), nullptr);
}

TEST_F(ConfigTest, ExampleConfigurationLoadsCleanly) {
  std::string example = read_file(std::string(ML_SOURCE_DIR) + "/etc/config.xml");
  ASSERT_FALSE(example.empty());
  ASSERT_EQ(load(example), APR_SUCCESS);
  EXPECT_EQ(messages_at_or_above(LOG4C_DEBUG), 0);
  const MSConfig *c = nullptr;
  ASSERT_EQ(msconfig_get(&c), APR_SUCCESS);
  msconfig_release();
  EXPECT_EQ(std::string(c->content_db_path), dir.path() + "/data/medialib.db");
  EXPECT_STREQ(c->lang, "english");
  EXPECT_EQ(c->max_video.bitrate, 10000000u);
  EXPECT_EQ(c->max_audio.bitrate, 320000u);
  int views = 0;
  int seeds = 0;
  for (const MSConfigView *view = c->views; view != nullptr; view = view->next) {
    ++views;
    if (*view->trigger == '\0') ++seeds;
  }
  EXPECT_EQ(views, 22);
  EXPECT_EQ(seeds, 1) << "one view files items under their system container; the others hang off it";
}

}  // namespace
