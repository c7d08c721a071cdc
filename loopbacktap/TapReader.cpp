#include "TapReader.h"

#include "TapPipe.h"

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>

namespace tap {
namespace {

uint16_t u16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// The fixed part of each message after its type byte.
constexpr size_t kFixedSize[] = {0, 12, 4, 8, 12, 4};

}  // namespace

long TapReader::fail(const char *format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  char where[64];
  std::snprintf(where, sizeof where, " (message at byte %" PRIu64 ")", offset_);
  error_ = std::string(text) + where;
  return -EPROTO;
}

int TapReader::feed(const uint8_t *bytes, size_t size) {
  if (!error_.empty()) return -EPROTO;
  buffer_.insert(buffer_.end(), bytes, bytes + size);
  size_t used = 0;
  while (used < buffer_.size()) {
    long length = parse(buffer_.data() + used, buffer_.size() - used);
    if (length < 0) return -EPROTO;
    if (length == 0) break;
    used += static_cast<size_t>(length);
    offset_ += static_cast<uint64_t>(length);
  }
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(used));
  return 0;
}

int TapReader::finish() {
  if (!error_.empty()) return -EPROTO;
  if (!buffer_.empty()) return static_cast<int>(fail("the pipe ended inside a message"));
  return 0;
}

long TapReader::parse(const uint8_t *p, size_t available) {
  if (closed_) return fail("data after the close message");
  uint8_t type = p[0];
  if (type >= std::size(kFixedSize)) return fail("unknown message type %u", type);
  size_t fixed = 1 + kFixedSize[type];
  if (available < fixed) return 0;
  TapMessage m{};
  m.type = type;
  const uint8_t *body = p + 1;
  switch (type) {
    case kMessageClose:
      closed_ = true;
      break;
    case kMessageStreamFormat: {
      m.tag = u32(body);
      m.channels = u16(body + 4);
      m.samples_per_sec = u32(body + 6);
      m.bits_per_sample = u16(body + 10);
      if (m.channels == 0 || m.samples_per_sec == 0 || m.bits_per_sample == 0 || m.bits_per_sample % 8 != 0)
        return fail("stream %" PRIu32 " announced an impossible format: %u channels, %" PRIu32 " Hz, %u bits",
                    m.tag, m.channels, m.samples_per_sec, m.bits_per_sample);
      auto found = streams_.find(m.tag);
      if (found != streams_.end() && found->second.ended)
        return fail("stream %" PRIu32 " announced again after its end", m.tag);
      streams_[m.tag] = {static_cast<uint32_t>(m.channels) * m.bits_per_sample / 8, false};
      break;
    }
    case kMessageStreamEnd: {
      m.tag = u32(body);
      auto found = streams_.find(m.tag);
      if (found == streams_.end() || found->second.ended)
        return fail("end of stream %" PRIu32 ", which is not playing", m.tag);
      found->second.ended = true;
      break;
    }
    case kMessageAudioData:
      m.tag = u32(body);
      m.size = u32(body + 4);
      if (long status = check_audio(m); status < 0) return status;
      break;
    case kMessagePosition:
      m.tag = u32(body);
      m.position_ms = u32(body + 8);
      if (u32(body + 4) != 1) return fail("position of stream %" PRIu32 " not flagged valid", m.tag);
      if (streams_.count(m.tag) == 0) return fail("position of stream %" PRIu32 ", which announced no format", m.tag);
      break;
    case kMessageLogLine:
      m.size = u32(body);
      if (m.size > kMaxLogBytes) return fail("log line of %" PRIu32 " bytes", m.size);
      break;
  }
  if (available < fixed + m.size) return 0;
  m.data = p + fixed;
  sink_(m);
  return static_cast<long>(fixed + m.size);
}

long TapReader::check_audio(const TapMessage &m) {
  auto found = streams_.find(m.tag);
  if (found == streams_.end()) return fail("audio of stream %" PRIu32 ", which announced no format", m.tag);
  if (found->second.ended) return fail("audio of stream %" PRIu32 " after its end", m.tag);
  if (m.size > kMaxAudioBytes) return fail("audio block of %" PRIu32 " bytes", m.size);
  if (m.size % found->second.frame_bytes != 0)
    return fail("audio block of %" PRIu32 " bytes is not whole frames of %" PRIu32 " bytes", m.size,
                found->second.frame_bytes);
  return 0;
}

}  // namespace tap
