// The Linux stand-ins for the Windows drive list, path-name queries and the
// system code page.
#include <gtest/gtest.h>

#include <string>

#include "PlatformCodePage.h"
#include "PlatformDrives.h"
#include "PlatformPathNames.h"
#include "ScopedLocale.h"

namespace {

TEST(PlatformDrives, RootListAndShortBuffer) {
  char buffer[8] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(platform_logical_drives(buffer, sizeof buffer), 2u);
  EXPECT_EQ(std::string(buffer, 3), std::string("/\0\0", 3));
  char tiny[2] = {'x', 'x'};
  EXPECT_EQ(platform_logical_drives(tiny, sizeof tiny), 3u) << "the needed capacity";
  EXPECT_EQ(tiny[0], 'x') << "nothing written";
}

TEST(PlatformPathNames, IdentityWithCapacityCheck) {
  char buffer[16];
  EXPECT_EQ(platform_long_path_name("/Music/A", buffer, sizeof buffer), 8u);
  EXPECT_STREQ(buffer, "/Music/A");
  EXPECT_EQ(platform_short_path_name("/Music/A", buffer, 8), 9u);
  EXPECT_EQ(platform_short_path_name(nullptr, buffer, sizeof buffer), 0u);
}

TEST(PlatformCodePage, LocaleCharsetAndLatin1ForPlainLocales) {
  {
    ScopedLocale plain("C");
    EXPECT_STREQ(platform_system_encoding(), "ISO-8859-1");
  }
  {
    ScopedLocale posix("POSIX");
    EXPECT_STREQ(platform_system_encoding(), "ISO-8859-1");
  }
  ScopedLocale utf8("C.UTF-8");
  EXPECT_STREQ(platform_system_encoding(), "UTF-8");
}

}  // namespace
