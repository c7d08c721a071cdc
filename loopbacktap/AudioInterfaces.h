// AudioInterfaces: the audio objects a player obtains, shaped as the device
// enumerator, device, audio client, render client and clock of a Windows audio
// stack, but standing over ALSA's playback handles. The capture proxies
// (TapProxies) wrap these interfaces; AlsaAudio implements them over a real
// snd_pcm_t and the tests implement them as doubles.
// Objects are reference counted; methods return 0 or a negative errno (as ALSA
// does), except ReleaseBuffer, which returns the frames the device accepted.
// An object is used by one player thread at a time; AddRef/Release are atomic.
#pragma once

#include <alsa/asoundlib.h>

#include <cstddef>
#include <cstdint>

namespace tap {

// A 16-byte interface identifier, printed as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
struct Guid {
  uint32_t d1;
  uint16_t d2;
  uint16_t d3;
  uint8_t d4[8];
};
bool operator==(const Guid &a, const Guid &b);
constexpr size_t kGuidTextSize = 39;
// Writes the identifier's text into out (kGuidTextSize bytes): 0, or -EINVAL
// when out is null.
int guid_to_string(const Guid &guid, char *out);

// The stream's format as an 18-byte wave format header describes it.
struct WaveFormat {
  uint16_t format_tag;
  uint16_t channels;
  uint32_t samples_per_sec;
  uint32_t avg_bytes_per_sec;
  uint16_t block_align;
  uint16_t bits_per_sample;
  uint16_t extra_size;
  // Only meaningful with kWaveFormatExtensible.
  uint16_t valid_bits_per_sample;
  Guid sub_format;
};
constexpr uint16_t kWaveFormatUnknown = 0;
constexpr uint16_t kWaveFormatPcm = 1;
constexpr uint16_t kWaveFormatIeeeFloat = 3;
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;
extern const Guid kSubFormatPcm;
extern const Guid kSubFormatIeeeFloat;

// ReleaseBuffer flag: the block is to be played as silence, whatever it holds.
constexpr uint32_t kBufferFlagsSilent = 0x2;

// How the player handed a block to ALSA, so that the render client passes the
// device's copy on the same road.
struct WriteCall {
  // writei, writen, mmap_writei, mmap_writen, mmap_commit
  enum Kind { kInterleaved, kNonInterleaved, kMmapInterleaved, kMmapNonInterleaved, kMmapCommit } kind;
  const snd_pcm_channel_area_t *areas;  // kMmapCommit: the areas from mmap_begin
  snd_pcm_uframes_t offset;             // kMmapCommit: the offset being committed
};

struct IUnknown {
  virtual int QueryInterface(const Guid &iid, void **out) = 0;
  virtual unsigned long AddRef() = 0;
  virtual unsigned long Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};

struct IMMDevice;

struct IMMDeviceEnumerator : IUnknown {
  static const Guid kIid;
  // Opens the named device as snd_pcm_open would: 0 or ALSA's error.
  virtual int GetDevice(const char *name, snd_pcm_stream_t stream, int mode,
                        IMMDevice **out) = 0;
};

struct IMMDevice : IUnknown {
  static const Guid kIid;
  // Gives the object of the interface iid (IAudioClient): 0 or -ENOTSUP.
  virtual int Activate(const Guid &iid, void **out) = 0;
  // The ALSA handle the player works with.
  virtual snd_pcm_t *GetHandle() = 0;
};

struct IAudioClient : IUnknown {
  static const Guid kIid;
  // Sets the hardware parameters: 0 or ALSA's error.
  virtual int Initialize(snd_pcm_hw_params_t *params) = 0;
  // The format the parameters set: 0 or ALSA's error.
  virtual int GetStreamFormat(WaveFormat *format) = 0;
  // Gives the IAudioRenderClient or IAudioClock: 0, -ENOTSUP, or the clock's
  // error when the device keeps no time.
  virtual int GetService(const Guid &iid, void **out) = 0;
};

struct IAudioRenderClient : IUnknown {
  static const Guid kIid;
  // A buffer of frames × block align bytes for the player to fill: 0 or -ENOMEM.
  virtual int GetBuffer(uint32_t frames, uint8_t **data) = 0;
  // Plays the first frames of the buffer (silence when flagged so) on the road
  // of call: the frames accepted, or ALSA's negative error.
  virtual long ReleaseBuffer(uint32_t frames, uint32_t flags, const WriteCall &call) = 0;
};

struct IAudioClock : IUnknown {
  static const Guid kIid;
  virtual int GetFrequency(uint64_t *ticks_per_second) = 0;
  // The playback position in ticks: 0 or ALSA's error.
  virtual int GetPosition(uint64_t *position) = 0;
};

}  // namespace tap
