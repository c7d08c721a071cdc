// The capture classes over test doubles of the audio objects, with the pipe
// attached to a real pipe read back through the reader.
#include "AlsaAudio.h"
#include "TapFixtures.h"
#include "TapPipe.h"
#include "TapProxies.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <optional>

namespace {

using namespace tap;

template <typename I>
class Double : public I {
 public:
  int QueryInterface(const Guid &, void **out) override {
    *out = nullptr;
    return -ENOTSUP;
  }
  unsigned long AddRef() override { return ++refs; }
  unsigned long Release() override { return --refs; }
  std::atomic<unsigned long> refs{1};
};

struct ClockDouble : Double<IAudioClock> {
  int GetFrequency(uint64_t *f) override {
    *f = 48000;
    return 0;
  }
  int GetPosition(uint64_t *p) override {
    *p = ticks;
    return 0;
  }
  uint64_t ticks = 0;
};

struct RenderDouble : Double<IAudioRenderClient> {
  int GetBuffer(uint32_t frames, uint8_t **data) override {
    buffer.assign(frames * 4, 0x55);
    *data = buffer.data();
    return 0;
  }
  long ReleaseBuffer(uint32_t frames, uint32_t flags, const WriteCall &) override {
    released_flags = flags;
    return accept.value_or(static_cast<long>(frames));
  }
  std::vector<uint8_t> buffer;
  uint32_t released_flags = 0;
  std::optional<long> accept;  // what the device returns; all frames when unset
};

// A stereo 16-bit client; with_clock says whether it keeps time.
struct ClientDouble : Double<IAudioClient> {
  int Initialize(snd_pcm_hw_params_t *) override { return 0; }
  int GetStreamFormat(WaveFormat *f) override {
    *f = format;
    return 0;
  }
  int GetService(const Guid &iid, void **out) override {
    if (iid == IAudioRenderClient::kIid) {
      render.AddRef();
      *out = static_cast<IAudioRenderClient *>(&render);
      return 0;
    }
    if (iid == IAudioClock::kIid && with_clock) {
      clock.AddRef();
      *out = static_cast<IAudioClock *>(&clock);
      return 0;
    }
    return -ENOTSUP;
  }
  WaveFormat format = wave_format_of(SND_PCM_FORMAT_S16_LE, 2, 48000, 16);
  bool with_clock = true;
  RenderDouble render;
  ClockDouble clock;
};

class TapProxiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pipe(fds_), 0);
    fcntl(fds_[0], F_SETFL, O_NONBLOCK);
    pipe_attach(fds_[1]);
  }
  void TearDown() override {
    pipe_close();
    close(fds_[0]);
  }
  // The messages sent since the last call.
  TapCollector &sent() {
    EXPECT_TRUE(collector_.drain(fds_[0])) << collector_.reader.error();
    return collector_;
  }
  myAudioClient *initialized(ClientDouble &inner) {
    auto *client = new myAudioClient(&inner);
    EXPECT_EQ(client->Initialize(nullptr), 0);
    return client;
  }
  myAudioRenderClient *render_of(myAudioClient *client) {
    void *render = nullptr;
    EXPECT_EQ(client->GetService(IAudioRenderClient::kIid, &render), 0);
    return static_cast<myAudioRenderClient *>(render);
  }

  int fds_[2];
  TapCollector collector_;
};

