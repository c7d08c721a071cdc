#include "TapProxies.h"

#include "TapPipe.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>

namespace tap {
namespace {

// Tags tell the streams of one process apart; each stream keeps its own.
std::atomic<uint32_t> g_next_tag{1};

}  // namespace

myMMDeviceEnumerator *myMMDeviceEnumerator::createInstance(IMMDeviceEnumerator *real) {
  if (real == nullptr) {
    TAP_LOG("myMMDeviceEnumerator::createInstance", "myMMDeviceEnumerator - Error %X", ENOSYS);
    return nullptr;
  }
  TAP_LOG("myMMDeviceEnumerator::createInstance", "myMMDeviceEnumerator- created OK");
  return new myMMDeviceEnumerator(real);
}

int myMMDeviceEnumerator::GetDevice(const char *name, snd_pcm_stream_t stream, int mode, IMMDevice **out) {
  TAP_LOG("myMMDeviceEnumerator::GetDevice", "call proxied");
  IMMDevice *device = nullptr;
  int status = inner_->GetDevice(name, stream, mode, &device);
  if (status != 0) {
    TAP_LOG("myMMDeviceEnumerator::GetDevice", "service failed");
    *out = nullptr;
    return status;
  }
  TAP_LOG("myMMDeviceEnumerator::GetDevice", "impersonated IMMDevice");
  *out = new myMMDevice(device);
  return 0;
}

int myMMDevice::Activate(const Guid &iid, void **out) {
  char text[kGuidTextSize];
  guid_to_string(iid, text);
  TAP_LOG("myMMDevice::Activate", "Activate called with %s", text);
  if (!(iid == IAudioClient::kIid)) return inner_->Activate(iid, out);
  TAP_LOG("myMMDevice::Activate", "Activate called with IID_IAudioClient");
  void *client = nullptr;
  int status = inner_->Activate(iid, &client);
  *out = status == 0 ? static_cast<IAudioClient *>(new myAudioClient(static_cast<IAudioClient *>(client)))
                     : nullptr;
  return status;
}

snd_pcm_t *myMMDevice::GetHandle() {
  TAP_LOG("myMMDevice::GetHandle", "call proxied");
  return inner_->GetHandle();
}

myAudioClient::myAudioClient(IAudioClient *inner) : ComProxy(inner), tag_(g_next_tag++) {}

myAudioClient::~myAudioClient() {
  PipeLock lock;
  if (clock_ != nullptr) {
    send_stream_end(tag_);
    set_current_stream(nullptr);
    clock_->Release();
    clock_ = nullptr;
    ticks_per_ms_ = 0;
  }
  // A stream without a clock sends no end, but must not stay current once gone.
  if (current_stream() == this) set_current_stream(nullptr);
}

int myAudioClient::Initialize(snd_pcm_hw_params_t *params) {
  TAP_LOG("myAudioClient::Initialize", "call proxied");
  int status = inner_->Initialize(params);
  if (status != 0) return status;
  inner_->GetStreamFormat(&format_);
  check_format();
  find_clock();
  PipeLock lock;
  set_current_stream(this);
  send_stream_format(tag_, format_.channels, format_.samples_per_sec, format_.bits_per_sample);
  return 0;
}

void myAudioClient::check_format() const {
  const char *routine = "myAudioClient::Initialize";
  if (format_.format_tag == kWaveFormatExtensible) {
    if (format_.valid_bits_per_sample != format_.bits_per_sample)
      TAP_LOG(routine, "ERROR - Unexpected value for valid bits per sample: %d, expected: %d",
              format_.valid_bits_per_sample, format_.bits_per_sample);
    bool int_ok = format_.bits_per_sample > 16 || format_.sub_format == kSubFormatPcm;
    bool float_ok = format_.bits_per_sample != 32 || format_.sub_format == kSubFormatIeeeFloat;
    if (!int_ok || !float_ok) {
      char text[kGuidTextSize];
      guid_to_string(format_.sub_format, text);
      TAP_LOG(routine, "ERROR - Unexpected subformat GUID %s", text);
    }
  } else if (format_.format_tag != kWaveFormatPcm) {
    TAP_LOG(routine, "ERROR - Unexpected format tag %d", format_.format_tag);
  }
}

// Parameters set again replace the stream's clock with the new one.
void myAudioClient::find_clock() {
  const char *routine = "myAudioClient::Initialize";
  if (clock_ != nullptr) clock_->Release();
  clock_ = nullptr;
  ticks_per_ms_ = 0;
  void *clock = nullptr;
  if (GetService(IAudioClock::kIid, &clock) != 0) {
    TAP_LOG(routine, "Failed to retrieve the IID_IAudioClock interface, time info will not be available");
    return;
  }
  clock_ = static_cast<IAudioClock *>(clock);
  uint64_t frequency = 0;
  if (clock_->GetFrequency(&frequency) != 0) {
    TAP_LOG(routine, "Failed to retrieve the clock frequency, time info will not be available");
    return;
  }
  TAP_LOG(routine, "The frequency is: %" PRId64, static_cast<int64_t>(frequency));
  ticks_per_ms_ = frequency / 1000;
}

int myAudioClient::GetStreamFormat(WaveFormat *format) {
  TAP_LOG("myAudioClient::GetStreamFormat", "call proxied");
  return inner_->GetStreamFormat(format);
}

int myAudioClient::GetService(const Guid &iid, void **out) {
  char text[kGuidTextSize];
  guid_to_string(iid, text);
  TAP_LOG("myAudioClient::GetService", "GetService called with %s", text);
  if (!(iid == IAudioRenderClient::kIid)) return inner_->GetService(iid, out);
  TAP_LOG("myAudioClient::GetService", "GetService called with IAudioRenderClient");
  void *render = nullptr;
  int status = inner_->GetService(iid, &render);
  *out = status == 0 ? static_cast<IAudioRenderClient *>(new myAudioRenderClient(
                           static_cast<IAudioRenderClient *>(render), format_, this))
                     : nullptr;
  return status;
}

int myAudioClient::position(uint32_t *position_ms) {
  if (clock_ == nullptr || ticks_per_ms_ == 0) return -ENODATA;
  uint64_t ticks = 0;
  int status = clock_->GetPosition(&ticks);
  if (status != 0) return status;
  uint64_t ms = ticks / ticks_per_ms_;
  if (static_cast<int32_t>(ms >> 32) < 0) return -ERANGE;
  *position_ms = static_cast<uint32_t>(ms);
  return 0;
}

myAudioRenderClient::myAudioRenderClient(IAudioRenderClient *inner, const WaveFormat &format,
                                         myAudioClient *client)
    : ComProxy(inner), format_(format), client_(client) {}

int myAudioRenderClient::GetBuffer(uint32_t frames, uint8_t **data) {
  TAP_LOG("myAudioRenderClient::GetBuffer", "call proxied");
  int status = inner_->GetBuffer(frames, data);
  data_ = status == 0 ? *data : nullptr;
  requested_ = status == 0 ? frames : 0;
  return status;
}

long myAudioRenderClient::ReleaseBuffer(uint32_t frames, uint32_t flags, const WriteCall &call) {
  TAP_LOG("myAudioRenderClient::ReleaseBuffer", "call proxied");
  // Never more than the buffer the player was given.
  uint32_t captured = data_ != nullptr && frames <= requested_ ? frames : 0;
  if ((flags & kBufferFlagsSilent) != 0 && captured > 0) std::memset(data_, 0, size_t{format_.block_align} * captured);
  // The device plays first: of a block it takes only in part, the player
  // writes the rest again, and that rest must not be sent twice.
  long accepted = inner_->ReleaseBuffer(frames, flags | kBufferFlagsSilent, call);
  if (accepted > 0 && static_cast<uint64_t>(accepted) < captured) captured = static_cast<uint32_t>(accepted);
  if (accepted > 0 && captured > 0) {
    PipeLock lock;
    if (current_stream() != nullptr) {
      uint32_t ms = 0;
      if (client_->position(&ms) != 0) {
        TAP_LOG("myAudioRenderClient::ReleaseBuffer", "could not obtain time");
      } else {
        send_position(client_->tag(), ms);
        send_audio_data(client_->tag(), data_, format_.block_align * captured);
      }
    }
  }
  data_ = nullptr;
  requested_ = 0;
  return accepted;
}

void poll_position() {
  PipeLock lock;
  myAudioClient *current = current_stream();
  if (current == nullptr) return;
  uint32_t ms = 0;
  if (current->position(&ms) == 0)
    send_position(current->tag(), ms);
  else
    TAP_LOG("poll_position", "could not get position");
}

}  // namespace tap
