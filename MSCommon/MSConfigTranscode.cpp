// The transcode section: when and how to transcode, and the bounds of the
// video, audio and image formats the server produces.
#include <strings.h>

#include "Common.h"
#include "CommonXML.h"
#include "MSConfigRead.h"
#include "log4c.h"

namespace {

// Each transcode attribute that is missing or invalid is reported and takes
// its default.
int enum_or_default(const apr_xml_elem *elem, const char *name, const char *const *table, int count, int fallback) {
  int index = str_index_of(xml_attr_get(elem, name), table, count, -1);
  if (index > 0) return index;
  config_invalid_attribute(name, elem, LOG4C_ERROR);
  return fallback;
}

int speed_or_default(const apr_xml_elem *elem, const char *name, int fallback) {
  const char *value = xml_attr_get(elem, name);
  for (int index = 1; value != nullptr && index < static_cast<int>(MSCONFIG_SPEEDS.size()); ++index) {
    if (strcasecmp(value, MSCONFIG_SPEEDS[index].name) == 0) return index;
  }
  config_invalid_attribute(name, elem, LOG4C_ERROR);
  return fallback;
}

int bool_or_default(const apr_xml_elem *elem, const char *name, int fallback) {
  int value = fallback;
  if (!config_attr_bool(elem, name, &value)) config_invalid_attribute(name, elem, LOG4C_ERROR);
  return value;
}

unsigned int uint_or_default(const apr_xml_elem *elem, const char *name, unsigned int fallback,
                             int level = LOG4C_ERROR) {
  unsigned int value = fallback;
  if (!config_attr_uint(elem, name, &value)) config_invalid_attribute(name, elem, level);
  return value;
}

// A bound element may give any of its attributes; a present attribute that
// is not a non-negative integer makes the element fail.
bool read_bound(const apr_xml_elem *elem, const char *name, unsigned int *out) {
  return xml_attr_get(elem, name) == nullptr || config_attr_uint(elem, name, out);
}

bool read_video(const apr_xml_elem *elem, MSConfigVideoLimits &limits) {
  bool ok = read_bound(elem, "width", &limits.width);
  ok = read_bound(elem, "height", &limits.height) && ok;
  ok = read_bound(elem, "bitrate", &limits.bitrate) && ok;
  return read_bound(elem, "fps", &limits.fps) && ok;
}

bool read_audio(const apr_xml_elem *elem, MSConfigAudioLimits &limits) {
  bool ok = read_bound(elem, "sampleRate", &limits.sample_rate);
  ok = read_bound(elem, "bitrate", &limits.bitrate) && ok;
  ok = read_bound(elem, "bitsperSample", &limits.bits_per_sample) && ok;
  return read_bound(elem, "nchannels", &limits.nchannels) && ok;
}

bool read_image(const apr_xml_elem *elem, MSConfigImageLimits &limits) {
  bool ok = read_bound(elem, "width", &limits.width);
  return read_bound(elem, "height", &limits.height) && ok;
}

// Names as the configuration documents them: the report uses these rather
// than the element's own spelling, which may differ in case.
constexpr char kMaxVideoInfo[] = "maxVideoInfo";
constexpr char kMinVideoInfo[] = "minVideoInfo";
constexpr char kMaxAudioInfo[] = "maxAudioInfo";
constexpr char kMinAudioInfo[] = "minAudioInfo";
constexpr char kMaxImageInfo[] = "maxImageInfo";
constexpr char kMinImageInfo[] = "minImageInfo";

void report_bound(const char *name, bool ok) {
  if (!ok) {
    LOG4C(kConfigModule, LOG4C_ERROR,
          log4c_sprintf("There were errors extracting %s from the configuration file", name));
  }
}

constexpr MSConfigChildHandler kBounds[] = {
    {kMaxVideoInfo,
     [](MSConfigLoader &l, const apr_xml_elem *e) { report_bound(kMaxVideoInfo, read_video(e, l.config->max_video)); }},
    {kMinVideoInfo,
     [](MSConfigLoader &l, const apr_xml_elem *e) { report_bound(kMinVideoInfo, read_video(e, l.config->min_video)); }},
    {kMaxAudioInfo,
     [](MSConfigLoader &l, const apr_xml_elem *e) { report_bound(kMaxAudioInfo, read_audio(e, l.config->max_audio)); }},
    {kMinAudioInfo,
     [](MSConfigLoader &l, const apr_xml_elem *e) { report_bound(kMinAudioInfo, read_audio(e, l.config->min_audio)); }},
    {kMaxImageInfo,
     [](MSConfigLoader &l, const apr_xml_elem *e) { report_bound(kMaxImageInfo, read_image(e, l.config->max_image)); }},
    {kMinImageInfo,
     [](MSConfigLoader &l, const apr_xml_elem *e) { report_bound(kMinImageInfo, read_image(e, l.config->min_image)); }},
};

template <typename Table>
int table_size(const Table &table) {
  return static_cast<int>(table.size());
}

}  // namespace

void config_read_transcode(MSConfigLoader &loader, const apr_xml_elem *elem) {
  MSConfig &c = *loader.config;
  c.transcode_when = enum_or_default(elem, "when", MSCONFIG_TRANSCODE_WHEN_NAMES.data(),
                                     table_size(MSCONFIG_TRANSCODE_WHEN_NAMES), TRANSCODE_PPROFILE);
  c.optimize = enum_or_default(elem, "optimize", MSCONFIG_OPTIMIZE_NAMES.data(), table_size(MSCONFIG_OPTIMIZE_NAMES),
                               OPTIMIZE_QUALITY);
  c.connection_speed = speed_or_default(elem, "connectionSpeed", 1);
  c.downsample_for_connection_speed = bool_or_default(elem, "downsampleForConnectionSpeed", 0);
  c.audio_compression_ratio = uint_or_default(elem, "audioCompressionRatio", 8);
  c.video_compression_ratio = uint_or_default(elem, "videoCompressionRatio", 24);
  c.disable_decoding_clock = bool_or_default(elem, "disableDecodingClock", 1);
  c.wm_profile = enum_or_default(elem, "wmProfile", MSCONFIG_WM_PROFILE_NAMES.data(),
                                 table_size(MSCONFIG_WM_PROFILE_NAMES), WM_PROFILE_WMV8);
  c.wm_encode_dshow = bool_or_default(elem, "wmEncodeDShow", 1);
  c.aud_cap_drift_comp_thresh = uint_or_default(elem, "audCapDriftCompThresh", 0, LOG4C_DEBUG);
  c.aud_cap_stereo_mix = bool_or_default(elem, "audCapStereoMix", 0);
  config_visit_children(loader, elem, kBounds);
}
