// ISO 8601 fields beyond their ranges, found by fuzzing: they overflowed the
// instant's microsecond count instead of reading as malformed.
#include <gtest/gtest.h>

#include "CommonTime.h"

TEST(Iso8601Ranges, FieldsBeyondTheirRangesAreMalformedNotOverflowed) {
  for (const char *text : {"9662009-4-0T8:2:5+666666662:066666244", "10000-01-01", "2023-11-99", "2023-11-14T25:00:00",
                           "2023-11-14T10:60:00", "2023-11-14T10:00:00+24:00", "2023-11-14T10:00:00-05:60",
                           "2023-11-2147483647"}) {
    EXPECT_EQ(time_iso8601_parse(text), -1) << text;
  }
  EXPECT_EQ(time_iso8601_parse("9999-12-31T23:59:59+23:59"), apr_time_from_sec(253402300799LL - 86340));
  EXPECT_EQ(time_iso8601_parse("2023-11-14T24:00:00"), apr_time_from_sec(1699920000 + 86400));
}
