// TapHooks: the ALSA calls the capture library puts in front of ALSA's own.
// A playback handle opened once the hooks are installed is opened through the
// enumerator proxy and keeps its device, audio client and render client here
// until the player closes it; other handles, and every call made while a hook
// is already running on the thread (ALSA calling itself), go straight to ALSA.
// A hook holds the capture table's read lock while it uses a handle's
// proxies; closing takes the write lock, so proxies never vanish under a call.
#include "TapHooks.h"

#include "AlsaAudio.h"
#include "TapProxies.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

namespace tap {
namespace {

struct Capture {
  myMMDevice *device = nullptr;
  myAudioClient *client = nullptr;
  myAudioRenderClient *render = nullptr;
  snd_pcm_format_t format = SND_PCM_FORMAT_UNKNOWN;
  unsigned channels = 0;
  const snd_pcm_channel_area_t *areas = nullptr;
};

std::atomic<bool> g_installed{false};
constinit pthread_rwlock_t g_table_lock = PTHREAD_RWLOCK_WRITER_NONRECURSIVE_INITIALIZER_NP;
std::map<snd_pcm_t *, Capture> *g_table = nullptr;
thread_local bool t_inside = false;

class InsideHook {
 public:
  InsideHook() { t_inside = true; }
  ~InsideHook() { t_inside = false; }
  InsideHook(const InsideHook &) = delete;
  InsideHook &operator=(const InsideHook &) = delete;
};

// The capture of pcm with the table read-locked for the scope, or none.
class Captured {
 public:
  explicit Captured(snd_pcm_t *pcm) {
    if (!g_installed || t_inside) return;
    pthread_rwlock_rdlock(&g_table_lock);
    locked_ = true;
    if (g_table == nullptr) return;
    auto it = g_table->find(pcm);
    if (it != g_table->end()) capture_ = &it->second;
  }
  ~Captured() {
    if (locked_) pthread_rwlock_unlock(&g_table_lock);
  }
  Captured(const Captured &) = delete;
  Captured &operator=(const Captured &) = delete;
  Capture *get() const { return capture_; }

