// Numbers, trimming, case, escaping and sort keys: the text rules that stored
// library text and title ordering depend on.
#include <gtest/gtest.h>

#include <string>

#include "Common.h"
#include "CommonEscape.h"
#include "CommonNumbers.h"
#include "CommonSortKey.h"
#include "CommonText.h"
#include "LogCapture.h"

namespace {

TEST(ParseNumbers, AcceptsOnlyBlanksAfterTheNumber) {
  unsigned int value = 99;
  EXPECT_EQ(parse_uint("12 \t\r\n", &value), 1);
  EXPECT_EQ(value, 12u);
  EXPECT_EQ(parse_uint("-3", &value), 0);
  EXPECT_EQ(parse_uint("12a", &value), 0);
  EXPECT_EQ(parse_uint(nullptr, &value), 0);
  EXPECT_EQ(value, 12u) << "a failure must not write the result";
  int signed_value = 0;
  EXPECT_EQ(parse_int("  -42", &signed_value), 1);
  EXPECT_EQ(signed_value, -42);
  EXPECT_EQ(parse_int("", &signed_value), 0);
  EXPECT_EQ(parse_int("99999999999", &signed_value), 0);
}

TEST(ParseNumbers, Int64DoubleAndRange) {
  apr_int64_t big = 0;
  EXPECT_EQ(parse_int64("9000000000\n", &big), 1);
  EXPECT_EQ(big, 9000000000LL);
  double real = 0;
  EXPECT_EQ(parse_double("2.5 ", &real), 1);
  EXPECT_DOUBLE_EQ(real, 2.5);
  EXPECT_EQ(parse_double("2.5x", &real), 0);
  apr_int64_t first = 0, last = 0;
  EXPECT_EQ(parse_int64_range("10 - 20 ", &first, &last), 1);
  EXPECT_EQ(first, 10);
  EXPECT_EQ(last, 20);
  EXPECT_EQ(parse_int64_range("10 20", &first, &last), 0);
  EXPECT_EQ(parse_int64_range("10-", &first, &last), 0);
}

TEST(ParseNumbers, BoolNamesInAnyCaseButNoTrailingSpace) {
  int value = -1;
  EXPECT_EQ(parse_bool("YeS", &value), 1);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(parse_bool("0", &value), 1);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(parse_bool("FALSE", &value), 1);
  EXPECT_EQ(parse_bool("yes ", &value), 0);
  EXPECT_EQ(parse_bool("2", &value), 0);
  EXPECT_STREQ(bool_name(7), "true");
  EXPECT_STREQ(bool_name(0), "false");
}

TEST(ParseNumbers, FormattingHelpers) {
  TestPool pool;
  EXPECT_STREQ(str_from_uint(pool, 4000000000u), "4000000000");
  EXPECT_STREQ(str_from_int(pool, -7), "-7");
  EXPECT_STREQ(str_from_int64(pool, -9000000000LL), "-9000000000");
}

TEST(TableLookup, IgnoresCaseSkipsNullEntriesAndComparesPrefixes) {
  const char *const table[] = {"audio", nullptr, "Video", "image"};
  EXPECT_EQ(str_index_of("VIDEO", table, 4, -1), 2);
  EXPECT_EQ(str_index_of("text", table, 4, -1), -1);
  EXPECT_EQ(str_index_of(nullptr, table, 4, 9), 9);
  EXPECT_EQ(str_prefix_index_of("IMAGE/jpeg", 5, table, 4, -1), 3);
  EXPECT_EQ(str_prefix_index_of("AUDIT", 5, table, 4, -1), -1);
  EXPECT_EQ(str_prefix_index_of("AUDIT", 4, table, 4, -1), 0);
}

TEST(Trimming, InPlaceHelpers) {
  char text[] = " \t 'hello world'\r\n\f";
  EXPECT_STREQ(str_trim_quotes(text), "hello world");
  char spaced[] = "  a b \n";
  EXPECT_STREQ(str_trim(spaced), "a b");
  char tail[] = "x \f";
  EXPECT_STREQ(str_rtrim(tail), "x");
  EXPECT_EQ(str_skip_space(static_cast<const char *>(nullptr)), nullptr);
  TestPool pool;
  EXPECT_STREQ(str_remove_space(pool, " a\tb\nc\f"), "abc");
}

TEST(TitleCase, WordStartsThroughPunctuationButNotEntities) {
  TestPool pool;
  char beatles[] = "(the beatles) 1st LIVE";
  EXPECT_STREQ(str_title_case(pool, beatles), "(The Beatles) 1St Live");
  EXPECT_STREQ(beatles, "(the beatles) 1st LIVE") << "a pool means a copy";
  char entity[] = "rock &amp; roll";
  EXPECT_STREQ(str_title_case(nullptr, entity), "Rock &amp; Roll");
  char accented[] = "caf\xC3\xA9 del mar";
  EXPECT_STREQ(str_title_case(nullptr, accented), "caf\xC3\xA9 del mar");
}

TEST(TextHelpers, JoinCompareLowerStripExtension) {
  TestPool pool;
  const char *const parts[] = {"", "rock", nullptr, "pop"};
  EXPECT_STREQ(str_join(pool, parts, 4), "rock,pop");
  EXPECT_EQ(str_join(pool, parts, 1), nullptr);
  EXPECT_STREQ(str_join(pool, parts + 3, 1), "pop");
  EXPECT_LT(str_compare(nullptr, ""), 0);
  EXPECT_EQ(str_compare(nullptr, nullptr), 0);
  EXPECT_EQ(str_icompare("ABC", "abc"), 0);
  EXPECT_GT(str_icompare("b", nullptr), 0);
  EXPECT_STREQ(str_lower(pool, "MiXeD"), "mixed");
  EXPECT_STREQ(path_strip_extension(pool, "/music/song..mp3"), "/music/song");
  EXPECT_STREQ(path_strip_extension(pool, "/music.d/readme"), "/music.d/readme");
}

TEST(TextHelpers, FindNStaysInsideTheLength) {
  const char *text = "xx<HTML>";
  EXPECT_EQ(str_find_n(text, "<html", 8), text + 2);
  EXPECT_EQ(str_find_n(text, "<html", 6), nullptr) << "match must lie wholly inside";
  EXPECT_EQ(str_find_n(text, "<html", 100), text + 2) << "a NUL ends the text";
}

TEST(TextForTerminal, ControlCharactersAreEscapedAndOtherTextKept) {
  TestPool pool;
  EXPECT_STREQ(text_for_terminal(pool, "a\x1b[2J\r\n\x7f\tb"), "a\\x1b[2J\\x0d\\x0a\\x7f\\x09b");
  // C1 controls as UTF-8 and as lone bytes; letters made of the same bytes stay.
  EXPECT_STREQ(text_for_terminal(pool, "\xc2\x9b" "1m \x9b" "1m"), "\\xc2\\x9b1m \\x9b1m");
  EXPECT_STREQ(text_for_terminal(pool, "Na\xc3\xafve \xc3\x9b \xe2\x80\x9c \\"), "Na\xc3\xafve \xc3\x9b \xe2\x80\x9c \\");
  EXPECT_STREQ(text_for_terminal(pool, nullptr), "");
}

TEST(XmlEscape, EscapingTwiceChangesNothing) {
  TestPool pool;
  EXPECT_STREQ(xml_escape(pool, "a&amp;b<c"), "a&amp;b&lt;c");
  EXPECT_STREQ(xml_escape(pool, "it's \"x\" > y & z"), "it&apos;s &quot;x&quot; &gt; y &amp; z");
  const char *once = xml_escape(pool, "<a href='x'>&</a>");
  EXPECT_STREQ(xml_escape(pool, once), once);
  EXPECT_EQ(xml_escape(pool, nullptr), nullptr);
}

TEST(XmlEscape, EachSpecialByteIsFoundAnywhereAndPlainTextIsCopied) {
  TestPool pool;
  const struct {
    const char *raw;
    const char *escaped;
  } cases[] = {{"x'", "x&apos;"}, {">x", "&gt;x"}, {"a<b", "a&lt;b"}, {"a&b", "a&amp;b"}, {"\"", "&quot;"},
               {"Night City/08 Echo.mp3", "Night City/08 Echo.mp3"}, {"", ""}};
  for (const auto &c : cases) {
    char *escaped = xml_escape(pool, c.raw);
    EXPECT_STREQ(escaped, c.escaped);
    EXPECT_NE(escaped, c.raw) << "a copy the caller may change";
  }
}

TEST(XmlEscape, EntityInAnotherCaseIsWrittenAsXmlSpellsIt) {
  // Found by fuzzing: "&Gt;" was kept as it was and broke the document.
  TestPool pool;
  EXPECT_STREQ(xml_escape(pool, "&AMP; &Gt; &lT; &Quot; &APOS;"), "&amp; &gt; &lt; &quot; &apos;");
  EXPECT_STREQ(xml_unescape(pool, xml_escape(pool, "a &Gt; b")), xml_unescape(pool, "a &Gt; b"));
}

TEST(XmlEscape, UnescapeIsTheInverseInAnyCase) {
  TestPool pool;
  EXPECT_STREQ(xml_unescape(pool, "&LT;b&gt; &Amp; &apos;&quot; &nbsp;"), "<b> & '\" &nbsp;");
  const char *raw = "Tom & Jerry's <best> \"hits\"";
  EXPECT_STREQ(xml_unescape(pool, xml_escape(pool, raw)), raw);
}

TEST(HtmlUnescape, TableOrderAndLimit) {
  TestPool pool;
  EXPECT_STREQ(html_unescape(pool, "Caf&eacute; &amp;&nbsp;&Ntilde;&lsaquo;&acute;&unknown;"),
               "Cafe & N<'&unknown;");
  EXPECT_STREQ(html_unescape(pool, "&#8212;"), "\x97");
  EXPECT_STREQ(html_unescape(pool, "&AMP;"), "&AMP;") << "entities are case-sensitive";
  LogCapture log;
  std::string fits(4095, 'a');
  EXPECT_STREQ(html_unescape(pool, fits.c_str()), fits.c_str());
  std::string too_long(4096, 'a');
  EXPECT_EQ(html_unescape(pool, too_long.c_str()), nullptr);
  EXPECT_EQ(log.count("Common", 3, "Internal static buffer too small, truncating..."), 1);
}

TEST(UrlEncode, PlusFlagAndReservedCharacters) {
  TestPool pool;
  EXPECT_STREQ(url_encode(pool, "a b/c", 1), "a+b%2fc");
  EXPECT_STREQ(url_encode(pool, "a b\t", 0), "a%20b%09");
  EXPECT_STREQ(url_encode(pool, "!()*-._~Az9", 0), "!()*-._~Az9");
  EXPECT_STREQ(url_encode(pool, "\xC3\xA9", 0), "%c3%a9");
  EXPECT_STREQ(url_decode(pool, "a+b%2Fc%zz%4"), "a b/c%zz%4");
  const char *odd = "x y&z=%/\xFF";
  EXPECT_STREQ(url_decode(pool, url_encode(pool, odd, 1)), odd);
}

TEST(UrlEncode, StopsAtTheBufferLimits) {
  TestPool pool;
  LogCapture log;
  std::string plain(5000, 'a');
  EXPECT_EQ(std::string(url_encode(pool, plain.c_str(), 0)).size(), 4095u);
  // 4092 copied bytes leave room for exactly one escape (4093..4095).
  std::string escapes = std::string(4092, 'a') + "//";
  EXPECT_EQ(std::string(url_encode(pool, escapes.c_str(), 0)), std::string(4092, 'a') + "%2f");
  EXPECT_TRUE(log.contains("is too long, trimming..."));
  log.clear();
  std::string exact(4095, 'b');
  EXPECT_EQ(std::string(url_encode(pool, exact.c_str(), 0)), exact);
  EXPECT_FALSE(log.contains("too long"));
}

TEST(SortKey, ArticlesPaddingAndPunctuation) {
  TestPool pool;
  EXPECT_STREQ(sort_key(pool, "The 7 Seas", 1), "7 seas") << "padding runs before the article goes";
  EXPECT_STREQ(sort_key(pool, "7 Seas", 1), "000000000007 seas");
  EXPECT_STREQ(sort_key(pool, "(The) End", 1), "the) end");
  EXPECT_STREQ(sort_key(pool, "  \"A Day\"", 1), "day\"");
  EXPECT_STREQ(sort_key(pool, "And the Band", 1), "band");
  EXPECT_STREQ(sort_key(pool, "&quot;Quoted", 1), "quoted") << "'&' is not skipped";
  EXPECT_EQ(sort_key(pool, "", 1), common_empty_string);
  EXPECT_EQ(sort_key(pool, nullptr, 0), common_empty_string);
}

TEST(SortKey, TwelveDigitsAreLeftAndWarned) {
  TestPool pool;
  LogCapture log;
  EXPECT_STREQ(sort_key(pool, "12345678901 x", 1), "012345678901 x");
  EXPECT_EQ(log.count("Common", 2,
                      "Zero padding of sorting keys failed - sequence of digits is too long"),
            0);
  EXPECT_STREQ(sort_key(pool, "123456789012 x", 1), "123456789012 x");
  EXPECT_EQ(log.count("Common", 2,
                      "Zero padding of sorting keys failed - sequence of digits is too long"),
            1);
}

TEST(SortKey, DescendingKeysReverseTheOrder) {
  TestPool pool;
  std::string nine = sort_key(pool, "9 Lives", 0);
  std::string ten = sort_key(pool, "10 Lives", 0);
  EXPECT_GT(nine, ten) << "9 sorts after 10 when descending";
  EXPECT_LT(std::string(sort_key(pool, "9 Lives", 1)), std::string(sort_key(pool, "10 Lives", 1)));
  EXPECT_EQ(static_cast<unsigned char>(nine[0]), static_cast<unsigned char>(~'0'));
}

}  // namespace
