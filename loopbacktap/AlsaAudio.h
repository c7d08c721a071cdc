// AlsaAudio: the audio interfaces over ALSA. The enumerator opens playback
// handles; the device, audio client, render client and clock of one handle
// share its state (format, frames written). The handle itself stays the
// player's: these objects never close it, and must all be released before the
// player's snd_pcm_close goes through. Each object is used by the player
// thread that writes its handle, except the clock, which the polling thread
// reads under the pipe lock.
#pragma once

#include "AlsaCalls.h"
#include "AudioInterfaces.h"

namespace tap {

// A new enumerator (one reference) over the real ALSA calls; null when calls is.
IMMDeviceEnumerator *alsa_enumerator_create(const AlsaCalls *calls);

// The wave format ALSA's sample format stands for: signed 16-bit and unsigned
// 8-bit as plain PCM, 24- and 32-bit integers and 32-bit float as extensible
// PCM or float, 64-bit float as the float tag, anything else with the unknown
// tag and its physical width (physical_bits).
WaveFormat wave_format_of(snd_pcm_format_t format, unsigned channels, unsigned rate, int physical_bits);

// The clock's ticks: microseconds.
constexpr uint64_t kClockFrequency = 1000000;

}  // namespace tap