TEST_F(TapProxiesTest, ABlockIsSentAfterItsPositionAndTheDevicePlaysSilence) {
  ClientDouble inner;
  myAudioClient *client = initialized(inner);
  myAudioRenderClient *render = render_of(client);
  inner.clock.ticks = 48000 * 3;  // three seconds at 48,000 ticks a second
  uint8_t *data = nullptr;
  ASSERT_EQ(render->GetBuffer(10, &data), 0);
  std::memset(data, 7, 40);
  EXPECT_EQ(render->ReleaseBuffer(10, 0, {WriteCall::kInterleaved, nullptr, 0}), 10);
  EXPECT_EQ(inner.render.released_flags, kBufferFlagsSilent);

  auto &records = sent().records;
  std::vector<TapRecord> stream;
  for (const TapRecord &r : records)
    if (r.type != kMessageLogLine) stream.push_back(r);
  ASSERT_EQ(stream.size(), 3u);
  EXPECT_EQ(stream[0].type, kMessageStreamFormat);
  EXPECT_EQ(stream[0].channels, 2);
  EXPECT_EQ(stream[0].rate, 48000u);
  EXPECT_EQ(stream[0].bits, 16);
  EXPECT_EQ(stream[1].type, kMessagePosition);
  EXPECT_EQ(stream[1].position_ms, 3000u);
  EXPECT_EQ(stream[2].type, kMessageAudioData);
  EXPECT_EQ(stream[2].bytes, std::string(40, '\7'));
  EXPECT_EQ(stream[1].tag, stream[0].tag);
  EXPECT_EQ(stream[2].tag, stream[0].tag);
  render->Release();
  client->Release();
}

TEST_F(TapProxiesTest, ASilentFlaggedBlockIsSentAsZerosOfItsFullLength) {
  ClientDouble inner;
  myAudioClient *client = initialized(inner);
  myAudioRenderClient *render = render_of(client);
  uint8_t *data = nullptr;
  ASSERT_EQ(render->GetBuffer(25, &data), 0);
  EXPECT_EQ(render->ReleaseBuffer(25, kBufferFlagsSilent, {WriteCall::kInterleaved, nullptr, 0}), 25);
  auto audio = sent().of_type(kMessageAudioData);
  ASSERT_EQ(audio.size(), 1u);
  EXPECT_EQ(audio[0].bytes, std::string(100, '\0'));
  render->Release();
  client->Release();
}

TEST_F(TapProxiesTest, OnlyTheFramesTheDeviceTookAreSent) {
  ClientDouble inner;
  inner.render.accept = 3;
  myAudioClient *client = initialized(inner);
  myAudioRenderClient *render = render_of(client);
  uint8_t *data = nullptr;
  ASSERT_EQ(render->GetBuffer(10, &data), 0);
  EXPECT_EQ(render->ReleaseBuffer(10, 0, {WriteCall::kInterleaved, nullptr, 0}), 3);
  auto audio = sent().of_type(kMessageAudioData);
  ASSERT_EQ(audio.size(), 1u);
  EXPECT_EQ(audio[0].bytes.size(), 12u);

  inner.render.accept = -EAGAIN;
  ASSERT_EQ(render->GetBuffer(10, &data), 0);
  EXPECT_EQ(render->ReleaseBuffer(10, 0, {WriteCall::kInterleaved, nullptr, 0}), -EAGAIN);
  EXPECT_EQ(sent().of_type(kMessageAudioData).size(), 1u);
  render->Release();
  client->Release();
}

TEST_F(TapProxiesTest, AStreamWithoutAClockAnnouncesItsFormatButSendsNoDataAndNoEnd) {
  ClientDouble inner;
  inner.with_clock = false;
  myAudioClient *client = initialized(inner);
  myAudioRenderClient *render = render_of(client);
  uint8_t *data = nullptr;
  ASSERT_EQ(render->GetBuffer(10, &data), 0);
  EXPECT_EQ(render->ReleaseBuffer(10, 0, {WriteCall::kInterleaved, nullptr, 0}), 10);
  poll_position();
  render->Release();
  client->Release();
  TapCollector &c = sent();
  EXPECT_EQ(c.of_type(kMessageStreamFormat).size(), 1u);
  EXPECT_TRUE(c.of_type(kMessageAudioData).empty());
  EXPECT_TRUE(c.of_type(kMessagePosition).empty());
  EXPECT_TRUE(c.of_type(kMessageStreamEnd).empty());
  EXPECT_TRUE(c.logged("Failed to retrieve the IID_IAudioClock interface, time info will not be available"));
  EXPECT_TRUE(c.logged("could not obtain time"));
  EXPECT_TRUE(c.logged("could not get position"));
}

TEST_F(TapProxiesTest, AClocklessStreamThatIsDestroyedIsNoLongerCurrent) {
  ClientDouble inner;
  inner.with_clock = false;
  myAudioClient *client = initialized(inner);
  {
    PipeLock lock;
    EXPECT_EQ(current_stream(), client);
  }
  client->Release();
  PipeLock lock;
  EXPECT_EQ(current_stream(), nullptr);
}

