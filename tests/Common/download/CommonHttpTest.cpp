// protocolInfo, byte ranges, template expansion, URL arguments, and time and
// duration texts.
#include <gtest/gtest.h>

#include <apr_time.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "CommonHttp.h"
#include "CommonTime.h"
#include "CommonUserMessage.h"
#include "LogCapture.h"
#include "ScopedLocale.h"

namespace {

TEST(ProtocolInfo, SplitJoinAndDefault) {
  TestPool pool;
  char *protocol, *network, *format, *info;
  ASSERT_EQ(protocol_info_split(pool, "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;X=a:b", &protocol,
                                &network, &format, &info),
            0);
  EXPECT_STREQ(protocol, "http-get");
  EXPECT_STREQ(network, "*");
  EXPECT_STREQ(format, "audio/mpeg");
  EXPECT_STREQ(info, "DLNA.ORG_PN=MP3;X=a:b");
  EXPECT_STREQ(protocol_info_join(pool, protocol, network, format, info),
               "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;X=a:b");
  EXPECT_STREQ(protocol_info_http(pool, "video/mp4"), "http-get:*:video/mp4:*");
  LogCapture log;
  EXPECT_EQ(protocol_info_split(pool, "http-get:*:audio/mpeg", &protocol, &network, &format, &info),
            APR_EGENERAL);
  EXPECT_EQ(protocol, nullptr);
  EXPECT_EQ(info, nullptr);
  EXPECT_EQ(log.count("Common", 3, "Invalid value of protocolInfo attribute http-get:*:audio/mpeg"),
            1);
}

TEST(ByteRanges, FormsOfTheRangeHeader) {
  apr_int64_t first = 1, last = 1;
  EXPECT_EQ(http_range_parse(" Bytes = 100-199", &first, &last), 1);
  EXPECT_EQ(first, 100);
  EXPECT_EQ(last, 199);
  EXPECT_EQ(http_range_parse("bytes=100-", &first, &last), 1);
  EXPECT_EQ(first, 100);
  EXPECT_EQ(last, 0);
  EXPECT_EQ(http_range_parse("bytes=-500", &first, &last), 1);
  EXPECT_EQ(first, -500);
  EXPECT_EQ(last, 0);
  EXPECT_EQ(http_range_parse("bytes=7-7", &first, &last), 1);
}

TEST(ByteRanges, MalformedRangesFail) {
  apr_int64_t first = 1, last = 1;
  EXPECT_EQ(http_range_parse("bytes=200-100", &first, &last), 0) << "last below first";
  EXPECT_EQ(http_range_parse("items=0-1", &first, &last), 0);
  EXPECT_EQ(http_range_parse("bytes 0-1", &first, &last), 0);
  EXPECT_EQ(http_range_parse("bytes=-", &first, &last), 0);
  EXPECT_EQ(http_range_parse("bytes=1-2x", &first, &last), 0);
  EXPECT_EQ(http_range_parse(nullptr, &first, &last), 0);
  EXPECT_EQ(first, 1);
  LogCapture log;
  std::string huge = "bytes=" + std::string(128, '1') + "-";
  EXPECT_EQ(http_range_parse(huge.c_str(), &first, &last), 0);
  EXPECT_EQ(log.count("Common", 3, INTERNAL_ERROR_TEXT), 1);
}

TEST(ByteRanges, ContentRangeOfSuffixAndOpenRanges) {
  TestPool pool;
  apr_int64_t first = 0, last = 0;
  ASSERT_EQ(http_range_parse("bytes=-500", &first, &last), 1);
  EXPECT_STREQ(http_content_range_format(pool, first, last, 2000), "bytes 1500-1999/2000");
  EXPECT_STREQ(http_content_range_format(pool, 100, 0, 2000), "bytes 100-1999/2000");
  EXPECT_STREQ(http_content_range_format(pool, 10, 20, 2000), "bytes 10-20/2000");
  EXPECT_STREQ(http_content_range_format(pool, -5000, 0, 2000), "bytes 0-1999/2000")
      << "a suffix longer than the content is all of it";
}

class TemplateExpand : public ::testing::Test {
 protected:
  int expand(char *text, std::size_t length) {
    return template_expand(text, length, names_, values_, types_, 3);
  }
  TestPool apr_;  // the expander works in a pool of its own
  int track_ = 7;
  const char *const names_[3] = {"${Title}", "${track}", "${long}"};
  const void *values_[3] = {"Song", &track_, "a very long value"};
  int types_[3] = {TEMPLATE_STRING, TEMPLATE_INT, TEMPLATE_STRING};
};

TEST_F(TemplateExpand, ReplacesClosesGapsAndCuts) {
  char text[64] = "<${TITLE}|${track}|${long}|${other}>";
  ASSERT_EQ(expand(text, sizeof text), 0);
  EXPECT_STREQ(text, "<Song|7|a very |${other}>");
  std::size_t used = std::strlen(text);
  for (std::size_t i = used; i < sizeof text; ++i) ASSERT_EQ(text[i], '\0') << i;
}

TEST_F(TemplateExpand, ValuesInTheSystemEncodingBecomeUtf8) {
  ScopedLocale latin1("C");
  values_[0] = "Caf\xE9";
  char text[32] = "${title}!";
  ASSERT_EQ(expand(text, sizeof text), 0);
  EXPECT_STREQ(text, "Caf\xC3\xA9!");
}

TEST_F(TemplateExpand, ErrorsStopTheExpansion) {
  LogCapture log;
  char open[32] = "${title} ${track";
  EXPECT_EQ(expand(open, sizeof open), APR_EGENERAL);
  EXPECT_STREQ(open, "Song ${track");
  EXPECT_EQ(log.count("Common", 3, "Invalid template variable - missing closing braces"), 1);
  types_[1] = 9;
  char typed[32] = "${track}";
  EXPECT_EQ(expand(typed, sizeof typed), APR_EGENERAL);
  EXPECT_EQ(log.count("Common", 3, "Unknown variable type"), 1);
}

TEST(UrlArgs, PairsSeparatorsAndCapacity) {
  TestPool pool;
  const char *names[4];
  const char *values[4];
  int count = 4;
  ASSERT_EQ(url_args_parse(pool, "?a=1&amp;b=x%20y+z&amp;amp;c=&d=e=f", names, values, &count), 0);
  ASSERT_EQ(count, 4);
  EXPECT_STREQ(names[1], "b");
  EXPECT_STREQ(values[1], "x y z");
  EXPECT_STREQ(names[2], "c");
  EXPECT_STREQ(values[2], "");
  EXPECT_STREQ(values[3], "e=f");
  count = 2;
  EXPECT_EQ(url_args_parse(pool, "?a=1&b=2&c=3", names, values, &count), 0);
  EXPECT_EQ(count, -1);
  count = 4;
  EXPECT_EQ(url_args_parse(pool, "", names, values, &count), 0);
  EXPECT_EQ(count, 0);
}

TEST(UrlArgs, MalformedArgumentsFail) {
  TestPool pool;
  LogCapture log;
  const char *names[4];
  const char *values[4];
  int count = 4;
  EXPECT_EQ(url_args_parse(pool, "?a=1&flag", names, values, &count), APR_EGENERAL);
  EXPECT_EQ(log.count("Common", 3, "Invalid URL arguments for url ?a=1&flag at flag"), 1);
  count = 4;
  EXPECT_EQ(url_args_parse(pool, "a=1", names, values, &count), APR_EGENERAL);
}

TEST(Times, Rfc822AndIso8601Texts) {
  TestPool pool;
  apr_time_t noon = apr_time_from_sec(1700000000);
  EXPECT_STREQ(time_rfc822(pool, noon), "Tue, 14 Nov 2023 22:13:20 GMT");
  EXPECT_EQ(time_rfc822(pool, -1), nullptr);
  apr_time_exp_t exploded;
  ASSERT_EQ(apr_time_exp_gmt(&exploded, noon), APR_SUCCESS);
  EXPECT_STREQ(time_iso8601(pool, &exploded), "2023-11-14T22:13:20");
  ASSERT_EQ(apr_time_exp_gmt(&exploded, apr_time_from_sec(1704430984)), APR_SUCCESS);
  EXPECT_STREQ(time_iso8601(pool, &exploded), "2024-01-05T05:03:04");
  EXPECT_EQ(time_iso8601_parse(time_iso8601(pool, &exploded)), apr_time_from_sec(1704430984))
      << "the text reads back";
  EXPECT_EQ(time_date_only(pool, "not a date"), nullptr);
  // The date is the local one: two hours east of Greenwich it is the 15th.
  const char *saved = std::getenv("TZ");
  std::string old_zone = saved != nullptr ? saved : "";
  setenv("TZ", "EET-2", 1);
  tzset();
  EXPECT_STREQ(time_date_only(pool, "Tue, 14 Nov 2023 22:13:20 GMT"), "2023-11-15");
  if (saved != nullptr)
    setenv("TZ", old_zone.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

TEST(Times, Iso8601ParseZonesAndDates) {
  apr_time_t midnight = apr_time_from_sec(1699920000);  // 2023-11-14T00:00:00Z
  EXPECT_EQ(time_iso8601_parse("2023-11-14"), midnight);
  EXPECT_EQ(time_iso8601_parse("2023-11-14T00:00:00Z"), midnight);
  EXPECT_EQ(time_iso8601_parse("2023-11-14T05:30:00+05:30"), midnight)
      << "+05:30 is 5.5 hours earlier than the same fields in UTC";
  EXPECT_EQ(time_iso8601_parse("2023-11-13T18:30:00-05:30"), midnight);
  EXPECT_EQ(time_iso8601_parse("2023-11-14T00:00:01.25"), midnight + apr_time_from_sec(1) + 250000);
  EXPECT_EQ(time_iso8601_parse("2023-11-14T00:00:01,5Z"), midnight + apr_time_from_sec(1) + 50000)
      << "fraction digits count hundredths";
}

TEST(Times, Iso8601MalformedIsMinusOne) {
  const char *bad[] = {"",
                       "2023",
                       "2023-11",
                       "2023-11-14T",
                       "2023-11-14T10:00",
                       "2023-11-14 10:00:00",
                       "2023-11-14T10:00:00+05",
                       "2023-11-14T10:00:00Zx",
                       "2023-13-01",
                       "x023-11-14",
                       "2023-11-14T10:00:00."};
  for (const char *text : bad) EXPECT_EQ(time_iso8601_parse(text), -1) << text;
  EXPECT_EQ(time_iso8601_parse(nullptr), -1);
}

TEST(Durations, FormatAndNormalize) {
  TestPool pool;
  EXPECT_STREQ(duration_format(pool, 3725), "01:02:05.000");
  EXPECT_STREQ(duration_normalize(pool, "0:03:10"), "0:03:10");
  EXPECT_STREQ(duration_normalize(pool, "190"), "00:03:10.000");
  LogCapture log;
  EXPECT_EQ(duration_normalize(pool, "-5"), nullptr);
  EXPECT_EQ(duration_normalize(pool, "3m"), nullptr);
  EXPECT_EQ(log.count("Common", 3, "Invalid duration string 3m"), 1);
}

}  // namespace
