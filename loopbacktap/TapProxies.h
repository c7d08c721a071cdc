// TapProxies: the capture classes. The enumerator and device proxies wrap
// every device and audio client the player opens; the audio client announces
// its stream format when the player sets the hardware parameters and becomes
// the current stream; the render client sends every block the player plays,
// with the position before it, and has the device play silence instead.
// A proxy is used by the player thread that owns its handle; everything that
// reaches the pipe or the current stream does so under the pipe lock.
// Statuses are those of AudioInterfaces (0 or a negative errno).
#pragma once

#include "ComProxy.h"

namespace tap {

class myAudioClient;

class myMMDeviceEnumerator final : public ComProxy<IMMDeviceEnumerator> {
 public:
  // Wraps a new enumerator (taking over its reference); null, after logging the
  // error, when there is none.
  static myMMDeviceEnumerator *createInstance(IMMDeviceEnumerator *real);

  int GetDevice(const char *name, snd_pcm_stream_t stream, int mode, IMMDevice **out) override;

  using ComProxy::ComProxy;
};

class myMMDevice final : public ComProxy<IMMDevice> {
 public:
  using ComProxy::ComProxy;
  int Activate(const Guid &iid, void **out) override;
  snd_pcm_t *GetHandle() override;
};

class myAudioClient final : public ComProxy<IAudioClient> {
 public:
  explicit myAudioClient(IAudioClient *inner);

  // Sets the parameters; on success checks the format (logging, never
  // failing), finds the clock, makes this the current stream and announces
  // the format.
  int Initialize(snd_pcm_hw_params_t *params) override;
  int GetStreamFormat(WaveFormat *format) override;
  int GetService(const Guid &iid, void **out) override;

  // The playback position in milliseconds: 0, or -ENODATA without a clock,
  // -ERANGE past the 32-bit range's sign, or the clock's error. Call under the
  // pipe lock.
  int position(uint32_t *position_ms);
  uint32_t tag() const { return tag_; }

 private:
  ~myAudioClient() override;
  void check_format() const;
  void find_clock();

  uint32_t tag_;
  WaveFormat format_{};
  IAudioClock *clock_ = nullptr;
  uint64_t ticks_per_ms_ = 0;
};

class myAudioRenderClient final : public ComProxy<IAudioRenderClient> {
 public:
  myAudioRenderClient(IAudioRenderClient *inner, const WaveFormat &format, myAudioClient *client);

  int GetBuffer(uint32_t frames, uint8_t **data) override;
  // Plays silence in the block's place; the frames the device took are sent,
  // after the position, as they were in the buffer (zeros when the block was
  // flagged silent). Returns what the device returned.
  long ReleaseBuffer(uint32_t frames, uint32_t flags, const WriteCall &call) override;

  uint16_t block_align() const { return format_.block_align; }

 private:
  uint8_t *data_ = nullptr;
  uint32_t requested_ = 0;
  WaveFormat format_;
  myAudioClient *client_;
};

// One turn of the polling loop: sends the current stream's position, or logs
// that there is none to send.
void poll_position();

}  // namespace tap
