#include "AlsaCalls.h"

#include <dlfcn.h>
#include <pthread.h>

namespace tap {
namespace {

AlsaCalls g_calls;
bool g_resolved = false;
pthread_once_t g_once = PTHREAD_ONCE_INIT;

// The next definition after this library; a libasound that a plugin of the
// player loaded privately is not on that road, so it is asked directly.
void *find(const char *name) {
  if (void *symbol = dlsym(RTLD_NEXT, name)) return symbol;
  void *alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_NOLOAD);
  if (alsa == nullptr) return nullptr;
  void *symbol = dlsym(alsa, name);
  dlclose(alsa);
  return symbol;
}

template <typename F>
bool bind(F &slot, const char *name) {
  slot = reinterpret_cast<F>(find(name));
  return slot != nullptr;
}

void resolve() {
  AlsaCalls &c = g_calls;
  g_resolved = bind(c.open, "snd_pcm_open") && bind(c.close, "snd_pcm_close") &&
               bind(c.hw_params, "snd_pcm_hw_params") && bind(c.writei, "snd_pcm_writei") &&
               bind(c.writen, "snd_pcm_writen") && bind(c.mmap_writei, "snd_pcm_mmap_writei") && bind(c.mmap_writen, "snd_pcm_mmap_writen") &&
               bind(c.mmap_begin, "snd_pcm_mmap_begin") &&
               bind(c.mmap_commit, "snd_pcm_mmap_commit") && bind(c.delay, "snd_pcm_delay") &&
               bind(c.get_access, "snd_pcm_hw_params_get_access") &&
               bind(c.get_format, "snd_pcm_hw_params_get_format") &&
               bind(c.get_channels, "snd_pcm_hw_params_get_channels") &&
               bind(c.get_rate, "snd_pcm_hw_params_get_rate") &&
               bind(c.physical_width, "snd_pcm_format_physical_width") &&
               bind(c.set_silence, "snd_pcm_format_set_silence") &&
               bind(c.areas_silence, "snd_pcm_areas_silence") && bind(c.areas_copy, "snd_pcm_areas_copy");
}

}  // namespace

const AlsaCalls *alsa_calls() {
  pthread_once(&g_once, resolve);
  return g_resolved ? &g_calls : nullptr;
}

}  // namespace tap
