// Media made at test time with the ffmpeg and ImageMagick programs, in a
// folder that lives as long as the test suite.
#pragma once

#include <cstdint>
#include <string>

#include "MSCodecCommon.h"

// Everything stream_probe reports about one file.
struct StreamFacts {
  VideoInfo video{};
  AudioInfo audio{};
  std::int64_t duration = 0, size = 0;
  const char *video_codec = nullptr, *audio_codec = nullptr, *title = nullptr, *author = nullptr;
  const char *copyright = nullptr, *comment = nullptr, *album = nullptr, *genre = nullptr;
  int year = 0, track = 0;
};

// Runs ffmpeg quietly with args (sources and encoders), writing out; returns
// the path of out inside folder, or "" when ffmpeg failed.
std::string make_media(const std::string &folder, const std::string &out, const std::string &args);

// Runs ImageMagick's convert with args, writing out inside folder; returns the
// path, or "" when convert failed.
std::string make_image(const std::string &folder, const std::string &out, const std::string &args);

// Copies a file; false when it cannot be read or written.
bool copy_file(const std::string &from, const std::string &to);