 private:
  bool locked_ = false;
  Capture *capture_ = nullptr;
};

class TableWriter {
 public:
  TableWriter() {
    pthread_rwlock_wrlock(&g_table_lock);
    if (g_table == nullptr) g_table = new std::map<snd_pcm_t *, Capture>;
  }
  ~TableWriter() { pthread_rwlock_unlock(&g_table_lock); }
  TableWriter(const TableWriter &) = delete;
  TableWriter &operator=(const TableWriter &) = delete;
};

void release_render(Capture &capture) {
  if (capture.render != nullptr) capture.render->Release();
  capture.render = nullptr;
}

int open_captured(const AlsaCalls *calls, snd_pcm_t **pcm, const char *name, snd_pcm_stream_t stream,
                  int mode) {
  const char *routine = "my_snd_pcm_open";
  TAP_LOG(routine, "trying to impersonate MMDeviceEnumerator");
  myMMDeviceEnumerator *enumerator = myMMDeviceEnumerator::createInstance(alsa_enumerator_create(calls));
  if (enumerator == nullptr) {
    TAP_LOG(routine, "failed to impersonate MMDeviceEnumerator");
    return calls->open(pcm, name, stream, mode);
  }
  TAP_LOG(routine, "succeeded to impersonate MMDeviceEnumerator");
  IMMDevice *device = nullptr;
  int status = enumerator->GetDevice(name, stream, mode, &device);
  enumerator->Release();
  if (status != 0) return status;
  void *client = nullptr;
  device->Activate(IAudioClient::kIid, &client);
  *pcm = device->GetHandle();
  TableWriter writer;
  Capture &capture = (*g_table)[*pcm];
  capture.device = static_cast<myMMDevice *>(device);
  capture.client = static_cast<myAudioClient *>(client);
  return 0;
}

int set_params_captured(Capture &capture, const AlsaCalls *calls, snd_pcm_hw_params_t *params) {
  int status = capture.client->Initialize(params);
  if (status != 0) return status;
  calls->get_format(params, &capture.format);
  calls->get_channels(params, &capture.channels);
  capture.areas = nullptr;
  release_render(capture);
  void *render = nullptr;
  if (capture.client->GetService(IAudioRenderClient::kIid, &render) == 0)
    capture.render = static_cast<myAudioRenderClient *>(render);
  return 0;
}

// Copies frames from areas at offset into the interleaved block.
void gather(const AlsaCalls *calls, const Capture &capture, const snd_pcm_channel_area_t *areas,
            snd_pcm_uframes_t offset, snd_pcm_uframes_t frames, uint8_t *block) {
  unsigned bits = static_cast<unsigned>(calls->physical_width(capture.format));
  unsigned channels = capture.channels;
  std::vector<snd_pcm_channel_area_t> to(channels);
  for (unsigned ch = 0; ch < channels; ++ch) to[ch] = {block, ch * bits, bits * channels};
  calls->areas_copy(to.data(), 0, areas, offset, channels, frames, capture.format);
}

// The render client's buffer for frames of a watched device, or null when
// the call goes straight to ALSA: the device is not watched, has no render
// client, the call carries no data, or the client cannot give the buffer.
uint8_t *render_block(Capture *capture, bool has_data, snd_pcm_uframes_t frames) {
  uint8_t *block = nullptr;
  if (capture == nullptr || capture->render == nullptr || !has_data || frames == 0 || frames > UINT32_MAX ||
      capture->render->GetBuffer(static_cast<uint32_t>(frames), &block) != 0)
    return nullptr;
  return block;
}

// writei and mmap_writei: the player's block goes into the render client's
// buffer and is released there.
snd_pcm_sframes_t write_interleaved(const AlsaCalls *calls, snd_pcm_t *pcm, const void *buffer,
                                    snd_pcm_uframes_t size, WriteCall::Kind kind) {
  auto forward = kind == WriteCall::kInterleaved ? calls->writei : calls->mmap_writei;
  Captured captured(pcm);
  Capture *capture = captured.get();
  uint8_t *block = render_block(capture, buffer != nullptr, size);
  if (block == nullptr) return forward(pcm, buffer, size);
  InsideHook inside;
  std::memcpy(block, buffer, size * capture->render->block_align());
  return capture->render->ReleaseBuffer(static_cast<uint32_t>(size), 0, {kind, nullptr, 0});
}

// writen and mmap_writen: the channels are interleaved into the render
// client's buffer. ALSA plays a channel whose buffer is null as silence; all
// null is a silent block.
snd_pcm_sframes_t write_channels(const AlsaCalls *calls, snd_pcm_t *pcm, void **bufs, snd_pcm_uframes_t size,
                                 WriteCall::Kind kind) {
  auto forward = kind == WriteCall::kNonInterleaved ? calls->writen : calls->mmap_writen;
  Captured captured(pcm);
  Capture *capture = captured.get();
  uint8_t *block = render_block(capture, bufs != nullptr, size);
  if (block == nullptr) return forward(pcm, bufs, size);
  InsideHook inside;
  unsigned bits = static_cast<unsigned>(calls->physical_width(capture->format));
  unsigned channels = capture->channels;
  std::vector<snd_pcm_channel_area_t> from(channels);
  bool silent = true;
  for (unsigned ch = 0; ch < channels; ++ch) {
    from[ch] = {bufs[ch], 0, bits};
    silent = silent && bufs[ch] == nullptr;
  }
  gather(calls, *capture, from.data(), 0, size, block);
  return capture->render->ReleaseBuffer(static_cast<uint32_t>(size), silent ? kBufferFlagsSilent : 0,
                                        {kind, nullptr, 0});
}

}  // namespace

void hooks_install() { g_installed = true; }

void hooks_forget_in_child() { g_installed = false; }

}  // namespace tap

using namespace tap;

#define TAP_EXPORT extern "C" __attribute__((visibility("default")))

TAP_EXPORT int snd_pcm_open(snd_pcm_t **pcm, const char *name, snd_pcm_stream_t stream, int mode) {
  const AlsaCalls *calls = alsa_calls();
  if (calls == nullptr) return -ENOSYS;
  if (!g_installed || t_inside || stream != SND_PCM_STREAM_PLAYBACK) return calls->open(pcm, name, stream, mode);
  InsideHook inside;
  return open_captured(calls, pcm, name, stream, mode);
}

