// The prober's frames and replies. A reply's fields each have one encoding:
// numbers as 8 little-endian bytes, texts as a 4-byte length and their
// bytes, a null text as the length 0xFFFFFFFF; the facts' fields go in the
// one fixed order of visit_fields.
#include "MSProbeWire.h"

#include <apr_strings.h>
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace {

constexpr std::uint32_t kNullText = 0xFFFFFFFFu;

// Calls visit on each field of facts (const or not), in the order of the
// bytes.
template <typename Facts, typename Visit>
void visit_fields(Facts &facts, Visit &&visit) {
  auto &v = facts.video;
  auto &a = facts.audio;
  for (auto *number : {&v.present, &v.bit_rate, &v.width, &v.height, &v.frame_rate_num,
                               &v.frame_rate_den, &v.codec_id, &v.extra, &a.present, &a.bit_rate,
                               &a.sample_rate, &a.channels, &a.bits_per_sample, &a.codec_id, &a.extra,
                               &facts.year, &facts.track})
    visit(*number);
  for (auto &number : v.geometry) visit(number);
  visit(facts.duration);
  visit(facts.size);
  for (auto *text : {&v.profile, &a.language, &facts.video_codec, &facts.audio_codec, &facts.title,
                            &facts.author, &facts.copyright, &facts.comment, &facts.album, &facts.genre})
    visit(*text);
}

// Appends the low bytes of value, least significant first.
void put_bytes(std::string *out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>(value >> (8 * i)));
}

struct Writer {
  std::string *out;
  void operator()(std::int32_t value) const { put_bytes(out, static_cast<std::uint64_t>(std::int64_t{value}), 8); }
  void operator()(std::int64_t value) const { put_bytes(out, static_cast<std::uint64_t>(value), 8); }
  void operator()(const std::string &text) const { (*this)(text.c_str()); }
  void operator()(const char *text) const {
    const std::uint32_t length = text ? static_cast<std::uint32_t>(std::strlen(text)) : kNullText;
    put_bytes(out, length, 4);
    if (text) out->append(text, length);
  }
};

struct Reader {
  apr_pool_t *pool;
  const char **data;
  const char *end;
  bool ok = true;

  bool take(std::uint64_t *value, int bytes) {
    if (!ok || end - *data < bytes) return ok = false;
    *value = 0;
    for (int i = 0; i < bytes; ++i) *value |= std::uint64_t{static_cast<unsigned char>((*data)[i])} << (8 * i);
    *data += bytes;
    return true;
  }
  void operator()(std::int32_t &value) {
    std::uint64_t raw = 0;
    if (take(&raw, 8)) value = static_cast<std::int32_t>(static_cast<std::int64_t>(raw));
  }
  void operator()(std::int64_t &value) {
    std::uint64_t raw = 0;
    if (take(&raw, 8)) value = static_cast<std::int64_t>(raw);
  }
  void operator()(std::string &text) {
    const char *read = nullptr;
    (*this)(read);
    if (ok) text = read ? read : "";
  }
  void operator()(const char *&text) {
    std::uint64_t length = 0;
    if (!take(&length, 4)) return;
    if (length == kNullText) {
      text = nullptr;
    } else if (static_cast<std::uint64_t>(end - *data) < length) {
      ok = false;
    } else {
      text = apr_pstrmemdup(pool, *data, static_cast<apr_size_t>(length));
      *data += length;
    }
  }
};

std::uint32_t get_length(const char *bytes) {
  std::uint32_t length = 0;
  for (int i = 0; i < 4; ++i) length |= std::uint32_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
  return length;
}

// Waits until channel can be read before the deadline (at once when
// timeout_ms < 0: the read then blocks).
FrameRead wait_readable(int channel, int timeout_ms, std::chrono::steady_clock::time_point deadline) {
  if (timeout_ms < 0) return FrameRead::ok;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return FrameRead::timed_out;
    pollfd ready{channel, POLLIN, 0};
    const int polled = poll(&ready, 1, static_cast<int>(left.count()));
    if (polled > 0) return FrameRead::ok;
    if (polled == 0) return FrameRead::timed_out;
    if (errno != EINTR) return FrameRead::closed;
  }
}

}  // namespace

bool probe_frame_write(int channel, const std::string &payload) {
  std::string frame;
  frame.reserve(payload.size() + 4);
  put_bytes(&frame, payload.size(), 4);
  frame += payload;
  for (std::size_t sent = 0; sent < frame.size();) {
    const ssize_t wrote = send(channel, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    sent += static_cast<std::size_t>(wrote);
  }
  return true;
}

// Each side sends one frame and waits for the other's, so a read never
// meets the start of a next frame: the first read takes what has come, most
// often the whole frame, into a buffer of its own, so that the payload's
// block is the frame's size.
FrameRead probe_frame_read(int channel, int timeout_ms, std::string *payload) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  char first[4096];
  std::size_t have = 0;
  while (have < 4) {
    const FrameRead ready = wait_readable(channel, timeout_ms, deadline);
    if (ready != FrameRead::ok) return ready;
    const ssize_t got = read(channel, first + have, sizeof first - have);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return FrameRead::closed;
    have += static_cast<std::size_t>(got);
  }
  const std::uint32_t length = get_length(first);
  if (length > PROBE_FRAME_MAX || have > 4 + std::size_t{length}) return FrameRead::closed;
  payload->assign(first + 4, have - 4);
  payload->resize(length);
  for (std::size_t done = have - 4; done < length;) {
    const FrameRead ready = wait_readable(channel, timeout_ms, deadline);
    if (ready != FrameRead::ok) return ready;
    const ssize_t got = read(channel, payload->data() + done, length - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return FrameRead::closed;
    done += static_cast<std::size_t>(got);
  }
  return FrameRead::ok;
}

void probe_reply_encode(int status, const std::vector<ProbeLogLine> &lines, const StreamFacts &facts,
                        std::string *out) {
  const Writer write{out};
  write(static_cast<std::int64_t>(status));
  write(static_cast<std::int64_t>(lines.size()));
  for (const ProbeLogLine &line : lines) {
    write(static_cast<std::int64_t>(line.level));
    write(line.module);
    write(line.message);
  }
  visit_fields(facts, write);
}

bool probe_reply_decode(apr_pool_t *pool, const std::string &reply, int *status, std::vector<ProbeLogLine> *lines,
                        StreamFacts *facts) {
  const char *data = reply.data();
  Reader read{pool, &data, reply.data() + reply.size()};
  std::int64_t number = 0, count = 0;
  read(number);
  *status = static_cast<int>(number);
  read(count);
  lines->clear();
  for (std::int64_t i = 0; read.ok && i < count; ++i) {
    ProbeLogLine line{};
    read(number);
    line.level = static_cast<int>(number);
    read(line.module);
    read(line.message);
    lines->push_back(std::move(line));
  }
  visit_fields(*facts, [&read](auto &field) { read(field); });
  return read.ok && data == reply.data() + reply.size();
}
