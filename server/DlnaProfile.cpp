// The DLNA media format profiles the server names, as a table.
#include "DlnaProfile.h"

#include <apr_strings.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CommonPropNames.h"

namespace {

// One profile: a file matches when its mime is the row's, each listed codec
// and its video profile is one of the row's (comma-separated lists; null:
// any), and it stays within every limit the row sets (0: none). A limit the
// file's facts cannot show (unknown bitrate, resolution, level...) is not
// met, and an H.264 row always lists its profiles, so a library that does
// not know a stream's profile names none. Rows are tried in order, narrow
// before broad. Bitrates are in bits per second, as the library stores
// them; levels in tenths.
struct ProfileRow {
  const char *mime;
  const char *video;
  const char *profiles;
  unsigned max_level;
  const char *audio;
  unsigned max_width, max_height;
  unsigned long max_bitrate;
  unsigned min_rate, max_rate;
  unsigned max_channels;
  const char *name;
};

// Constrained Baseline is a subset of Main: Main profile names take it too.
constexpr const char *kMain = "Main,Constrained Baseline";

constexpr ProfileRow kProfiles[] = {
    {"audio/mpeg", nullptr, nullptr, 0, "MP3", 0, 0, 320000, 32000, 48000, 2, "MP3"},
    {"audio/mp4", nullptr, nullptr, 0, "AAC", 0, 0, 320000, 8000, 48000, 2, "AAC_ISO_320"},
    {"audio/mp4", nullptr, nullptr, 0, "AAC", 0, 0, 576000, 8000, 48000, 2, "AAC_ISO"},
    {"audio/L16", nullptr, nullptr, 0, "PCM_S16BE", 0, 0, 0, 44100, 48000, 2, "LPCM"},
    {"image/jpeg", nullptr, nullptr, 0, nullptr, 160, 160, 0, 0, 0, 0, "JPEG_TN"},
    {"image/jpeg", nullptr, nullptr, 0, nullptr, 640, 480, 0, 0, 0, 0, "JPEG_SM"},
    {"image/jpeg", nullptr, nullptr, 0, nullptr, 1024, 768, 0, 0, 0, 0, "JPEG_MED"},
    {"image/jpeg", nullptr, nullptr, 0, nullptr, 4096, 4096, 0, 0, 0, 0, "JPEG_LRG"},
    {"image/png", nullptr, nullptr, 0, nullptr, 160, 160, 0, 0, 0, 0, "PNG_TN"},
    {"image/png", nullptr, nullptr, 0, nullptr, 4096, 4096, 0, 0, 0, 0, "PNG_LRG"},
    {"video/mp4", "H264", "Constrained Baseline", 30, "AAC", 720, 576, 4500000, 0, 48000, 2, "AVC_MP4_BL_L3L_SD_AAC"},
    {"video/mp4", "H264", "Baseline", 30, "AAC", 720, 576, 4000000, 0, 48000, 2, "AVC_MP4_BL_L3_SD_AAC"},
    {"video/mp4", "H264", kMain, 30, "AAC", 720, 576, 10000000, 0, 48000, 6, "AVC_MP4_MP_SD_AAC_MULT5"},
    {"video/mp4", "H264", kMain, 30, "MP3", 720, 576, 10000000, 0, 48000, 2, "AVC_MP4_MP_SD_MPEG1_L3"},
    {"video/mp4", "H264", kMain, 30, "AC3", 720, 576, 10000000, 0, 48000, 6, "AVC_MP4_MP_SD_AC3"},
    {"video/mp4", "H264", kMain, 31, "AAC", 1280, 720, 14000000, 0, 48000, 6, "AVC_MP4_MP_HD_720p_AAC"},
    {"video/mp4", "H264", kMain, 40, "AAC", 1920, 1080, 20000000, 0, 48000, 6, "AVC_MP4_MP_HD_1080i_AAC"},
    {"video/mp4", "H264", "High", 40, "AAC", 1920, 1080, 20000000, 0, 48000, 6, "AVC_MP4_HP_HD_AAC"},
    {"video/x-matroska", "H264", "Main", 40, "AAC", 1920, 1080, 20000000, 0, 48000, 6, "AVC_MKV_MP_HD_AAC_MULT5"},
    {"video/x-matroska", "H264", "Main", 40, "AC3", 1920, 1080, 20000000, 0, 48000, 6, "AVC_MKV_MP_HD_AC3"},
    {"video/x-matroska", "H264", "Main", 40, "MP3", 1920, 1080, 20000000, 0, 48000, 2, "AVC_MKV_MP_HD_MPEG1_L3"},
    {"video/x-matroska", "H264", "High", 40, "AAC", 1920, 1080, 30000000, 0, 48000, 6, "AVC_MKV_HP_HD_AAC_MULT5"},
    {"video/x-matroska", "H264", "High", 40, "AC3", 1920, 1080, 30000000, 0, 48000, 6, "AVC_MKV_HP_HD_AC3"},
    {"video/x-matroska", "H264", "High", 40, "MP3", 1920, 1080, 30000000, 0, 48000, 2, "AVC_MKV_HP_HD_MPEG1_L3"},
    {"video/mp2t", "H264", kMain, 30, "AAC", 720, 576, 0, 0, 48000, 6, "AVC_TS_MP_SD_AAC_MULT5_ISO"},
    {"video/mp2t", "H264", kMain, 30, "AC3", 720, 576, 0, 0, 48000, 6, "AVC_TS_MP_SD_AC3_ISO"},
    {"video/mp2t", "H264", kMain, 40, "AAC", 1920, 1080, 0, 0, 48000, 6, "AVC_TS_MP_HD_AAC_MULT5_ISO"},
    {"video/mp2t", "H264", kMain, 40, "AC3", 1920, 1080, 0, 0, 48000, 6, "AVC_TS_MP_HD_AC3_ISO"},
    {"video/mp2t", "MPEG2VIDEO", nullptr, 0, "AC3", 720, 480, 0, 0, 48000, 6, "MPEG_TS_SD_NA_ISO"},
    {"video/mp2t", "MPEG2VIDEO", nullptr, 0, "MP2,AC3", 720, 576, 0, 0, 48000, 6, "MPEG_TS_SD_EU_ISO"},
    {"video/mp2t", "MPEG2VIDEO", nullptr, 0, "AC3", 1920, 1080, 0, 0, 48000, 6, "MPEG_TS_HD_NA_ISO"},
    {"video/mpeg", "MPEG2VIDEO", nullptr, 0, "MP2,AC3,PCM_DVD", 720, 480, 0, 0, 48000, 6, "MPEG_PS_NTSC"},
    {"video/mpeg", "MPEG2VIDEO", nullptr, 0, "MP2,AC3,PCM_DVD", 720, 576, 0, 0, 48000, 6, "MPEG_PS_PAL"},
};

// DLNA.ORG_FLAGS bits (the first 32 of 128): DLNA 1.5, background and
// streaming or interactive transfer.
constexpr unsigned long kFlagDlna15 = 1ul << 20;
constexpr unsigned long kFlagBackground = 1ul << 22;
constexpr unsigned long kFlagInteractive = 1ul << 23;
constexpr unsigned long kFlagStreaming = 1ul << 24;

bool listed(const char *list, const char *codec) {
  if (list == nullptr) return true;
  if (codec == nullptr) return false;
  const std::size_t length = std::strlen(codec);
  for (const char *at = list; *at != '\0';) {
    const char *comma = std::strchr(at, ',');
    const std::size_t n = comma != nullptr ? static_cast<std::size_t>(comma - at) : std::strlen(at);
    if (n == length && strncasecmp(at, codec, n) == 0) return true;
    at += n + (comma != nullptr ? 1 : 0);
  }
  return false;
}

bool within(unsigned long value, unsigned long limit) { return limit == 0 || (value > 0 && value <= limit); }

bool matches(const ProfileRow &row, const DlnaStreams &s) {
  if (s.mime == nullptr || strcasecmp(row.mime, s.mime) != 0) return false;
  if (!listed(row.video, s.video_codec) || !listed(row.audio, s.audio_codec)) return false;
  if (!listed(row.profiles, s.video_profile) || !within(s.video_level, row.max_level)) return false;
  if (!within(s.width, row.max_width) || !within(s.height, row.max_height)) return false;
  if (!within(s.bitrate, row.max_bitrate) || !within(s.channels, row.max_channels)) return false;
  if (!within(s.sample_rate, row.max_rate) || s.sample_rate < row.min_rate) return false;
  return true;
}

unsigned long number(apr_pool_t *pool, PropList *list, int slot, int n) {
  const char *text = prop_get(pool, list, slot, n);
  return text != nullptr ? std::strtoul(text, nullptr, 10) : 0;
}

// The library's profile text: the name, then "@L" and the level ("High@L4.1").
void read_profile(apr_pool_t *pool, const char *text, DlnaStreams *s) {
  const char *at = text != nullptr ? std::strstr(text, "@L") : nullptr;
  s->video_profile = at != nullptr ? apr_pstrndup(pool, text, static_cast<apr_size_t>(at - text)) : text;
  unsigned whole = 0, tenth = 0;
  if (at != nullptr && std::sscanf(at + 2, "%u.%u", &whole, &tenth) == 2 && tenth < 10) s->video_level = whole * 10 + tenth;
}

}  // namespace

