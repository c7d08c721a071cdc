// The stream-probe tests' fixtures: media made at test time by MediaMaker
// (tests/support), and what stream_probe reports of them (StreamFacts).
#pragma once

#include <string>

#include "MSCodecCommon.h"
#include "MediaMaker.h"

// Every fact of a probe as one line, so that two probes compare whole.
inline std::string facts_text(const StreamFacts &p) {
  const auto text = [](const char *value) { return std::string(value ? value : "(null)"); };
  const AudioInfo &a = p.audio;
  const VideoInfo &v = p.video;
  return std::to_string(p.duration) + " " + std::to_string(p.size) + " audio " + std::to_string(a.present) + " " +
         std::to_string(a.bit_rate) + " " + std::to_string(a.sample_rate) + " " + std::to_string(a.channels) + " " +
         std::to_string(a.bits_per_sample) + " " + std::to_string(a.codec_id) + " " + text(a.language) + " " +
         text(p.audio_codec) + " video " + std::to_string(v.present) + " " + std::to_string(v.bit_rate) + " " +
         std::to_string(v.width) + "x" + std::to_string(v.height) + " " + std::to_string(v.frame_rate_num) + "/" +
         std::to_string(v.frame_rate_den) + " " + std::to_string(v.codec_id) + " " + text(v.profile) + " " +
         text(p.video_codec) + " tags " + text(p.title) + "|" + text(p.author) + "|" + text(p.album) + "|" +
         text(p.genre) + "|" + text(p.comment) + "|" + text(p.copyright) + "|" + std::to_string(p.year) + "|" +
         std::to_string(p.track);
}
