#include "ThumbnailVideo.h"

#include "MSFFMPEG.h"
#include "ThumbnailLibraries.h"
#include "log4c.h"

namespace {

constexpr const char *kModule = "WinThumbnailExtractor";
// A damaged file must not keep the decoder reading to its end.
constexpr int kMaxPackets = 2000;

// Owners of the ffmpeg objects of one extraction.
struct VideoCall {
  const ThumbnailFFmpeg &f;
  AVFormatContext *input = nullptr;
  AVCodecContext *codec = nullptr;
  AVPacket *packet = f.packet_alloc();
  AVFrame *frame = f.frame_alloc();     // the chosen frame
  AVFrame *received = f.frame_alloc();  // the decoder's latest
  explicit VideoCall(const ThumbnailFFmpeg &library) : f(library) {}
  VideoCall(const VideoCall &) = delete;
  VideoCall &operator=(const VideoCall &) = delete;
  ~VideoCall() {
    f.frame_free(&received);
    f.frame_free(&frame);
    f.packet_free(&packet);
    f.codec_free_context(&codec);
    if (input != nullptr) ffmpeg_close_input(&input);
  }
};

// Opens path and the decoder of its main video stream; the stream index, or
// a negative number.
int open_video(VideoCall &call, const char *path) {
  if (call.packet == nullptr || call.frame == nullptr || call.received == nullptr) return -1;
  if (ffmpeg_open_input(path, nullptr, AVIOInterruptCB{nullptr, nullptr}, &call.input) != 0) return -1;
  if (call.f.find_stream_info(call.input, nullptr) < 0) return -1;
  const AVCodec *decoder = nullptr;
  int index = call.f.find_best_stream(call.input, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
  if (index < 0 || decoder == nullptr) return -1;
  call.codec = call.f.codec_alloc_context(decoder);
  // A damaged or hostile header must not make the decoder allocate frames
  // of any size it declares.
  if (call.codec != nullptr) call.codec->max_pixels = THUMB_MAX_PIXELS;
  if (call.codec == nullptr ||
      call.f.parameters_to_context(call.codec, call.input->streams[index]->codecpar) < 0 ||
      call.f.codec_open(call.codec, decoder, nullptr) < 0) {
    return -1;
  }
  return index;
}

// The first frame at or after the target time (in the stream's time base);
// with none there, the last one decoded before the input ran out.
bool decode_frame(VideoCall &call, int index, std::int64_t target) {
  bool have = false;
  for (int packets = 0; packets < kMaxPackets; ++packets) {
    bool end = call.f.read_frame(call.input, call.packet) < 0;
    if (!end && call.packet->stream_index != index) {
      call.f.packet_unref(call.packet);
      continue;
    }
    // At the end a null packet drains the frames the decoder still holds.
    int sent = call.f.send_packet(call.codec, end ? nullptr : call.packet);
    call.f.packet_unref(call.packet);
    if (sent < 0 && sent != AVERROR(EAGAIN) && !end) continue;
    while (call.f.receive_frame(call.codec, call.received) >= 0) {
      call.f.frame_unref(call.frame);
      call.f.frame_move_ref(call.frame, call.received);
      have = true;
      if (call.frame->best_effort_timestamp == AV_NOPTS_VALUE || call.frame->best_effort_timestamp >= target) {
        return true;
      }
    }
    if (end) break;
  }
  return have;
}

std::int64_t seek_target(VideoCall &call, int index) {
  const AVStream *stream = call.input->streams[index];
  std::int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
  if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) return start + stream->duration / 10;
  if (call.input->duration == AV_NOPTS_VALUE || call.input->duration <= 0) return start;
  const AVRational microseconds{1, AV_TIME_BASE};
  const AVRational base = stream->time_base;
  return start + (call.input->duration / 10) * microseconds.num * base.den / (microseconds.den * base.num);
}

bool scale_frame(const ThumbnailFFmpeg &f, const AVFrame *frame, AVRational aspect, int size,
                 ThumbnailBitmap *bitmap) {
  long long display_width = frame->width;
  if (aspect.num > 0 && aspect.den > 0) display_width = frame->width * static_cast<long long>(aspect.num) / aspect.den;
  ThumbnailFit fit = thumbnail_fit(display_width > 0 ? display_width : frame->width, frame->height, size);
  SwsContext *scaler = f.scaler_get(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                         fit.width, fit.height, AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr,
                                         nullptr);
  if (scaler == nullptr) return false;
  bitmap->width = fit.width;
  bitmap->height = fit.height;
  // swscale may write a little past a row's end in its vector loops.
  bitmap->rgb.assign(static_cast<std::size_t>(fit.width) * fit.height * 3 + 64, 0);
  uint8_t *planes[4] = {bitmap->rgb.data(), nullptr, nullptr, nullptr};
  int strides[4] = {fit.width * 3, 0, 0, 0};
  int rows = f.scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
  f.scaler_free(scaler);
  bitmap->rgb.resize(static_cast<std::size_t>(fit.width) * fit.height * 3);
  return rows == fit.height;
}

}  // namespace

std::uint32_t video_bitmap(const char *path, int size, ThumbnailBitmap *bitmap) {
  const ThumbnailFFmpeg *f = thumbnail_ffmpeg();
  if (f == nullptr) return THUMB_E_NO_PICTURE;
  VideoCall call(*f);
  int index = open_video(call, path);
  if (index < 0) {
    LOG4C(kModule, LOG4C_WARN, log4c_sprintf("No video stream could be decoded in %s", path));
    return THUMB_E_NO_PICTURE;
  }
  std::int64_t target = seek_target(call, index);
  bool found = f->seek_frame(call.input, index, target, AVSEEK_FLAG_BACKWARD) >= 0 && decode_frame(call, index, target);
  if (!found && f->seek_frame(call.input, index, 0, AVSEEK_FLAG_BACKWARD) >= 0) {
    // A file whose index is damaged may still decode from its start.
    f->flush_buffers(call.codec);
    found = decode_frame(call, index, 0);
  }
  if (!found) {
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("No frame could be decoded from %s", path));
    return THUMB_E_NO_PICTURE;
  }
  AVRational aspect = call.frame->sample_aspect_ratio;
  if (aspect.num <= 0) aspect = call.input->streams[index]->sample_aspect_ratio;
  if (!scale_frame(*f, call.frame, aspect, size, bitmap)) {
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("The frame of %s could not be scaled", path));
    return THUMB_E_NO_PICTURE;
  }
  return THUMB_OK;
}
