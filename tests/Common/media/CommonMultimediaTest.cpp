// The type look-ups' start-up index, and what a URL is: scheme and extension
// rules without a request, and the header probe against the scripted local
// server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommonDownload.h"
#include "CommonMultimedia.h"
#include "HttpFixture.h"

namespace {

TEST(TypeIndex, SameAnswersAsTheScan) {
  std::vector<std::string> keys = {"MP3", "mp", "mp3x", "", "M4A", "Audio/MPEG; charset=x", "audio/mpe", "zzz",
                                   std::string(100, 'a'), "TEXT/XML", "application/xml"};
  for (int row = 1; row < MEDIA_TYPE_COUNT; ++row) {
    keys.push_back(MEDIA_TYPE_TABLE[row].extension);
    keys.push_back(MEDIA_TYPE_TABLE[row].mime_type);
  }
  std::vector<const MediaTypeEntry *> scanned;
  for (const std::string &key : keys)
    for (int length : {-1, 2, 3}) {
      scanned.push_back(media_type_by_extension(key.c_str(), length));
      scanned.push_back(media_type_by_mime(key.c_str(), length));
    }
  TestPool pool;
  media_types_init(pool);
  std::size_t i = 0;
  for (const std::string &key : keys)
    for (int length : {-1, 2, 3}) {
      EXPECT_EQ(media_type_by_extension(key.c_str(), length), scanned[i++]) << key << " " << length;
      EXPECT_EQ(media_type_by_mime(key.c_str(), length), scanned[i++]) << key << " " << length;
    }
  EXPECT_EQ(media_type_by_extension(nullptr, -1), &MEDIA_TYPE_TABLE[0]);
  media_types_term();
}

class UrlTypeTest : public HttpFixture {
 protected:
  std::string type(const std::string &u, int expected = 0, std::string *final_url = nullptr) {
    const char *final_text = nullptr;
    const char *mime = url_mime_type(pool_, u.c_str(), expected, &final_text, nullptr, nullptr);
    if (final_url != nullptr) *final_url = final_text != nullptr ? final_text : "";
    return mime != nullptr ? mime : "(null)";
  }
};

TEST_F(UrlTypeTest, SchemesAndTrustedExtensionsNeedNoRequest) {
  EXPECT_EQ(type("MMS://host/stream", MEDIA_AUDIO), "audio/x-ms-asf");
  EXPECT_EQ(type("mmst://host/stream", MEDIA_VIDEO), "video/x-ms-asf");
  EXPECT_EQ(type("pnm://host/stream", 0), "application/vnd.rn-realmedia");
  EXPECT_EQ(type(url("/files/song.MP3?x=1&y=2")), "audio/mpeg");
  EXPECT_EQ(type(url("/files/clip.ogg"), MEDIA_AUDIO), "application/ogg");
  EXPECT_EQ(type(url("/files/photo.jpg"), MEDIA_AUDIO), "image/jpeg");
  EXPECT_EQ(log_.count("CommonMultimedia", 2, "mime type found is different than expected"), 2)
      << "Ogg may be audio or video: only an expectation of either matches it";
  EXPECT_EQ(requests_served(), 0);
}

TEST_F(UrlTypeTest, WindowsMediaExtensionsAreProbed) {
  serve("list.wma", "  <ASX version=\"3.0\"><entry/></ASX>");
  EXPECT_EQ(type(url("/files/list.wma")), "video/x-ms-asx") << "a metafile served as a media type";
  EXPECT_EQ(requests_served(), 1);
  EXPECT_EQ(type(url("/ctype/clip.wmv?type=text/plain")), "video/x-ms-wmv") << "text/ loses to the extension";
}

TEST_F(UrlTypeTest, ContentTypesFromHeadersAndBodies) {
  EXPECT_EQ(type(url("/ctype?type=audio/aacp")), "audio/aacp");
  EXPECT_EQ(type(url("/ctype?type=text/html&server=Icecast%202.4")), "audio/mpeg");
  EXPECT_EQ(type(url("/ctype?type=text/html&server=Apache")), "text/html");
  EXPECT_EQ(type(url("/ctype")), "audio/mpeg") << "an http URL without a type";
  EXPECT_EQ(type(url("/icy404")), "audio/aacp") << "status and type from an ICY answer's body";
  EXPECT_EQ(type(url("/rangereject?type=video/mp4")), "video/mp4");
}

TEST_F(UrlTypeTest, RedirectionsAreFollowedAndBounded) {
  std::string final_url;
  EXPECT_EQ(type(url("/redirect?kind=rel&to=/files/b.ogg"), 0, &final_url), "application/ogg");
  EXPECT_EQ(final_url, url("/files/b.ogg"));
  EXPECT_EQ(type(url("/redirect?kind=broken&to=/ctype%3Ftype=video/mp4"), 0, &final_url), "video/mp4");
  EXPECT_EQ(final_url, url("/ctype?type=video/mp4"));
  EXPECT_EQ(type(url("/pingpong")), "(null)") << "ten redirections at most";
  EXPECT_EQ(requests_served(), 3 + 11) << "one probe per hop";
}

TEST_F(UrlTypeTest, FailuresAndStreamingProtocols) {
  EXPECT_EQ(type(url("/files/missing")), "(null)");
  EXPECT_TRUE(log_.contains("Could not get protocol headers for url http://127.0.0.1:"));
  std::string rtsp = "rtsp://127.0.0.1:" + std::to_string(server_->port());
  EXPECT_EQ(type(rtsp + "/ctype?type=video/mp4", MEDIA_AUDIO), "audio/mp4");
  EXPECT_EQ(type(rtsp + "/ctype?type=video/x-ms-asx", MEDIA_VIDEO), "video/x-ms-asf");
  EXPECT_EQ(type(rtsp + "/ctype", MEDIA_AUDIO), "audio/x-ms-asf") << "a stream without a type";
  std::string uvox = "uvox://127.0.0.1:" + std::to_string(server_->port()) + "/uvox";
  EXPECT_EQ(type(uvox), "misc/ultravox");
  EXPECT_EQ(url_mime_type(pool_, url("/ctype?type=x/y").c_str(), 0, nullptr, [](void *) { return 1; }, nullptr),
            nullptr);
}

TEST_F(UrlTypeTest, HttpsUrlsStayOnHttps) {
  LocalHttpServer::make_certificates(dir_.path());
  LocalHttpServer tls(dir_.path(), dir_.file("server.pem"), dir_.file("server.key"));
  download_set_ca_file(dir_.file("ca.pem").c_str());
  EXPECT_EQ(type(tls.url("/ctype?type=audio/aacp")), "audio/aacp");
  const char *mime = nullptr;
  const char *location = nullptr;
  EXPECT_EQ(url_probe_headers(pool_, tls.url("/redirect?kind=rel&to=/x").c_str(), 0, &mime, &location, nullptr,
                              nullptr),
            0);
  EXPECT_STREQ(location, tls.url("/x").c_str());
  download_set_ca_file(nullptr);
}

}  // namespace
