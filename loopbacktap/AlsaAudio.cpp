#include "AlsaAudio.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace tap {
namespace {

struct FormatRow {
  snd_pcm_format_t alsa;
  uint16_t tag;
  uint16_t container_bits;
  uint16_t valid_bits;
  const Guid *sub_format;
};

constexpr FormatRow kFormats[] = {
    {SND_PCM_FORMAT_U8, kWaveFormatPcm, 8, 8, nullptr},
    {SND_PCM_FORMAT_S16_LE, kWaveFormatPcm, 16, 16, nullptr},
    {SND_PCM_FORMAT_S24_3LE, kWaveFormatExtensible, 24, 24, &kSubFormatPcm},
    {SND_PCM_FORMAT_S24_LE, kWaveFormatExtensible, 32, 24, &kSubFormatPcm},
    {SND_PCM_FORMAT_S32_LE, kWaveFormatExtensible, 32, 32, &kSubFormatPcm},
    {SND_PCM_FORMAT_FLOAT_LE, kWaveFormatExtensible, 32, 32, &kSubFormatIeeeFloat},
    {SND_PCM_FORMAT_FLOAT64_LE, kWaveFormatIeeeFloat, 64, 64, nullptr},
};

// What every object of one opened handle shares.
struct AlsaStream {
  const AlsaCalls *calls;
  snd_pcm_t *pcm;
  snd_pcm_format_t format = SND_PCM_FORMAT_UNKNOWN;
  unsigned channels = 0;
  unsigned rate = 0;
  std::atomic<uint64_t> frames_written{0};

  size_t frame_bytes() const {
    int bits = calls->physical_width(format);
    return bits > 0 ? static_cast<size_t>(bits) / 8 * channels : 0;
  }
};
using Stream = std::shared_ptr<AlsaStream>;

template <typename I>
class RefCounted : public I {
 public:
  int QueryInterface(const Guid &iid, void **out) override {
    if (!(iid == I::kIid)) {
      *out = nullptr;
      return -ENOTSUP;
    }
    AddRef();
    *out = static_cast<I *>(this);
    return 0;
  }
  unsigned long AddRef() override { return ++refs_; }
  unsigned long Release() override {
    unsigned long left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<unsigned long> refs_{1};
};

class AlsaClock final : public RefCounted<IAudioClock> {
 public:
  explicit AlsaClock(Stream stream) : stream_(std::move(stream)) {}
  int GetFrequency(uint64_t *ticks_per_second) override {
    *ticks_per_second = kClockFrequency;
    return 0;
  }
  // Frames handed to the device less those still queued in it. The count of
  // frames written grows only after the write returns, so a position read
  // during a write could step back: the clock never goes backwards.
  int GetPosition(uint64_t *position) override {
    snd_pcm_sframes_t queued = 0;
    int status = stream_->calls->delay(stream_->pcm, &queued);
    if (status < 0) return status;
    if (stream_->rate == 0) return -EINVAL;
    int64_t played = static_cast<int64_t>(stream_->frames_written.load()) - queued;
    uint64_t now = played > 0 ? static_cast<uint64_t>(played) * kClockFrequency / stream_->rate : 0;
    uint64_t last = last_.load();
    while (now > last && !last_.compare_exchange_weak(last, now)) {
    }
    *position = now > last ? now : last;
    return 0;
  }

 private:
  Stream stream_;
  std::atomic<uint64_t> last_{0};
};

class AlsaRenderClient final : public RefCounted<IAudioRenderClient> {
 public:
  explicit AlsaRenderClient(Stream stream) : stream_(std::move(stream)) {}
  int GetBuffer(uint32_t frames, uint8_t **data) override {
    size_t bytes = stream_->frame_bytes() * frames;
    if (bytes == 0 && frames > 0) return -EINVAL;
    block_.resize(bytes);
    *data = block_.data();
    return 0;
  }
  long ReleaseBuffer(uint32_t frames, uint32_t flags, const WriteCall &call) override {
    const AlsaCalls &c = *stream_->calls;
    bool silent = (flags & kBufferFlagsSilent) != 0;
    long written = 0;
    if (call.kind == WriteCall::kMmapCommit) {
      if (silent) c.areas_silence(call.areas, call.offset, stream_->channels, frames, stream_->format);
      written = c.mmap_commit(stream_->pcm, call.offset, frames);
    } else if (call.kind == WriteCall::kInterleaved || call.kind == WriteCall::kMmapInterleaved) {
      auto write = call.kind == WriteCall::kInterleaved ? c.writei : c.mmap_writei;
      written = write(stream_->pcm, silent ? silence(frames) : block_.data(), frames);
    } else {
      written = write_channels(frames, silent, call.kind == WriteCall::kNonInterleaved ? c.writen : c.mmap_writen);
    }
    if (written > 0) stream_->frames_written += static_cast<uint64_t>(written);
    return written;
  }