const char *dlna_protocol_mime(apr_pool_t *pool, const char *protocol_info) {
  if (protocol_info == nullptr) return nullptr;
  const char *first = std::strchr(protocol_info, ':');
  const char *second = first != nullptr ? std::strchr(first + 1, ':') : nullptr;
  const char *third = second != nullptr ? std::strchr(second + 1, ':') : nullptr;
  if (third == nullptr) return nullptr;
  return apr_pstrndup(pool, second + 1, static_cast<apr_size_t>(third - second - 1));
}

DlnaStreams dlna_streams(apr_pool_t *pool, PropList *list, int n) {
  DlnaStreams s{};
  s.mime = dlna_protocol_mime(pool, prop_get(pool, list, PROP_RES_PROTOCOL_INFO, n));
  s.video_codec = prop_get(pool, list, PROP_RES_VIDEO_CODEC, n);
  s.audio_codec = prop_get(pool, list, PROP_RES_AUDIO_CODEC, n);
  read_profile(pool, prop_get(pool, list, PROP_RES_VIDEO_PROFILE, n), &s);
  const char *resolution = prop_get(pool, list, PROP_RES_RESOLUTION, n);
  if (resolution == nullptr || std::sscanf(resolution, "%ux%u", &s.width, &s.height) != 2) s.width = s.height = 0;
  s.bitrate = number(pool, list, PROP_RES_BITRATE, n);
  s.sample_rate = static_cast<unsigned>(number(pool, list, PROP_RES_SAMPLE_FREQUENCY, n));
  s.channels = static_cast<unsigned>(number(pool, list, PROP_RES_NR_AUDIO_CHANNELS, n));
  return s;
}

