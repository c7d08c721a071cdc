// The H.264 rows of the DLNA profile table, by the profile and level the
// library stores: a stream whose profile is unknown (a library made before
// profiles were stored) or not in the table is sent without a name.
#include <gtest/gtest.h>

#include "DlnaProfile.h"

namespace {

struct Case {
  const char *mime, *profile;
  unsigned level, width, height;
  const char *expected;  // null: no name
};

TEST(DlnaProfile, H264RowsFollowTheStoredProfileAndLevel) {
  const Case cases[] = {
      {"video/mp4", nullptr, 0, 720, 576, nullptr},
      {"video/mp4", "Main", 0, 720, 576, nullptr},
      {"video/mp4", "Main", 30, 720, 576, "AVC_MP4_MP_SD_AAC_MULT5"},
      {"video/mp4", "Main", 42, 1920, 1080, nullptr},
      {"video/mp4", "High", 40, 720, 576, "AVC_MP4_HP_HD_AAC"},
      {"video/mp4", "High", 41, 1920, 1080, nullptr},
      {"video/mp4", "High 10", 40, 1920, 1080, nullptr},
      {"video/mp4", "Constrained Baseline", 30, 640, 480, "AVC_MP4_BL_L3L_SD_AAC"},
      {"video/mp4", "Constrained Baseline", 31, 1280, 720, "AVC_MP4_MP_HD_720p_AAC"},
      {"video/mp4", "Baseline", 30, 640, 480, "AVC_MP4_BL_L3_SD_AAC"},
      {"video/x-matroska", "High", 40, 1920, 1080, "AVC_MKV_HP_HD_AAC_MULT5"},
      {"video/x-matroska", "Constrained Baseline", 30, 720, 576, nullptr},
      {"video/mp2t", "High", 40, 1920, 1080, nullptr},
  };
  for (const Case &c : cases) {
    DlnaStreams s{};
    s.mime = c.mime;
    s.video_codec = "H264";
    s.audio_codec = "AAC";
    s.video_profile = c.profile;
    s.video_level = c.level;
    s.width = c.width;
    s.height = c.height;
    s.bitrate = 1000000;
    s.sample_rate = 48000;
    s.channels = 2;
    const char *name = dlna_profile_name(s);
    EXPECT_STREQ(name, c.expected) << c.mime << " " << (c.profile ? c.profile : "(unknown)") << " " << c.level;
  }
}

}  // namespace
