// Texts from hostile names and tags made into XML text: malformed UTF-8,
// control characters, the cap at a character boundary, and the property
// list that repairs descriptive texts on their way into the library.
#include <gtest/gtest.h>

#include <string>

#include "CommonProp.h"
#include "CommonUtf8.h"
#include "LogCapture.h"

namespace {

std::string clean(apr_pool_t *pool, const std::string &text, Utf8Repair repair, std::size_t cap = 0) {
  return utf8_xml_clean(pool, text.data(), text.size(), cap, repair);
}

}  // namespace

TEST(Utf8XmlClean, HostileBytesBecomeXmlTextOrPercentEscapes) {
  TestPool pool;
  struct Case {
    std::string in, text, url, web;
  };
  const Case cases[] = {
      {"plain caf\xC3\xA9", "plain caf\xC3\xA9", "plain caf\xC3\xA9", "plain caf\xC3\xA9"},
      {"bell\x01" "esc\x1B[0m", "bellesc[0m", "bell%01esc%1B[0m", "bell%01esc%1B[0m"},
      {"latin \xE9t\xE9", "latin \xEF\xBF\xBDt\xEF\xBF\xBD", "latin %E9t%E9", "latin %E9t%E9"},
      {"overlong \xC0\xAF", "overlong \xEF\xBF\xBD\xEF\xBF\xBD", "overlong %C0%AF", "overlong %C0%AF"},
      {"surrogate \xED\xA0\x80", "surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", "surrogate %ED%A0%80",
       "surrogate %ED%A0%80"},
      {"not a char \xEF\xBF\xBE", "not a char ", "not a char %EF%BF%BE", "not a char %EF%BF%BE"},
      {"100% cut \xE2\x82", "100% cut \xEF\xBF\xBD\xEF\xBF\xBD", "100%25 cut %E2%82", "100% cut %E2%82"},
      {"a%20b", "a%20b", "a%2520b", "a%20b"},
      {"tab\tline\ncr\r", "tab\tline\ncr\r", "tab\tline\ncr\r", "tab\tline\ncr\r"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(clean(pool, c.in, UTF8_REPAIR_TEXT), c.text) << c.in;
    EXPECT_EQ(clean(pool, c.in, UTF8_REPAIR_PERCENT), c.url) << c.in;
    EXPECT_EQ(clean(pool, c.in, UTF8_REPAIR_WEB_URL), c.web) << c.in;
    EXPECT_TRUE(utf8_is_xml_text(clean(pool, c.in, UTF8_REPAIR_TEXT).c_str())) << c.in;
  }
  const char *valid = "unchanged";
  EXPECT_EQ(utf8_xml_clean(pool, valid, 9, 0, UTF8_REPAIR_TEXT), valid) << "valid text is not copied";
  EXPECT_EQ(utf8_xml_clean(pool, nullptr, 0, 0, UTF8_REPAIR_TEXT), nullptr);
}

TEST(Utf8XmlClean, CapCutsAtACharacterBoundary) {
  TestPool pool;
  EXPECT_EQ(clean(pool, "ab\xC3\xA9z", UTF8_REPAIR_TEXT, 3), "ab");
  EXPECT_EQ(clean(pool, "ab\xC3\xA9z", UTF8_REPAIR_TEXT, 4), "ab\xC3\xA9");
  EXPECT_EQ(clean(pool, "a%b", UTF8_REPAIR_PERCENT, 3), "a") << "an escape is never split";
  EXPECT_EQ(clean(pool, std::string(3 * TEXT_MAX_BYTES, 'x'), UTF8_REPAIR_TEXT, TEXT_MAX_BYTES).size(),
            TEXT_MAX_BYTES);
}

TEST(Utf8XmlClean, DescriptiveTextsAreStoredAsCappedXmlTextPathsAsGiven) {
  TestPool pool;
  PropList *list = prop_list_create(pool);
  const std::string long_title(2 * TEXT_MAX_BYTES, 't');
  prop_add(pool, list, PROP_DC_TITLE, "Bad\x1B]0;pwned\x07 \xE9t\xE9");
  prop_add(pool, list, "upnp:artist", long_title.c_str());
  prop_add(pool, list, "res", "file:///m/\xE9t\xE9.mp3");
  EXPECT_STREQ(prop_get(pool, list, PROP_DC_TITLE, 0), "Bad]0;pwned \xEF\xBF\xBDt\xEF\xBF\xBD");
  EXPECT_EQ(std::string(prop_get(pool, list, "upnp:artist", 0)).size(), TEXT_MAX_BYTES);
  EXPECT_STREQ(prop_get(pool, list, "res", 0), "file:///m/\xE9t\xE9.mp3") << "a path keeps its bytes";
}
