// Audio stream preference and the bit-rate and frame-rate arithmetic.
#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>

extern "C" {
#include <libavutil/avutil.h>
}

#include "CommonLang.h"
#include "MSCodecCommonInternal.h"

namespace {

// Codecs a player most likely passes through untouched come first.
constexpr std::int32_t kCodecPreference[] = {CODEC_ID_AC3, CODEC_ID_AAC, CODEC_ID_MP2,
                                             CODEC_ID_MP1, CODEC_ID_MP3, CODEC_ID_EAC3,
                                             CODEC_ID_DTS};
constexpr int kUnranked = 99;
constexpr int kLanguageStep = 100;

constexpr std::int64_t kMaxDuration = 36000000000LL;  // 10 hours in microseconds
constexpr std::int64_t kMaxVideoBitRate = 20000000;
constexpr int kMaxFrameRate = 60;

struct Ranks {
  int taken;
  int candidate;
};

Ranks codec_ranks(std::int32_t candidate, std::int32_t taken) {
  Ranks ranks{kUnranked, kUnranked};
  int position = 0;
  for (std::int32_t codec : kCodecPreference) {
    if (codec == taken) {
      if (ranks.taken == kUnranked) ranks.taken = position;
    } else if (codec == candidate) {
      if (ranks.candidate == kUnranked) ranks.candidate = position;
    }
    ++position;
  }
  return ranks;
}

bool same_language(const char *preferred, const char *language) {
  return language && strncasecmp(preferred, language, 3) == 0 && language[3] == '\0';
}

Ranks language_ranks(const char *candidate, const char *taken) {
  // The current user-interface language, then English.
  char current[4] = "";
  const LanguageEntry *entry = lang_current_entry();
  if (entry) {
    std::snprintf(current, sizeof current, "%.3s", entry->code);
  }
  const char *preference[] = {current, "eng"};
  constexpr int unranked = kUnranked * kLanguageStep;
  Ranks ranks{unranked, unranked};
  int position = 0;
  for (const char *language : preference) {
    if (language[0] == '\0') continue;
    // With English as the interface language "eng" is listed twice; a
    // stream keeps its best place.
    if (same_language(language, taken)) {
      if (ranks.taken == unranked) ranks.taken = position;
    } else if (same_language(language, candidate)) {
      if (ranks.candidate == unranked) ranks.candidate = position;
    }
    position += kLanguageStep;
  }
  return ranks;
}

}  // namespace

bool audio_stream_beats(std::int32_t codec, const char *language, std::int32_t taken_codec,
                        const char *taken_language) {
  Ranks codecs = codec_ranks(codec, taken_codec);
  Ranks languages = language_ranks(language, taken_language);
  return codecs.candidate + languages.candidate < codecs.taken + languages.taken;
}

void stream_rates_settle(std::int64_t *duration, std::int64_t file_size,
                         std::int64_t container_bit_rate, VideoInfo *video,
                         const AudioInfo *audio) {
  bool known = *duration != AV_NOPTS_VALUE && *duration > 0 && *duration < kMaxDuration;
  std::int64_t audio_bit_rate = audio->present ? audio->bit_rate : 0;
  if (!known) {
    *duration = -1;
    if (video->bit_rate > kMaxVideoBitRate) video->bit_rate = 0;
  } else if (file_size > 0) {
    std::int64_t derived = file_size * 1000000 / *duration * 8 - audio_bit_rate;
    // A tiny duration over a large file must not wrap the 32-bit rate.
    if (derived > 0) {
      video->bit_rate = static_cast<std::int32_t>(
          std::min<std::int64_t>(derived, std::numeric_limits<std::int32_t>::max()));
    }
  } else if (video->bit_rate > kMaxVideoBitRate) {
    video->bit_rate = 0;
  }
  if (video->bit_rate == 0 && container_bit_rate >= 1 && container_bit_rate < kMaxVideoBitRate) {
    std::int64_t rest = container_bit_rate - audio_bit_rate;
    video->bit_rate = static_cast<std::int32_t>(rest < 1 ? container_bit_rate : rest);
  }
  if (video->frame_rate_den == 0) video->frame_rate_den = 1;
  if (video->frame_rate_num / video->frame_rate_den > kMaxFrameRate) video->frame_rate_num = 0;
}
