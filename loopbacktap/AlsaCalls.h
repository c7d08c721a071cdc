// AlsaCalls: ALSA's own entry points, found behind the capture library
// (dlsym(RTLD_NEXT, ...), or in an already loaded libasound), so that the
// library never links ALSA itself and players without ALSA never load it.
// The table is resolved once, on first use, and never changes. Thread-safe.
#pragma once

#include <alsa/asoundlib.h>

namespace tap {

struct AlsaCalls {
  int (*open)(snd_pcm_t **pcm, const char *name, snd_pcm_stream_t stream, int mode);
  int (*close)(snd_pcm_t *pcm);
  int (*hw_params)(snd_pcm_t *pcm, snd_pcm_hw_params_t *params);
  snd_pcm_sframes_t (*writei)(snd_pcm_t *pcm, const void *buffer, snd_pcm_uframes_t size);
  snd_pcm_sframes_t (*writen)(snd_pcm_t *pcm, void **bufs, snd_pcm_uframes_t size);
  snd_pcm_sframes_t (*mmap_writei)(snd_pcm_t *pcm, const void *buffer, snd_pcm_uframes_t size);
  snd_pcm_sframes_t (*mmap_writen)(snd_pcm_t *pcm, void **bufs, snd_pcm_uframes_t size);
  int (*mmap_begin)(snd_pcm_t *pcm, const snd_pcm_channel_area_t **areas,
                    snd_pcm_uframes_t *offset, snd_pcm_uframes_t *frames);
  snd_pcm_sframes_t (*mmap_commit)(snd_pcm_t *pcm, snd_pcm_uframes_t offset, snd_pcm_uframes_t frames);
  int (*delay)(snd_pcm_t *pcm, snd_pcm_sframes_t *delay);
  int (*get_access)(const snd_pcm_hw_params_t *params, snd_pcm_access_t *access);
  int (*get_format)(const snd_pcm_hw_params_t *params, snd_pcm_format_t *format);
  int (*get_channels)(const snd_pcm_hw_params_t *params, unsigned int *channels);
  int (*get_rate)(const snd_pcm_hw_params_t *params, unsigned int *rate, int *dir);
  int (*physical_width)(snd_pcm_format_t format);
  int (*set_silence)(snd_pcm_format_t format, void *buffer, unsigned int samples);
  int (*areas_silence)(const snd_pcm_channel_area_t *areas, snd_pcm_uframes_t offset,
                       unsigned int channels, snd_pcm_uframes_t frames, snd_pcm_format_t format);
  int (*areas_copy)(const snd_pcm_channel_area_t *dst, snd_pcm_uframes_t dst_offset,
                    const snd_pcm_channel_area_t *src, snd_pcm_uframes_t src_offset,
                    unsigned int channels, snd_pcm_uframes_t frames, snd_pcm_format_t format);
};

// The real entry points, or null when ALSA is not in the process (or lacks one
// of them): a capture hook then has nothing to call and fails with -ENOSYS.
const AlsaCalls *alsa_calls();

}  // namespace tap