const char *dlna_profile_name(const DlnaStreams &streams) {
  for (const ProfileRow &row : kProfiles) {
    if (matches(row, streams)) return row.name;
  }
  return nullptr;
}

bool dlna_is_streamed(const char *mime) {
  return mime != nullptr && (strncasecmp(mime, "audio/", 6) == 0 || strncasecmp(mime, "video/", 6) == 0);
}

const char *dlna_fourth_field(apr_pool_t *pool, const char *mime, const char *name) {
  const unsigned long flags =
      kFlagDlna15 | kFlagBackground | (dlna_is_streamed(mime) ? kFlagStreaming : kFlagInteractive);
  return apr_psprintf(pool, "%s%s%sDLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=%08lx%024d",
                      name != nullptr ? "DLNA.ORG_PN=" : "", name != nullptr ? name : "", name != nullptr ? ";" : "",
                      flags, 0);
}

const char *dlna_protocol_info(apr_pool_t *pool, const char *protocol_info, const char *mime, const char *fourth) {
  const char *old_mime = dlna_protocol_mime(pool, protocol_info);
  if (old_mime == nullptr) return nullptr;
  const char *second = std::strchr(std::strchr(protocol_info, ':') + 1, ':');
  return apr_pstrcat(pool, apr_pstrndup(pool, protocol_info, static_cast<apr_size_t>(second - protocol_info + 1)),
                     mime != nullptr ? mime : old_mime, ":", fourth, nullptr);
}
