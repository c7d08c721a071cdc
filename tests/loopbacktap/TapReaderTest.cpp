// The server's reading of the capture pipe: whole messages from pieces of
// any size, and a clear error for every malformed stream.
#include "TapFixtures.h"
#include "TapPipe.h"

#include <gtest/gtest.h>

namespace {

using namespace tap;

std::string le(uint32_t v, int width) {
  std::string s;
  for (int i = 0; i < width; ++i) s += static_cast<char>(v >> (8 * i));
  return s;
}
std::string format_message(uint32_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
  return "\1" + le(tag, 4) + le(channels, 2) + le(rate, 4) + le(bits, 2);
}
std::string audio_message(uint32_t tag, const std::string &bytes) {
  return "\3" + le(tag, 4) + le(static_cast<uint32_t>(bytes.size()), 4) + bytes;
}
std::string position_message(uint32_t tag, uint32_t ms) { return "\4" + le(tag, 4) + le(1, 4) + le(ms, 4); }
std::string end_message(uint32_t tag) { return "\2" + le(tag, 4); }
std::string log_message(const std::string &text) {
  return "\5" + le(static_cast<uint32_t>(text.size()), 4) + text;
}

// Feeds the stream whole; returns the reader's error, "" when it took it.
std::string read_all(TapCollector &c, const std::string &stream) {
  if (c.reader.feed(reinterpret_cast<const uint8_t *>(stream.data()), stream.size()) != 0 ||
      c.reader.finish() != 0)
    return c.reader.error();
  return "";
}

const std::string kGoodStream = log_message("hello") + format_message(7, 2, 44100, 16) + position_message(7, 0) +
                                audio_message(7, "abcdefgh") + position_message(7, 10) + end_message(7) +
                                std::string(1, '\0');

TEST(TapReaderTest, AStreamReadInPiecesOfAnySizeGivesTheSameMessages) {
  TapCollector whole;
  ASSERT_EQ(read_all(whole, kGoodStream), "");
  TapCollector bytewise;
  for (char byte : kGoodStream) bytewise.reader.feed(reinterpret_cast<const uint8_t *>(&byte), 1);
  ASSERT_EQ(bytewise.reader.finish(), 0);
  ASSERT_EQ(whole.records.size(), 7u);
  ASSERT_EQ(bytewise.records.size(), whole.records.size());
  for (size_t i = 0; i < whole.records.size(); ++i) {
    EXPECT_EQ(bytewise.records[i].type, whole.records[i].type);
    EXPECT_EQ(bytewise.records[i].bytes, whole.records[i].bytes);
  }
  EXPECT_EQ(whole.audio(7), "abcdefgh");
  EXPECT_EQ(whole.records[4].position_ms, 10u);
  EXPECT_TRUE(whole.reader.closed());
}

TEST(TapReaderTest, MalformedStreamsStopTheReaderWithAClearError) {
  struct Case {
    std::string stream;
    const char *error;
  };
  const Case cases[] = {
      {"\x09", "unknown message type 9 (message at byte 0)"},
      {audio_message(3, "abcd"), "audio of stream 3, which announced no format"},
      {format_message(3, 2, 44100, 16) + audio_message(3, "abc"), "audio block of 3 bytes is not whole frames of 4 bytes (message at byte 13)"},
      {format_message(3, 0, 44100, 16), "stream 3 announced an impossible format: 0 channels, 44100 Hz, 16 bits"},
      {format_message(3, 2, 44100, 12), "impossible format"},
      {format_message(3, 2, 44100, 16) + end_message(3) + audio_message(3, "abcd"), "audio of stream 3 after its end"},
      {end_message(4), "end of stream 4, which is not playing"},
      {format_message(3, 2, 44100, 16) + "\4" + le(3, 4) + le(0, 4) + le(5, 4), "not flagged valid"},
      {format_message(3, 2, 44100, 16) + "\3" + le(3, 4) + le(0xFFFFFFF0u, 4), "audio block of 4294967280 bytes"},
      {log_message(std::string(2000, 'x')), "log line of 2000 bytes"},
      {std::string(2, '\0'), "data after the close message"},
      {format_message(3, 2, 44100, 16).substr(0, 5), "the pipe ended inside a message"},
  };
  for (const Case &c : cases) {
    TapCollector collector;
    std::string error = read_all(collector, c.stream);
    EXPECT_NE(error.find(c.error), std::string::npos) << "got: " << error;
    EXPECT_NE(collector.reader.feed(reinterpret_cast<const uint8_t *>("\0"), 1), 0);
  }
}

}  // namespace
