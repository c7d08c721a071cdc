// The rules of stream probing that do not need a file, shared by the probe's
// sources (and their tests).
#pragma once

#include <cstddef>
#include <cstdint>

#include "MSCodecCommon.h"

inline constexpr const char *CODEC_MODULE = "MSCodecCommon";

// The facts of a file whose streams were not read: cleared whole, since the
// rate arithmetic reads the records even when no stream of a kind is found.
inline void stream_facts_clear(StreamFacts *facts) {
  *facts = StreamFacts{};
  facts->audio.language = "";
}

// True when an audio stream (codec, language) beats the one taken so far:
// codec rank (AC3, AAC, MP2, MP1, MP3, EAC3, DTS; else 99) plus language rank
// (100 per place in the current user-interface language then "eng"; else
// 9900) strictly lower. At equal language only the taken stream is ranked,
// so a candidate never wins on codec alone.
bool audio_stream_beats(std::int32_t codec, const char *language, std::int32_t taken_codec,
                        const char *taken_language);

// Settles the duration and the video bit rate from the container's figures:
// a duration that is not positive, is ffmpeg's no-value marker or reaches
// 10 hours becomes -1; the video bit rate is derived from the file size and
// the duration, or the container bit rate, less the audio bit rate; the frame
// rate gets a non-zero denominator and loses a numerator above 60 fps.
void stream_rates_settle(std::int64_t *duration, std::int64_t file_size,
                         std::int64_t container_bit_rate, VideoInfo *video, const AudioInfo *audio);

// For an input whose header says all of its single audio stream (a FLAC,
// Vorbis or Opus stream of a FLAC or Ogg file, its length known): fills the
// stream's rate and channels where the demuxer left them to the decoder and
// the input's length and bit rate as the analysis of the streams would, and
// returns true. False, with nothing changed, when the streams must be
// analysed.
bool stream_header_settle(AVFormatContext *input);

// The sample rate and channels of a FLAC stream information block (data,
// size bytes: its 34, or more); false when it is shorter or names no rate.
bool flac_stream_info_read(const unsigned char *data, std::size_t size, int *sample_rate, int *channels);
