// The readability tidy-up applied to tags and titles.
#include <gtest/gtest.h>

#include "LogCapture.h"
#include "MSMediaScanTidy.h"

TEST(Tidy, QuotesAreTrimmedOnlyWhenTheyWrapTheText) {
  TestPool pool;
  EXPECT_STREQ(msms_tidy(pool, "\"quoted\" river"), "\"Quoted\" River");
  EXPECT_STREQ(msms_tidy(pool, "  \"the beatles\"  "), "The Beatles");
  EXPECT_STREQ(msms_tidy(pool, "'abbey road'"), "Abbey Road");
  EXPECT_STREQ(msms_tidy(pool, "rock & roll's \"best\""), "Rock & Roll's \"Best\"");
  EXPECT_STREQ(msms_tidy(pool, "\""), "\"");
  EXPECT_STREQ(msms_tidy(pool, "café del mar"), "café del mar");  // non-ASCII text is left alone
}