TAP_EXPORT int snd_pcm_hw_params(snd_pcm_t *pcm, snd_pcm_hw_params_t *params) {
  const AlsaCalls *calls = alsa_calls();
  if (calls == nullptr) return -ENOSYS;
  Captured captured(pcm);
  if (captured.get() == nullptr || captured.get()->client == nullptr) return calls->hw_params(pcm, params);
  InsideHook inside;
  return set_params_captured(*captured.get(), calls, params);
}

TAP_EXPORT snd_pcm_sframes_t snd_pcm_writei(snd_pcm_t *pcm, const void *buffer, snd_pcm_uframes_t size) {
  const AlsaCalls *calls = alsa_calls();
  if (calls == nullptr) return -ENOSYS;
  return write_interleaved(calls, pcm, buffer, size, WriteCall::kInterleaved);
}

TAP_EXPORT snd_pcm_sframes_t snd_pcm_mmap_writei(snd_pcm_t *pcm, const void *buffer, snd_pcm_uframes_t size) {
  const AlsaCalls *calls = alsa_calls();
  if (calls == nullptr) return -ENOSYS;
  return write_interleaved(calls, pcm, buffer, size, WriteCall::kMmapInterleaved);
}

TAP_EXPORT snd_pcm_sframes_t snd_pcm_writen(snd_pcm_t *pcm, void **bufs, snd_pcm_uframes_t size) {
  const AlsaCalls *calls = alsa_calls();
  if (calls == nullptr) return -ENOSYS;
  return write_channels(calls, pcm, bufs, size, WriteCall::kNonInterleaved);
}

TAP_EXPORT snd_pcm_sframes_t snd_pcm_mmap_writen(snd_pcm_t *pcm, void **bufs, snd_pcm_uframes_t size) {
  const AlsaCalls *calls = alsa_calls();
  if (calls == nullptr) return -ENOSYS;
  return write_channels(calls, pcm, bufs, size, WriteCall::kMmapNonInterleaved);
}

TAP_EXPORT int snd_pcm_mmap_begin(snd_pcm_t *pcm, const snd_pcm_channel_area_t **areas,
                                  snd_pcm_uframes_t *offset, snd_pcm_uframes_t *frames) {
  const AlsaCalls *calls = alsa_calls();
  if (calls == nullptr) return -ENOSYS;
  Captured captured(pcm);
  int status = calls->mmap_begin(pcm, areas, offset, frames);
  if (status >= 0 && captured.get() != nullptr) captured.get()->areas = *areas;
  return status;
}

TAP_EXPORT snd_pcm_sframes_t snd_pcm_mmap_commit(snd_pcm_t *pcm, snd_pcm_uframes_t offset,
                                                 snd_pcm_uframes_t frames) {
  const AlsaCalls *calls = alsa_calls();
  if (calls == nullptr) return -ENOSYS;
  Captured captured(pcm);
  Capture *capture = captured.get();
  uint8_t *block = render_block(capture, capture != nullptr && capture->areas != nullptr, frames);
  if (block == nullptr) return calls->mmap_commit(pcm, offset, frames);
  InsideHook inside;
  gather(calls, *capture, capture->areas, offset, frames, block);
  return capture->render->ReleaseBuffer(static_cast<uint32_t>(frames), 0,
                                        {WriteCall::kMmapCommit, capture->areas, offset});
}

TAP_EXPORT int snd_pcm_close(snd_pcm_t *pcm) {
  const AlsaCalls *calls = alsa_calls();
  if (calls == nullptr) return -ENOSYS;
  if (g_installed && !t_inside) {
    InsideHook inside;
    TableWriter writer;
    auto it = g_table->find(pcm);
    if (it != g_table->end()) {
      Capture &capture = it->second;
      // The render client points at its audio client: it goes first.
      release_render(capture);
      if (capture.client != nullptr) capture.client->Release();
      capture.device->Release();
      g_table->erase(it);
    }
  }
  return calls->close(pcm);
}