TEST_F(TapProxiesTest, TwoStreamsInTurnMakeTheSecondCurrentAndTheFirstsEndLeavesNone) {
  ClientDouble first_inner, second_inner;
  myAudioClient *first = initialized(first_inner);
  myAudioClient *second = initialized(second_inner);
  uint32_t first_tag = first->tag();
  EXPECT_NE(first_tag, second->tag());
  {
    PipeLock lock;
    EXPECT_EQ(current_stream(), second);
  }
  first->Release();
  {
    PipeLock lock;
    EXPECT_EQ(current_stream(), nullptr);
  }
  auto ends = sent().of_type(kMessageStreamEnd);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].tag, first_tag);
  second->Release();
  EXPECT_EQ(sent().of_type(kMessageStreamEnd).size(), 2u);
}

TEST_F(TapProxiesTest, QueryInterfaceForTheProxiedInterfaceThenReleaseLeavesTheProxyAlive) {
  ClientDouble inner;
  auto *client = new myAudioClient(&inner);
  void *self = nullptr;
  ASSERT_EQ(client->QueryInterface(IAudioClient::kIid, &self), 0);
  EXPECT_EQ(self, static_cast<IAudioClient *>(client));
  EXPECT_EQ(client->Release(), 1u);
  WaveFormat format{};
  EXPECT_EQ(client->GetStreamFormat(&format), 0);
  EXPECT_EQ(format.channels, 2);
  EXPECT_EQ(client->Release(), 0u);
  // The proxy took over the creator's reference and held one of its own.
  EXPECT_EQ(inner.refs, 0u);
  EXPECT_TRUE(sent().logged("query interface for proxied object, returning self"));
}

TEST_F(TapProxiesTest, TheFormatChecksLogWhatTheServerCannotTakeWithoutFailing) {
  struct Case {
    snd_pcm_format_t format;
    unsigned channels;
    int bits;
    const char *logged;  // null: nothing to complain about
  };
  const Case cases[] = {
      {SND_PCM_FORMAT_S16_LE, 2, 16, nullptr},
      {SND_PCM_FORMAT_FLOAT_LE, 8, 32, nullptr},
      {SND_PCM_FORMAT_S24_3LE, 2, 24, nullptr},
      {SND_PCM_FORMAT_S32_LE, 2, 32, "ERROR - Unexpected subformat GUID {00000001-0000-0010-8000-00AA00389B71}"},
      {SND_PCM_FORMAT_S24_LE, 2, 32, "ERROR - Unexpected value for valid bits per sample: 24, expected: 32"},
      {SND_PCM_FORMAT_FLOAT64_LE, 2, 64, "ERROR - Unexpected format tag 3"},
      {SND_PCM_FORMAT_S16_BE, 2, 16, "ERROR - Unexpected format tag 0"},
  };
  for (const Case &c : cases) {
    ClientDouble inner;
    inner.format = wave_format_of(c.format, c.channels, 44100, c.bits);
    myAudioClient *client = initialized(inner);
    client->Release();
    TapCollector &got = sent();
    EXPECT_EQ(c.logged != nullptr && got.logged(c.logged), c.logged != nullptr) << c.format;
    EXPECT_EQ(got.logged("ERROR"), c.logged != nullptr) << c.format;
    auto formats = got.of_type(kMessageStreamFormat);
    ASSERT_FALSE(formats.empty());
    EXPECT_EQ(formats.back().channels, c.channels);
    EXPECT_EQ(formats.back().bits, c.bits);
    got.records.clear();
  }
}

TEST_F(TapProxiesTest, LogLinesNameTheRoutineAndLineAndFitIn1024Bytes) {
  TAP_LOG("install_hooks", "%s", std::string(2000, 'x').c_str());
  auto logs = sent().of_type(kMessageLogLine);
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0].bytes.rfind("install_hooks (line ", 0), 0u);
  EXPECT_EQ(logs[0].bytes.size(), 1023u);
}

}  // namespace
