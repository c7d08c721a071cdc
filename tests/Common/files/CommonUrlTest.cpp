// The URL module: every scheme test of the system, one case rule.
#include <gtest/gtest.h>

#include <string>

#include "CommonUrl.h"

namespace {

struct UrlCase {
  const char *text;
  int remote, http, well_formed;
  const char *file_path;  // what url_file_path gives
};

TEST(CommonUrl, SchemesAreToldApartInAnyCase) {
  const UrlCase cases[] = {
      {"http://host/a.mp3", 1, 1, 1, "http://host/a.mp3"},
      {"HTTPS://host/a", 1, 1, 1, "HTTPS://host/a"},
      {"rtsp://host/live", 1, 0, 1, "rtsp://host/live"},
      {"file:///music/a.mp3", 0, 0, 1, "/music/a.mp3"},
      {"FILE:///music/a.mp3", 0, 0, 1, "/music/a.mp3"},
      {"file:/music/a.mp3", 0, 0, 0, "/music/a.mp3"},
      {"/music/a.mp3", 0, 0, 0, "/music/a.mp3"},
      {"1http://host/", 1, 0, 0, "1http://host/"},
      {"http://", 1, 1, 0, "http://"},
      {"x-y.z+w://h", 1, 0, 1, "x-y.z+w://h"},
      {"", 0, 0, 0, ""},
  };
  for (const UrlCase &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(url_is_remote(c.text), c.remote);
    EXPECT_EQ(url_is_http(c.text), c.http);
    EXPECT_EQ(url_is_well_formed(c.text), c.well_formed);
    EXPECT_STREQ(url_file_path(c.text), c.file_path);
  }
  EXPECT_EQ(url_is_remote(nullptr), 0);
  EXPECT_EQ(url_is_well_formed(nullptr), 0);
  EXPECT_EQ(url_has_scheme(nullptr, "http://"), 0);
  EXPECT_EQ(url_has_scheme("Uvox://h", "uvox://"), 1);
  EXPECT_STREQ(url_after_scheme("mms://host/x"), "host/x");
  EXPECT_EQ(url_after_scheme("/plain/path"), nullptr);
}

}  // namespace
