// What a probe reads from one stream: its language, its codec name and the
// facts of the audio or video record.
#include "MSCodecCommonStreams.h"

#include <apr_strings.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

#include "CommonLang.h"
#include "MSCodecCommonInternal.h"
#include "MSFFMPEGLibrary.h"

namespace {

const char *metadata(const AVDictionary *dictionary, const char *key) {
  const AVDictionaryEntry *entry = ffmpeg_loaded().dict_get(dictionary, key, nullptr, 0);
  return entry ? entry->value : nullptr;
}

bool has_prefix(const char *text, const char *prefix) {
  return strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

std::int32_t clamp_int32(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// AVI has no language field; muxers name streams "Audio - French" instead.
// ffmpeg hands the "strn" chunk on as the stream title.
const char *avi_stream_name_language(const AVStream *stream) {
  const char *name = metadata(stream->metadata, "strn");
  if (!name) name = metadata(stream->metadata, "title");
  if (!name) return nullptr;
  AVMediaType type = stream->codecpar->codec_type;
  bool named_kind = (has_prefix(name, "Audio") && type == AVMEDIA_TYPE_AUDIO) ||
                    (has_prefix(name, "Subtitle") && type == AVMEDIA_TYPE_SUBTITLE);
  if (!named_kind) return nullptr;
  const LanguageEntry *entry = lang_find_in_text(name);
  return entry ? entry->code : nullptr;
}

// The codec tag as text: four printable characters, else its number.
const char *codec_tag_name(apr_pool_t *pool, std::uint32_t tag) {
  char c[4];
  for (int i = 0; i < 4; ++i) {
    c[i] = static_cast<char>((tag >> (8 * i)) & 0xff);
    if (!std::isprint(static_cast<unsigned char>(c[i]))) return apr_psprintf(pool, "0x%04x", tag);
  }
  return apr_psprintf(pool, "%c%c%c%c", c[0], c[1], c[2], c[3]);
}

// The profile text of a video stream. Only H.264's level is kept: it is the
// one the DLNA profiles of the server read, and its number is ten times the
// level (41 is 4.1), which is not so for every codec.
const char *stream_profile(apr_pool_t *pool, const AVCodecParameters *codec) {
  const char *name = ffmpeg_loaded().profile_name(codec->codec_id, codec->profile);
  if (name == nullptr) return nullptr;
  if (codec->codec_id != AV_CODEC_ID_H264 || codec->level <= 0) return apr_pstrdup(pool, name);
  return apr_psprintf(pool, "%s@L%d.%d", name, codec->level / 10, codec->level % 10);
}

}  // namespace

const char *stream_language(apr_pool_t *pool, const AVStream *stream, const char *extension) {
  const char *language = metadata(stream->metadata, "language");
  bool unknown = !language || language[0] == '\0' || strcasecmp(language, "und") == 0;
  if (unknown && extension && (has_prefix(extension, "avi") || has_prefix(extension, "divx"))) {
    const char *found = avi_stream_name_language(stream);
    if (found) return apr_pstrndup(pool, found, 3);
  }
  return apr_pstrdup(pool, language ? language : "");
}

const char *stream_codec_name(apr_pool_t *pool, const AVStream *stream) {
  const AVCodecParameters *codec = stream->codecpar;
  std::int32_t legacy = codec_legacy_id(codec->codec_id);
  if (legacy != 0) return apr_pstrdup(pool, codec_name_by_id(legacy));
  if (codec->codec_id != AV_CODEC_ID_NONE) {
    return apr_pstrdup(pool, ffmpeg_loaded().codec_get_name(codec->codec_id));
  }
  return codec_tag_name(pool, codec->codec_tag);
}

void stream_take_audio(apr_pool_t *pool, const AVStream *stream, const char *language,
                       AudioInfo *audio, const char **codec_name) {
  const AVCodecParameters *codec = stream->codecpar;
  audio->present = 1;
  audio->bit_rate = clamp_int32(codec->bit_rate);
  audio->sample_rate = codec->sample_rate;
  audio->channels = codec->ch_layout.nb_channels;
  audio->bits_per_sample = 16;
  audio->codec_id = codec_legacy_id(codec->codec_id);
  audio->language = language;
  audio->extra = 0;
  if (codec_name) *codec_name = stream_codec_name(pool, stream);
}

void stream_take_video(apr_pool_t *pool, const AVStream *stream, VideoInfo *video,
                       const char **codec_name) {
  const AVCodecParameters *codec = stream->codecpar;
  *video = VideoInfo{};
  video->present = 1;
  video->width = codec->width;
  video->height = codec->height;
  video->bit_rate = clamp_int32(codec->bit_rate);
  video->codec_id = codec_legacy_id(codec->codec_id);
  AVRational rate = stream->avg_frame_rate;
  if (rate.num != 0 && rate.den != 0) {
    video->frame_rate_num = clamp_int32(static_cast<std::int64_t>(rate.num) * 1000 / rate.den);
    video->frame_rate_den = 1000;
  } else {
    video->frame_rate_num = stream->r_frame_rate.num;
    video->frame_rate_den = stream->r_frame_rate.den;
  }
  video->profile = stream_profile(pool, codec);
  if (codec_name) *codec_name = stream_codec_name(pool, stream);
}
