// The per-stream steps of stream_probe. Strings are allocated in pool.
#pragma once

#include <apr_pools.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include "MSCodecCommon.h"

// The stream's language code; for an AVI ("avi*" or "divx*" extension) stream
// without one, the language its stream name ("Audio - French") names.
const char *stream_language(apr_pool_t *pool, const AVStream *stream, const char *extension);
// The legacy name of the stream's codec, ffmpeg's name for a codec the legacy
// table lacks, else the codec tag.
const char *stream_codec_name(apr_pool_t *pool, const AVStream *stream);
// Fill the audio or video record (and the codec name when wanted) from stream.
void stream_take_audio(apr_pool_t *pool, const AVStream *stream, const char *language,
                       AudioInfo *audio, const char **codec_name);
void stream_take_video(apr_pool_t *pool, const AVStream *stream, VideoInfo *video,
                       const char **codec_name);
