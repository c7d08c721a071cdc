// MSCodecCommon: stream probing of audio and video files, and the legacy codec
// name table by which the library stores codecs.
//
// stream_probe opens a file through MSFFMPEG (ffmpeg_init must have run),
// reports its duration, size, video stream, best audio stream and container
// tags; strings live in the caller's pool. Each probe keeps its own clock for
// the 5-second interrupt, so probes may run on several threads at once.
// codec_name_by_id is constant and thread-safe.
#pragma once

#include <apr_pools.h>

#include <cstdint>

#include "MSFFMPEG.h"

// Codec ids are those of the legacy table below (0x15001 is MP3), whatever the
// numbering of the ffmpeg release in use.
inline constexpr std::int32_t CODEC_ID_MP2 = 0x15000;
inline constexpr std::int32_t CODEC_ID_MP3 = 0x15001;
inline constexpr std::int32_t CODEC_ID_AAC = 0x15002;
inline constexpr std::int32_t CODEC_ID_AC3 = 0x15003;
inline constexpr std::int32_t CODEC_ID_DTS = 0x15004;
inline constexpr std::int32_t CODEC_ID_EAC3 = 0x1502B;
inline constexpr std::int32_t CODEC_ID_MP1 = 0x1502D;

struct VideoInfo {
  std::int32_t present;   // 1 when a video stream was found
  std::int32_t bit_rate;  // bits per second, 0 when unknown
  std::int32_t width;
  std::int32_t height;
  std::int32_t frame_rate_num;  // 0 when unknown
  std::int32_t frame_rate_den;
  std::int32_t geometry[5];  // always 0
  std::int32_t codec_id;
  std::int32_t extra;  // always 0
  // The codec's profile as ffmpeg names it, with the level for H.264
  // ("High@L4.1", "Constrained Baseline@L3.0"); null when unknown.
  const char *profile;
};

struct AudioInfo {
  std::int32_t present;  // 1 when an audio stream was chosen
  std::int32_t bit_rate;
  std::int32_t sample_rate;
  std::int32_t channels;
  std::int32_t bits_per_sample;  // always 16
  const char *language;          // three-letter code in the pool, may be ""
  std::int32_t codec_id;
  std::int32_t extra;  // always 0
};

// The name of a legacy codec id ("MP3" for 0x15001), static; null for id 0 and
// for an id past the end of its range.
const char *codec_name_by_id(std::int32_t codec_id);

// The legacy id of an ffmpeg codec, found by name; 0 when the legacy table
// has no such codec.
std::int32_t codec_legacy_id(int av_codec_id);

// Everything stream_probe reports about one file: the chosen streams, the
// duration in microseconds (-1 when unknown), the size and the container's
// tags; texts live in the probe's pool and are "" when absent.
struct StreamFacts {
  VideoInfo video{};
  AudioInfo audio{};
  std::int64_t duration = 0, size = 0;
  const char *video_codec = nullptr, *audio_codec = nullptr, *title = nullptr, *author = nullptr;
  const char *copyright = nullptr, *comment = nullptr, *album = nullptr, *genre = nullptr;
  int year = 0, track = 0;
};

// Probes path ("wv" and "mp3" files are read as MP3 whatever their content
// looks like) into *facts, cleared first; only the stream records are
// filled when the probe fails. Returns 0; 4 when cancel (polled by the reads
// of an HTTP input, once the streams are read and after a failure) returns
// non-zero; 20014 when the file cannot be opened or its streams cannot be
// read within 5 seconds, after ERROR "Could not open media file %s, codec
// parameters will not be read" or "Could not find codec parameters for media
// file %s".
int stream_probe(apr_pool_t *pool, const char *path, StreamFacts *facts, CancelCheck cancel = nullptr,
                 void *cancel_context = nullptr);
// Whether every probe analyses the streams, even of files whose header says
// all (a single audio stream of FLAC or Ogg); off unless set. Internal: the
// tests compare both readings. Not thread-safe: set it before probing.
void stream_probe_always_analyse(bool on);
