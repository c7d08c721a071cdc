// TapReader: the server's end of the capture pipe. It takes the bytes as they
// come, in pieces of any size, hands over every whole message and checks the
// stream: known type bytes, possible formats, audio only for an announced,
// unfinished stream and in whole frames, the valid flag, nothing after the
// close message. The first fault stops it with a message saying what and
// where. Single-threaded; messages handed over point into the reader's
// buffer and are valid only during the call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tap {

struct TapMessage {
  uint8_t type;
  uint32_t tag;               // every type but close and log line
  uint16_t channels;          // stream format
  uint32_t samples_per_sec;   // stream format
  uint16_t bits_per_sample;   // stream format
  uint32_t position_ms;       // position
  const uint8_t *data;        // audio data, log line
  uint32_t size;              // audio data, log line
};

class TapReader {
 public:
  using Sink = std::function<void(const TapMessage &)>;
  explicit TapReader(Sink sink) : sink_(std::move(sink)) {}

  // Reads size more bytes: 0, or -EPROTO at the first malformed message
  // (error() says why; every later call fails the same way).
  int feed(const uint8_t *bytes, size_t size);
  // The input ended: 0, or -EPROTO when it ended inside a message.
  int finish();
  const std::string &error() const { return error_; }
  bool closed() const { return closed_; }

  // The largest payloads accepted: a longer one is taken as a broken stream.
  static constexpr uint32_t kMaxAudioBytes = 64u << 20;
  static constexpr uint32_t kMaxLogBytes = 1024;

 private:
  struct Stream {
    uint32_t frame_bytes;
    bool ended;
  };
  // Parses one message at the front of the buffer: its length, 0 when it is
  // not all there yet, or -EPROTO.
  long parse(const uint8_t *p, size_t available);
  long fail(const char *format, ...) __attribute__((format(printf, 2, 3)));
  long check_audio(const TapMessage &m);

  Sink sink_;
  std::vector<uint8_t> buffer_;
  uint64_t offset_ = 0;  // of the buffer's first byte in the whole input
  std::map<uint32_t, Stream> streams_;
  bool closed_ = false;
  std::string error_;
};

}  // namespace tap
