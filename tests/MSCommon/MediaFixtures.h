// What the stream-probe tests compare: everything stream_probe reports about
// one file; the media themselves are made by MediaMaker (tests/support).
#pragma once

#include <cstdint>
#include <string>

#include "MSCodecCommon.h"
#include "MediaMaker.h"

// Everything stream_probe reports about one file.
struct StreamFacts {
  VideoInfo video{};
  AudioInfo audio{};
  std::int64_t duration = 0, size = 0;
  const char *video_codec = nullptr, *audio_codec = nullptr, *title = nullptr, *author = nullptr;
  const char *copyright = nullptr, *comment = nullptr, *album = nullptr, *genre = nullptr;
  int year = 0, track = 0;
};
