// The audio objects over ALSA's null device, in this process.
#include "AlsaAudio.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace tap;

class AlsaAudioNullTest : public ::testing::Test {
 protected:
  void SetUp() override {
    calls_ = alsa_calls();
    ASSERT_NE(calls_, nullptr);
    IMMDeviceEnumerator *enumerator = alsa_enumerator_create(calls_);
    ASSERT_EQ(enumerator->GetDevice("null", SND_PCM_STREAM_PLAYBACK, 0, &device_), 0);
    enumerator->Release();
    void *client = nullptr;
    ASSERT_EQ(device_->Activate(IAudioClient::kIid, &client), 0);
    client_ = static_cast<IAudioClient *>(client);
  }
  void TearDown() override {
    snd_pcm_t *pcm = device_ ? device_->GetHandle() : nullptr;
    if (client_) client_->Release();
    if (device_) device_->Release();
    if (pcm) calls_->close(pcm);
  }
  int initialize(snd_pcm_access_t access) {
    snd_pcm_t *pcm = device_->GetHandle();
    std::vector<uint8_t> storage(snd_pcm_hw_params_sizeof());
    auto *params = reinterpret_cast<snd_pcm_hw_params_t *>(storage.data());
    snd_pcm_hw_params_any(pcm, params);
    snd_pcm_hw_params_set_access(pcm, params, access);
    snd_pcm_hw_params_set_format(pcm, params, SND_PCM_FORMAT_S16_LE);
    snd_pcm_hw_params_set_channels(pcm, params, 2);
    snd_pcm_hw_params_set_rate(pcm, params, 48000, 0);
    return client_->Initialize(params);
  }
  template <typename I>
  I *service() {
    void *out = nullptr;
    EXPECT_EQ(client_->GetService(I::kIid, &out), 0);
    return static_cast<I *>(out);
  }

  const AlsaCalls *calls_ = nullptr;
  IMMDevice *device_ = nullptr;
  IAudioClient *client_ = nullptr;
};

TEST_F(AlsaAudioNullTest, BlocksGoToTheDeviceOnTheirOwnRoadAndTheClockCountsThem) {
  ASSERT_EQ(initialize(SND_PCM_ACCESS_RW_INTERLEAVED), 0);
  WaveFormat format{};
  ASSERT_EQ(client_->GetStreamFormat(&format), 0);
  EXPECT_EQ(format.channels, 2);
  EXPECT_EQ(format.samples_per_sec, 48000u);
  auto *render = service<IAudioRenderClient>();
  auto *clock = service<IAudioClock>();
  uint64_t frequency = 0, position = 1;
  ASSERT_EQ(clock->GetFrequency(&frequency), 0);
  EXPECT_EQ(frequency, kClockFrequency);
  ASSERT_EQ(clock->GetPosition(&position), 0);
  EXPECT_EQ(position, 0u);
  uint8_t *data = nullptr;
  ASSERT_EQ(render->GetBuffer(480, &data), 0);
  EXPECT_EQ(render->ReleaseBuffer(480, kBufferFlagsSilent, {WriteCall::kInterleaved, nullptr, 0}), 480);
  ASSERT_EQ(render->GetBuffer(480, &data), 0);
  EXPECT_EQ(render->ReleaseBuffer(480, 0, {WriteCall::kInterleaved, nullptr, 0}), 480);
  // The null device plays at once: 960 frames at 48 kHz are 20 ms.
  ASSERT_EQ(clock->GetPosition(&position), 0);
  EXPECT_EQ(position, 20000u);
  render->Release();
  clock->Release();
}

TEST_F(AlsaAudioNullTest, NonInterleavedBlocksAreWrittenChannelByChannel) {
  ASSERT_EQ(initialize(SND_PCM_ACCESS_RW_NONINTERLEAVED), 0);
  auto *render = service<IAudioRenderClient>();
  uint8_t *data = nullptr;
  ASSERT_EQ(render->GetBuffer(100, &data), 0);
  EXPECT_EQ(render->ReleaseBuffer(100, 0, {WriteCall::kNonInterleaved, nullptr, 0}), 100);
  ASSERT_EQ(render->GetBuffer(100, &data), 0);
  EXPECT_EQ(render->ReleaseBuffer(100, kBufferFlagsSilent, {WriteCall::kNonInterleaved, nullptr, 0}), 100);
  render->Release();
}

}  // namespace
