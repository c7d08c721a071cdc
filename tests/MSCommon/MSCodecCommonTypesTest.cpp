// The type table look-ups and the legacy codec names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "CommonMultimedia.h"
#include "MSCodecCommon.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

// Look-ups compare lower case without a dot, so a row written otherwise
// could never be found; every row names a full mime type.
TEST(MediaTypeTable, HasDefaultRowFirstAndEveryRowCanBeFound) {
  EXPECT_EQ(MEDIA_TYPE_TABLE[0].media_class, MEDIA_UNKNOWN);
  EXPECT_EQ(MEDIA_TYPE_TABLE[0].extension, nullptr);
  EXPECT_STREQ(MEDIA_TYPE_TABLE[0].mime_type, "application/octet-stream");
  for (int row = 1; row < MEDIA_TYPE_COUNT; ++row) {
    std::string extension = MEDIA_TYPE_TABLE[row].extension;
    for (char c : extension) EXPECT_FALSE(c >= 'A' && c <= 'Z') << extension;
    EXPECT_EQ(extension.find('.'), std::string::npos);
    EXPECT_NE(std::strchr(MEDIA_TYPE_TABLE[row].mime_type, '/'), nullptr) << extension;
    EXPECT_NE(media_type_by_extension(extension.c_str(), -1), &MEDIA_TYPE_TABLE[0]) << extension;
  }
}

TEST(MediaTypeByExtension, IgnoresCaseAndTakesTheFirstRow) {
  for (const char *key : {"mp3", "MP3", "Mp3", "mP3"}) {
    const MediaTypeEntry *row = media_type_by_extension(key, -1);
    EXPECT_EQ(row->media_class, MEDIA_AUDIO) << key;
    EXPECT_STREQ(row->mime_type, "audio/mpeg") << key;
  }
  EXPECT_STREQ(media_type_by_extension("m4a", -1)->mime_type, "audio/mp4");
  EXPECT_STREQ(media_type_by_extension("mpg", -1)->mime_type, "video/mpeg");
  EXPECT_EQ(media_type_by_extension("asf", -1)->media_class, MEDIA_AUDIO_OR_VIDEO);
  EXPECT_EQ(media_type_by_extension("jpg", -1)->media_class, MEDIA_IMAGE);
  EXPECT_EQ(media_type_by_extension("dvr-ms", -1)->media_class, MEDIA_VIDEO);
}

TEST(MediaTypeByExtension, UnknownPartialOrNullKeysGiveTheDefaultRow) {
  EXPECT_EQ(media_type_by_extension("mp", -1), &MEDIA_TYPE_TABLE[0]);
  EXPECT_EQ(media_type_by_extension("mp3x", -1), &MEDIA_TYPE_TABLE[0]);
  EXPECT_EQ(media_type_by_extension("xyz", -1), &MEDIA_TYPE_TABLE[0]);
  EXPECT_EQ(media_type_by_extension("", -1), &MEDIA_TYPE_TABLE[0]);
  EXPECT_EQ(media_type_by_extension(nullptr, -1), &MEDIA_TYPE_TABLE[0]);
}

TEST(MediaTypeByExtension, LengthLimitsTheKey) {
  EXPECT_STREQ(media_type_by_extension("mp3?x=1", 3)->mime_type, "audio/mpeg");
  // Only the given characters count, whatever follows them.
  EXPECT_EQ(media_type_by_extension("mp3", 2), &MEDIA_TYPE_TABLE[0]);
}

TEST(MediaTypeByMime, FindsTheExtensionOfTheFirstRow) {
  EXPECT_STREQ(media_type_by_mime("audio/x-aac", -1)->extension, "m4a");
  EXPECT_STREQ(media_type_by_mime("video/mpeg", -1)->extension, "mpg");
  EXPECT_STREQ(media_type_by_mime("AUDIO/MPEG", -1)->extension, "mp3");
  EXPECT_EQ(media_type_by_mime("text/xml", -1)->media_class, MEDIA_METAFILE);
  EXPECT_EQ(media_type_by_mime("application/xml", -1)->media_class, MEDIA_METAFILE);
  EXPECT_EQ(media_type_by_mime(nullptr, -1), &MEDIA_TYPE_TABLE[0]);
}

TEST(MediaTypeByMime, IgnoresParametersButNotTruncation) {
  EXPECT_STREQ(media_type_by_mime("audio/mpeg;charset=utf-8", -1)->extension, "mp3");
  EXPECT_STREQ(media_type_by_mime("audio/mpeg; bitrate=128", -1)->extension, "mp3");
  EXPECT_EQ(media_type_by_mime("audio/mpe", -1), &MEDIA_TYPE_TABLE[0]);
  // A ';' beyond the given length does not shorten the key.
  EXPECT_EQ(media_type_by_mime("audio/mpe;x", 9), &MEDIA_TYPE_TABLE[0]);
}

TEST(CodecNameById, NamesTheLegacyIds) {
  EXPECT_STREQ(codec_name_by_id(0x15001), "MP3");
  EXPECT_STREQ(codec_name_by_id(0x1502B), "EAC3");
  EXPECT_STREQ(codec_name_by_id(0x10008), "S32LE");
  EXPECT_STREQ(codec_name_by_id(0x20000), "MPEG2TS");
  EXPECT_STREQ(codec_name_by_id(0x1), "MPEG1VIDEO");
  EXPECT_STREQ(codec_name_by_id(0x92), "VP8");
  EXPECT_STREQ(codec_name_by_id(0x17007), "DVB_TELETEXT");
}

TEST(CodecNameById, HasNoNameForIdZeroOrPastARange) {
  EXPECT_EQ(codec_name_by_id(0), nullptr);
  EXPECT_EQ(codec_name_by_id(0x93), nullptr);
  EXPECT_EQ(codec_name_by_id(0x15034), nullptr);
  EXPECT_EQ(codec_name_by_id(0x20001), nullptr);
  EXPECT_EQ(codec_name_by_id(-1), nullptr);
}

TEST(CodecLegacyId, MapsCurrentCodecsByName) {
  EXPECT_EQ(codec_legacy_id(AV_CODEC_ID_MP3), CODEC_ID_MP3);
  EXPECT_EQ(codec_legacy_id(AV_CODEC_ID_AC3), CODEC_ID_AC3);
  EXPECT_EQ(codec_legacy_id(AV_CODEC_ID_EAC3), CODEC_ID_EAC3);
  EXPECT_EQ(codec_legacy_id(AV_CODEC_ID_MP1), CODEC_ID_MP1);
  EXPECT_EQ(codec_legacy_id(AV_CODEC_ID_PCM_S32LE), 0x10008);
  EXPECT_EQ(codec_legacy_id(AV_CODEC_ID_INTERPLAY_VIDEO), 0x28);
  EXPECT_EQ(codec_legacy_id(AV_CODEC_ID_MPEG2TS), 0x20000);
  EXPECT_STREQ(codec_name_by_id(codec_legacy_id(AV_CODEC_ID_H264)), "H264");
  EXPECT_STREQ(codec_name_by_id(codec_legacy_id(AV_CODEC_ID_WMAV2)), "WMAV2");
  EXPECT_EQ(codec_legacy_id(AV_CODEC_ID_HEVC), 0);
  EXPECT_EQ(codec_legacy_id(AV_CODEC_ID_NONE), 0);
}

}  // namespace