 private:
  // Silence of the stream's format for frames (the zero sample is not always 0).
  uint8_t *silence(uint32_t frames) {
    size_t bytes = stream_->frame_bytes() * frames;
    if (silence_.size() < bytes) {
      silence_.resize(bytes);
      stream_->calls->set_silence(stream_->format, silence_.data(), frames * stream_->channels);
    }
    return silence_.data();
  }
  // Non-interleaved: every channel reads its own part of one buffer.
  using WriteChannels = snd_pcm_sframes_t (*)(snd_pcm_t *, void **, snd_pcm_uframes_t);
  long write_channels(uint32_t frames, bool silent, WriteChannels writen) {
    const AlsaCalls &c = *stream_->calls;
    unsigned channels = stream_->channels;
    size_t sample_bytes = channels ? stream_->frame_bytes() / channels : 0;
    std::vector<void *> bufs(channels);
    if (silent) {
      uint8_t *quiet = silence(frames);
      for (auto &b : bufs) b = quiet;
      return writen(stream_->pcm, bufs.data(), frames);
    }
    std::vector<uint8_t> planes(sample_bytes * channels * frames);
    std::vector<snd_pcm_channel_area_t> from(channels), to(channels);
    unsigned bits = static_cast<unsigned>(sample_bytes * 8);
    for (unsigned ch = 0; ch < channels; ++ch) {
      from[ch] = {block_.data(), ch * bits, bits * channels};
      bufs[ch] = planes.data() + ch * sample_bytes * frames;
      to[ch] = {bufs[ch], 0, bits};
    }
    c.areas_copy(to.data(), 0, from.data(), 0, channels, frames, stream_->format);
    return writen(stream_->pcm, bufs.data(), frames);
  }

  Stream stream_;
  std::vector<uint8_t> block_;
  std::vector<uint8_t> silence_;
};

class AlsaClient final : public RefCounted<IAudioClient> {
 public:
  explicit AlsaClient(Stream stream) : stream_(std::move(stream)) {}
  int Initialize(snd_pcm_hw_params_t *params) override {
    AlsaStream &s = *stream_;
    int status = s.calls->hw_params(s.pcm, params);
    if (status < 0) return status;
    s.calls->get_format(params, &s.format);
    s.calls->get_channels(params, &s.channels);
    s.calls->get_rate(params, &s.rate, nullptr);
    s.frames_written = 0;
    return 0;
  }
  int GetStreamFormat(WaveFormat *format) override {
    const AlsaStream &s = *stream_;
    *format = wave_format_of(s.format, s.channels, s.rate, s.calls->physical_width(s.format));
    return 0;
  }
  int GetService(const Guid &iid, void **out) override {
    *out = nullptr;
    if (iid == IAudioRenderClient::kIid) {
      *out = static_cast<IAudioRenderClient *>(new AlsaRenderClient(stream_));
      return 0;
    }
    if (iid == IAudioClock::kIid) {
      // A device that cannot say how much it still holds keeps no time.
      snd_pcm_sframes_t queued = 0;
      int status = stream_->calls->delay(stream_->pcm, &queued);
      if (status < 0) return status;
      *out = static_cast<IAudioClock *>(new AlsaClock(stream_));
      return 0;
    }
    return -ENOTSUP;
  }

 private:
  Stream stream_;
};

class AlsaDevice final : public RefCounted<IMMDevice> {
 public:
  explicit AlsaDevice(Stream stream) : stream_(std::move(stream)) {}
  int Activate(const Guid &iid, void **out) override {
    *out = nullptr;
    if (!(iid == IAudioClient::kIid)) return -ENOTSUP;
    *out = static_cast<IAudioClient *>(new AlsaClient(stream_));
    return 0;
  }
  snd_pcm_t *GetHandle() override { return stream_->pcm; }

 private:
  Stream stream_;
};

class AlsaEnumerator final : public RefCounted<IMMDeviceEnumerator> {
 public:
  explicit AlsaEnumerator(const AlsaCalls *calls) : calls_(calls) {}
  int GetDevice(const char *name, snd_pcm_stream_t stream, int mode, IMMDevice **out) override {
    *out = nullptr;
    snd_pcm_t *pcm = nullptr;
    int status = calls_->open(&pcm, name, stream, mode);
    if (status < 0) return status;
    auto shared = std::make_shared<AlsaStream>();
    shared->calls = calls_;
    shared->pcm = pcm;
    *out = new AlsaDevice(std::move(shared));
    return 0;
  }

 private:
  const AlsaCalls *calls_;
};

}  // namespace

IMMDeviceEnumerator *alsa_enumerator_create(const AlsaCalls *calls) {
  return calls ? new AlsaEnumerator(calls) : nullptr;
}

WaveFormat wave_format_of(snd_pcm_format_t format, unsigned channels, unsigned rate, int physical_bits) {
  WaveFormat wave{};
  wave.format_tag = kWaveFormatUnknown;
  wave.bits_per_sample = static_cast<uint16_t>(physical_bits > 0 ? physical_bits : 0);
  wave.valid_bits_per_sample = wave.bits_per_sample;
  for (const FormatRow &row : kFormats) {
    if (row.alsa != format) continue;
    wave.format_tag = row.tag;
    wave.bits_per_sample = row.container_bits;
    wave.valid_bits_per_sample = row.valid_bits;
    if (row.sub_format) wave.sub_format = *row.sub_format;
  }
  wave.channels = static_cast<uint16_t>(channels);
  wave.samples_per_sec = rate;
  wave.block_align = static_cast<uint16_t>(wave.bits_per_sample / 8 * channels);
  wave.avg_bytes_per_sec = wave.block_align * rate;
  wave.extra_size = wave.format_tag == kWaveFormatExtensible ? 22 : 0;
  return wave;
}

}  // namespace tap
