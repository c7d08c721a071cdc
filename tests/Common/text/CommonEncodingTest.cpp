// UTF-8 checks and conversions, digests and Base64, start-up and unique ids.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Common.h"
#include "CommonUserMessage.h"
#include "CommonUtf8.h"
#include "LogCapture.h"
#include "PlatformCodePage.h"
#include "ScopedLocale.h"

namespace {

TEST(Utf8Check, WellFormedXmlText) {
  EXPECT_TRUE(utf8_is_xml_text("plain\ttab\r\n"));
  EXPECT_TRUE(utf8_is_xml_text("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5"));
  EXPECT_TRUE(utf8_is_xml_text(""));
  EXPECT_FALSE(utf8_is_xml_text(nullptr));
}

TEST(Utf8Check, RejectsControlsBadLeadsAndCutSequences) {
  EXPECT_FALSE(utf8_is_xml_text("bell\x07"));
  EXPECT_FALSE(utf8_is_xml_text("caf\xE9"));
  EXPECT_FALSE(utf8_is_xml_text("\x80x"));
  EXPECT_FALSE(utf8_is_xml_text("\xF5\x80\x80\x80"));
  EXPECT_FALSE(utf8_is_xml_text("\xFF"));
  EXPECT_FALSE(utf8_is_xml_text("cut \xE2\x82"));
  EXPECT_FALSE(utf8_is_xml_text_n("\xE2\x82\xAC", 2)) << "sequence cut by the length";
  EXPECT_TRUE(utf8_is_xml_text_n("\xE2\x82\xAC", 3));
  EXPECT_FALSE(utf8_is_xml_text_n("a\0b", 3)) << "NUL is a forbidden control byte";
}

TEST(TextToUtf8, FromLatin1AndTheSystemEncoding) {
  TestPool pool;
  EXPECT_STREQ(text_to_utf8(pool, "ISO-8859-1", "caf\xE9 \xBD", 6), "caf\xC3\xA9 \xC2\xBD");
  ScopedLocale plain("C");
  EXPECT_STREQ(platform_system_encoding(), "ISO-8859-1");
  EXPECT_STREQ(text_to_utf8(pool, nullptr, "\xC9t\xE9", 3), "\xC3\x89t\xC3\xA9");
}

TEST(TextToUtf8, FailuresGiveTheSharedEmptyString) {
  TestPool pool;
  LogCapture log;
  EXPECT_EQ(text_to_utf8(pool, "no-such-charset", "x", 1), common_empty_string);
  EXPECT_EQ(log.count("Common", 3, "Could not initialize conversion to utf8"), 1);
  EXPECT_EQ(text_to_utf8(pool, "UTF-8", "bad\xFF", 4), common_empty_string);
  // The logger replaces the byte that is not UTF-8; the rest stands.
  EXPECT_TRUE(log.contains(" from UTF-8 encoding to utf8"));
}

TEST(TextToUtf8, OutputIsLimitedTo8192Bytes) {
  TestPool pool;
  std::string latin(5000, '\xE9');
  EXPECT_EQ(std::string(text_to_utf8(pool, "ISO-8859-1", latin.data(), latin.size())).size(),
            8192u);
}

TEST(Utf16, RoundTripWithSurrogates) {
  const char *text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5";
  char16_t *wide = utf8_to_utf16(text);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(std::u16string(wide), u"A\u00E9\u20AC\U0001F3B5");
  char *back = utf16_to_utf8(wide);
  ASSERT_NE(back, nullptr);
  EXPECT_STREQ(back, text);
  std::free(wide);
  std::free(back);
}

TEST(Utf16, MalformedInputFails) {
  LogCapture log;
  EXPECT_EQ(utf8_to_utf16("bad\xC3"), nullptr);
  EXPECT_EQ(log.count("Common", 3, "Could not convert from UTF8 to unicode"), 1);
  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  EXPECT_EQ(utf16_to_utf8(lone), nullptr);
  EXPECT_EQ(log.count("Common", 3, "Could not convert from unicode to UTF8"), 1);
}

TEST(Ucs4, CodePointsAndBufferChecks) {
  LogCapture log;
  std::vector<std::uint32_t> buffer(16);
  EXPECT_EQ(utf8_to_ucs4("a\xC3\xA9\xF0\x9F\x8E\xB5", buffer.data(), buffer.size()), 3);
  EXPECT_EQ(buffer[1], 0xE9u);
  EXPECT_EQ(buffer[2], 0x1F3B5u) << "a character beyond the BMP is one unit";
  EXPECT_EQ(buffer[3], 0u);
  EXPECT_EQ(utf8_to_ucs4("abcd", buffer.data(), 4), -1);
  EXPECT_EQ(log.count("Common", 3, INTERNAL_ERROR_TEXT), 1);
  EXPECT_EQ(utf8_to_ucs4("\xFF", buffer.data(), buffer.size()), -1);
  EXPECT_EQ(log.count("Common", 3, "Could not convert from UTF8 to UCS4"), 1);
}

TEST(Digests, Md5HexAndBase64) {
  char hex[33];
  ASSERT_EQ(common_md5_hex(hex, "abc", 3), 0);
  EXPECT_STREQ(hex, "900150983CD24FB0D6963F7D28E17F72");
  ASSERT_EQ(common_md5_hex(hex, "", 0), 0);
  EXPECT_STREQ(hex, "D41D8CD98F00B204E9800998ECF8427E");
  TestPool pool;
  EXPECT_STREQ(str_base64(pool, "user:pass"), "dXNlcjpwYXNz");
  EXPECT_STREQ(str_base64(pool, "ab"), "YWI=");
  EXPECT_STREQ(str_base64(pool, ""), "");
}

TEST(StartUp, UniqueIdsAreDistinctAcrossThreads) {
  TestPool pool;
  ASSERT_EQ(common_init(pool, "/opt/zen/iconv"), 0);
  EXPECT_STREQ(std::getenv("APR_ICONV_PATH"), "/opt/zen/iconv");
  EXPECT_EQ(common_init(pool, nullptr), 0) << "a second start-up keeps the mutex";
  unsigned int first = unique_id_next();
  std::vector<unsigned int> ids(4000);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&ids, t] {
      for (int i = 0; i < 1000; ++i) ids[t * 1000 + i] = unique_id_next();
    });
  for (auto &thread : threads) thread.join();
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
  EXPECT_EQ(ids.front(), first + 1);
  EXPECT_EQ(ids.back(), first + 4000);
  common_terminate();
  common_terminate();
}

}  // namespace
