// The facts of a single audio stream read from the header ffmpeg reads on
// opening a file, for the formats whose header says all; the analysis of
// the streams is left for the rest. No state; any thread.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "MSCodecCommonInternal.h"
#include "MSFFMPEGLibrary.h"

namespace {

// The demuxers and codecs whose header gives each fact the probe reports of
// an audio stream: its codec, sample rate, channels, bit rate, language and
// length (FLAC's stream information block; an Ogg stream's identification
// header and its last page, which the demuxer reads when it opens the file).
// The analysis would add nothing to a single stream of theirs; it would run
// the codec's decoder over the first frames, which makes the decoder's code
// and tables resident in the process and costs every file a few hundred KiB
// of allocations. Not so for Speex, whose bit rate only its decoder tells.
constexpr struct {
  const char *demuxer;
  AVCodecID codec;
} kHeaderComplete[] = {
    {"flac", AV_CODEC_ID_FLAC},
    {"ogg", AV_CODEC_ID_VORBIS},
    {"ogg", AV_CODEC_ID_OPUS},
    {"ogg", AV_CODEC_ID_FLAC},
};

constexpr std::size_t kStreamInfoSize = 34;

bool listed(const AVFormatContext *input, AVCodecID codec) {
  return std::any_of(std::begin(kHeaderComplete), std::end(kHeaderComplete), [&](const auto &complete) {
    return complete.codec == codec && std::strcmp(input->iformat->name, complete.demuxer) == 0;
  });
}

// The rate and channels of a FLAC stream, which its demuxers leave to the
// decoder: the decoder takes them from the stream information block that
// the demuxers keep as the stream's extradata, and so does this.
bool rate_and_channels(const AVCodecParameters *codec, int *sample_rate, int *channels) {
  *sample_rate = codec->sample_rate;
  *channels = codec->ch_layout.nb_channels;
  if (codec->codec_id == AV_CODEC_ID_FLAC && *sample_rate == 0 && *channels == 0 && codec->extradata_size > 0) {
    return flac_stream_info_read(codec->extradata, static_cast<std::size_t>(codec->extradata_size), sample_rate,
                                 channels);
  }
  return *sample_rate > 0 && *channels > 0;
}

}  // namespace

bool flac_stream_info_read(const unsigned char *data, std::size_t size, int *sample_rate, int *channels) {
  if (data == nullptr || size < kStreamInfoSize) return false;
  *sample_rate = (data[10] << 12) | (data[11] << 4) | (data[12] >> 4);
  *channels = ((data[12] >> 1) & 7) + 1;
  return *sample_rate > 0;
}

bool stream_header_settle(AVFormatContext *input) {
  if (input->nb_streams != 1 || input->duration != AV_NOPTS_VALUE) return false;
  AVStream *stream = input->streams[0];
  AVCodecParameters *codec = stream->codecpar;
  int sample_rate = 0, channels = 0;
  if (codec->codec_type != AVMEDIA_TYPE_AUDIO || !listed(input, codec->codec_id) || stream->duration <= 0 ||
      !rate_and_channels(codec, &sample_rate, &channels)) {
    return false;
  }
  codec->sample_rate = sample_rate;
  if (codec->ch_layout.nb_channels != channels) {
    codec->ch_layout = AVChannelLayout{};
    codec->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
    codec->ch_layout.nb_channels = channels;
  }
  // The length and bit rate as the analysis computes them from a single
  // stream's.
  const FFmpegLibrary &av = ffmpeg_loaded();
  input->duration = av.rescale_q(stream->duration, stream->time_base, AVRational{1, AV_TIME_BASE});
  const std::int64_t size = av.io_size(input->pb);
  const double bit_rate = static_cast<double>(size) * 8.0 * AV_TIME_BASE / static_cast<double>(input->duration);
  if (size > 0 && input->duration > 0 && bit_rate <= static_cast<double>(INT64_MAX)) {
    input->bit_rate = static_cast<std::int64_t>(bit_rate);
  }
  return true;
}
