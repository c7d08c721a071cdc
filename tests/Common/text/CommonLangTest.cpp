// The ISO 639-2 table and the language search.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "CommonLang.h"
#include "LogCapture.h"

namespace {

bool ends_with(const char *text, const char *suffix) {
  std::size_t n = std::strlen(text), m = std::strlen(suffix);
  return n >= m && std::strcmp(text + n - m, suffix) == 0;
}

std::string code_of(const char *text) {
  const LanguageEntry *entry = lang_find_in_text(text);
  return entry ? entry->code : "(none)";
}

TEST(LanguageTable, HasTheIso6392RowsAndCounts) {
  EXPECT_STREQ(LANGUAGE_TABLE[0].code, "aar");
  EXPECT_STREQ(LANGUAGE_TABLE[0].name, "Afar");
  EXPECT_STREQ(LANGUAGE_TABLE[LANGUAGE_COUNT - 1].code, "zza");
  EXPECT_STREQ(LANGUAGE_TABLE[LANGUAGE_COUNT - 1].name,
               "Zaza; Dimili; Dimli; Kirdki; Kirmanjki; Zazaki");
  int bibliographic = 0, terminology = 0, two_letter = 0, charsets = 0;
  for (const LanguageEntry &e : LANGUAGE_TABLE) {
    bibliographic += ends_with(e.code, " (B)");
    terminology += ends_with(e.code, " (T)");
    two_letter += e.two_letter != nullptr;
    charsets += e.charset != nullptr;
    if (e.two_letter) {
      EXPECT_FALSE(ends_with(e.code, " (T)")) << e.code;
    }
  }
  EXPECT_EQ(bibliographic, 23);
  EXPECT_EQ(terminology, 23);
  EXPECT_EQ(two_letter, 187);
  EXPECT_EQ(charsets, 40);
}

TEST(LanguageTable, KeepsPairsCharsetsAndSpecialRows) {
  const LanguageEntry *french = lang_find_in_text("French");
  ASSERT_NE(french, nullptr);
  EXPECT_STREQ(french->code, "fre (B)");
  EXPECT_STREQ(french->two_letter, "fr");
  EXPECT_STREQ(french->charset, "iso-8859-1");
  EXPECT_STREQ(french[1].code, "fra (T)");
  EXPECT_STREQ(french[1].charset, "iso-8859-1");
  EXPECT_STREQ(lang_find_in_text("Dutch; Flemish")->code, "dut (B)");
  EXPECT_STREQ(lang_find_in_text("Russian")->charset, "iso-8859-5");
  EXPECT_STREQ(lang_find_in_text("Greek, Modern (1453-)")->charset, "iso-8859-7");
  for (const char *special : {"und", "mul", "mis", "zxx"}) EXPECT_EQ(code_of(special), special);
}

TEST(LangFindInText, MatchesWholeWordsOfNamesAndCodes) {
  EXPECT_EQ(code_of("Audio - English"), "eng");
  EXPECT_EQ(code_of("Audio 2 fre"), "fre (B)");
  EXPECT_EQ(code_of("FR"), "fre (B)");
  EXPECT_EQ(code_of("Subtitle (french)"), "fre (B)");
  EXPECT_EQ(code_of("Frenchy"), "(none)");
  EXPECT_EQ(code_of("Audio"), "(none)");
  EXPECT_EQ(lang_find_in_text(nullptr), nullptr);
}

TEST(LangFindInText, PrefersTableOrderAndFullMatchesOverTwoLetterCodes) {
  // English comes before German in the table, whatever the text order.
  EXPECT_EQ(code_of("German and English"), "eng");
  // "de" is German's two-letter code, but the full name Italian wins.
  EXPECT_EQ(code_of("de Italian"), "ita");
  // Among two-letter matches the last in table order is kept.
  EXPECT_EQ(code_of("fr de"), "ger (B)");
}

TEST(LangCurrent, DefaultsToEnglishAndIsGuarded) {
  TestPool pool;
  ASSERT_EQ(lang_init(pool), 0);
  EXPECT_EQ(lang_current(), 0);
  ASSERT_NE(lang_current_entry(), nullptr);
  EXPECT_STREQ(lang_current_entry()->code, "eng");
  lang_set_current(5);
  EXPECT_EQ(lang_current(), 5);
  EXPECT_EQ(lang_current_entry(), nullptr);
  lang_set_current(0);
}

}  // namespace
