// stream_probe: opens a media file, reads its streams within 5 seconds and
// reports the facts the scan stores.
#include <apr_strings.h>
#include <apr_time.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "CommonPath.h"
#include "CommonUtf8.h"
#include "MSCodecCommonInternal.h"
#include "MSCodecCommonStreams.h"
#include "MSFFMPEGLibrary.h"
#include "log4c.h"

namespace {

constexpr apr_time_t kStreamInfoLimit = 5000000;  // microseconds

// opaque: when the input's stream-information step began (0: not yet), so
// that inputs probed on several threads each keep their own limit.
int interrupt_check(void *opaque) {
  const apr_time_t start = *static_cast<const apr_time_t *>(opaque);
  return start != 0 && apr_time_now() - start > kStreamInfoLimit ? 1 : 0;
}

void log_error(const char *format, const char *path) {
  if (log4c_is_enabled[LOG4C_ERROR](CODEC_MODULE)) {
    LOG4C(CODEC_MODULE, LOG4C_ERROR, log4c_sprintf(format, path));
  }
}

// An MP3 with a large tag or leading junk can defeat detection by content, so
// ".mp3" files (and ".wv" ones, as the library has always read them) are read
// with the MP3 demuxer.
const AVInputFormat *forced_format(const char *extension) {
  if (extension && (strcasecmp(extension, "wv") == 0 || strcasecmp(extension, "mp3") == 0)) {
    return ffmpeg_demuxer("mp3");
  }
  return nullptr;
}

bool g_always_analyse = false;

// probe_start: the interrupt's clock, which must outlive the input.
int open_and_read_streams(const char *path, const char *extension, AVFormatContext **input, CancelCheck cancel,
                          void *cancel_context, apr_time_t *probe_start) {
  *probe_start = 0;
  if (ffmpeg_open_input(path, forced_format(extension), AVIOInterruptCB{interrupt_check, probe_start}, input, cancel,
                        cancel_context) != 0) {
    log_error("Could not open media file %s, codec parameters will not be read", path);
    return APR_EGENERAL;
  }
  if (!g_always_analyse && stream_header_settle(*input)) return 0;
  *probe_start = apr_time_now();
  int status = ffmpeg_loaded().find_stream_info(*input, nullptr);
  *probe_start = 0;
  if (status < 0) {
    log_error("Could not find codec parameters for media file %s", path);
    ffmpeg_close_input(input);
    return APR_EGENERAL;
  }
  return 0;
}

void choose_streams(apr_pool_t *pool, const AVFormatContext *input, const char *extension,
                    VideoInfo *video, AudioInfo *audio, const char **video_codec,
                    const char **audio_codec) {
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVStream *stream = input->streams[i];
    const char *language = stream_language(pool, stream, extension);
    AVMediaType type = stream->codecpar->codec_type;
    if (type == AVMEDIA_TYPE_AUDIO) {
      std::int32_t codec = codec_legacy_id(stream->codecpar->codec_id);
      if (!audio->present ||
          audio_stream_beats(codec, language, audio->codec_id, audio->language)) {
        stream_take_audio(pool, stream, language, audio, audio_codec);
      }
    } else if (type == AVMEDIA_TYPE_VIDEO && !video->present) {
      stream_take_video(pool, stream, video, video_codec);
    }
  }
}

// A container tag as valid UTF-8 ("" when absent); tags in a legacy code page
// are converted from the system's.
const char *tag_text(apr_pool_t *pool, const AVFormatContext *input, const char *key) {
  const AVDictionaryEntry *entry = ffmpeg_loaded().dict_get(input->metadata, key, nullptr, 0);
  if (!entry) return "";
  if (utf8_is_xml_text(entry->value)) return apr_pstrdup(pool, entry->value);
  return text_to_utf8(pool, nullptr, entry->value, std::strlen(entry->value));
}

// The leading number of the first of the keys present ("2009-07-14" is 2009).
int tag_number(const AVFormatContext *input, const char *key, const char *other_key) {
  const FFmpegLibrary &av = ffmpeg_loaded();
  const AVDictionaryEntry *entry = av.dict_get(input->metadata, key, nullptr, 0);
  if (!entry && other_key) entry = av.dict_get(input->metadata, other_key, nullptr, 0);
  return entry ? std::atoi(entry->value) : 0;
}

void report_tags(apr_pool_t *pool, const AVFormatContext *input, StreamFacts *facts) {
  facts->title = tag_text(pool, input, "title");
  facts->author = tag_text(pool, input, "artist");
  if (*facts->author == '\0') facts->author = tag_text(pool, input, "author");
  facts->copyright = tag_text(pool, input, "copyright");
  facts->comment = tag_text(pool, input, "comment");
  facts->album = tag_text(pool, input, "album");
  facts->genre = tag_text(pool, input, "genre");
  facts->year = tag_number(input, "date", "year");
  facts->track = tag_number(input, "track", nullptr);
}

}  // namespace

void stream_probe_always_analyse(bool on) { g_always_analyse = on; }

int stream_probe(apr_pool_t *pool, const char *path, StreamFacts *facts, CancelCheck cancel,
                 void *cancel_context) {
  stream_facts_clear(facts);
  const char *extension = path_extension(path, 0);
  AVFormatContext *input = nullptr;
  // The caller's check is also polled after the streams were read and on the
  // way out of a failure.
  apr_time_t probe_start = 0;
  if (open_and_read_streams(path, extension, &input, cancel, cancel_context, &probe_start) != 0) {
    return cancel_requested(cancel, cancel_context) ? COMMON_CANCELLED : APR_EGENERAL;
  }
  if (cancel_requested(cancel, cancel_context)) {
    ffmpeg_close_input(&input);
    return COMMON_CANCELLED;
  }
  choose_streams(pool, input, extension, &facts->video, &facts->audio, &facts->video_codec, &facts->audio_codec);
  facts->duration = input->duration;
  facts->size = ffmpeg_loaded().io_size(input->pb);
  stream_rates_settle(&facts->duration, facts->size, input->bit_rate, &facts->video, &facts->audio);
  report_tags(pool, input, facts);
  ffmpeg_close_input(&input);
  return 0;
}
