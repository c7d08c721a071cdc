// Blocking HTTP requests against the scripted local server: ranges, headers,
// redirects, cookies, authentication, uploads, TLS, and every kind of hostile
// answer; and the header helpers on their own.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <apr_date.h>

#include <cstring>
#include <string>

#include "CommonDownload.h"
#include "HttpFixture.h"

namespace {

std::string text(const char *data, std::size_t length) { return data != nullptr ? std::string(data, length) : ""; }

TEST(HttpHeaders, ValuesStatusAndSize) {
  TestPool pool;
  const char *h = "HTTP/1.1 206 Partial\r\ncontent-type:\t audio/mpeg\r\nContent-Range: bytes 0-9/12345\r\n"
                  "Content-Length: 10\r\n\r\n";
  std::size_t n = std::strlen(h);
  EXPECT_STREQ(http_header_value(pool, "Content-Type:", h, n), "audio/mpeg");
  EXPECT_EQ(http_header_value(pool, "Server:", h, n), nullptr);
  EXPECT_EQ(http_header_value(pool, "Content-Type:", h, 30), nullptr) << "never reads past the length";
  EXPECT_EQ(http_status(h, n), 206);
  EXPECT_EQ(http_content_size(h, n), 12345) << "the total of Content-Range wins";
  const char *length_only = "HTTP/1.0 200 OK\r\nContent-Length: 1000000000000000\r\n";
  EXPECT_EQ(http_content_size(length_only, std::strlen(length_only)), 1000000000000000LL);
  const char *no_size = "HTTP/1.0 200 OK\r\nContent-Length: lots\r\n";
  EXPECT_EQ(http_content_size(no_size, std::strlen(no_size)), -1);
}

TEST(HttpHeaders, StatusOfTheLastResponseOrIcy) {
  const char *chain = "HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\nHTTP/1.1 404 Not Found\r\n\r\n";
  EXPECT_EQ(http_status(chain, std::strlen(chain)), 404);
  EXPECT_EQ(http_status("ICY 200 OK\r\n", 12), 200);
  EXPECT_EQ(http_status("HTTP/1.1 20", 11), -1) << "too short after HTTP/";
  EXPECT_EQ(http_status("HTTP/1.1 abc x", 14), -1);
  EXPECT_EQ(http_status("SPAM and eggs", 13), -1);
  EXPECT_EQ(http_status(nullptr, 0), -1);
}

TEST(HttpHeaders, StatusIgnoresHttpInsideHeaderValues) {
  const char *answer = "HTTP/1.0 304 Not Modified\r\nServer: SimpleHTTP/0.6 Python/3.11\r\n\r\n";
  EXPECT_EQ(http_status(answer, std::strlen(answer)), 304);
}

TEST(HttpHeaders, LastModified) {
  LogCapture log;
  const char *h = "Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\n";
  EXPECT_EQ(http_last_modified(h, std::strlen(h)), apr_date_parse_rfc("Tue, 01 Dec 2026 10:00:00 GMT"));
  const char *bad = "Last-Modified: yesterday\r\n";
  EXPECT_EQ(http_last_modified(bad, std::strlen(bad)), -1);
  EXPECT_EQ(http_last_modified("X: y\r\n", 6), -1);
  EXPECT_EQ(log.count("CommonDownload", 3, "Could not parset value of Last-Modified"), 1);
  EXPECT_EQ(log.count("CommonDownload", 3, "Could not get value for Last-Modified"), 1);
}

TEST(HttpHeaders, LocationRepairedAndResolved) {
  TestPool pool;
  auto location = [&](const char *value, const char *base = "http://h:81/a/b/c.mp3?q=1") {
    std::string h = std::string("HTTP/1.1 302 Found\r\nLocation: ") + value + "\r\n\r\n";
    const char *result = http_location(pool, base, h.c_str(), h.size());
    return std::string(result != nullptr ? result : "(null)");
  };
  EXPECT_EQ(location("http:/other/x.mp3"), "http://other/x.mp3");
  EXPECT_EQ(location("mms:/media/x"), "mms://media/x");
  EXPECT_EQ(location("rtsp:/media/x"), "rtsp://media/x");
  EXPECT_EQ(location("https://secure/x"), "https://secure/x");
  EXPECT_EQ(location("/root.mp3"), "http://h:81/root.mp3");
  EXPECT_EQ(location("d.mp3"), "http://h:81/a/b/d.mp3");
  EXPECT_EQ(location("d.mp3", "http://h"), "http://h/d.mp3");
  EXPECT_EQ(http_location(pool, "http://h/", "X: y\r\n", 6), nullptr);
}

class HttpRequestTest : public HttpFixture {
 protected:
  int get(HttpRequest &request, const std::string &target, const char *range = nullptr) {
    target_ = target;
    request.pool = pool_;
    request.url = target_.c_str();
    request.range = range;
    return http_request(&request);
  }
  std::string target_;
};

TEST_F(HttpRequestTest, RangesHeadersAndWholeBodies) {
  std::string content(5000, 'a');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + i % 26);
  std::string u = serve("a.bin", content);
  HttpRequest ranged;
  ASSERT_EQ(get(ranged, u, "10-19"), 0);
  EXPECT_EQ(text(ranged.body, ranged.body_length), content.substr(10, 10));
  EXPECT_EQ(http_status(ranged.headers, ranged.headers_length), 206);
  EXPECT_EQ(http_content_size(ranged.headers, ranged.headers_length), 5000);
  HttpRequest head;
  ASSERT_EQ(get(head, u, ""), 0);
  EXPECT_EQ(head.body_length, 0u);
  EXPECT_EQ(http_content_size(head.headers, head.headers_length), 5000);
  HttpRequest whole;
  ASSERT_EQ(get(whole, u), 0);
  EXPECT_EQ(text(whole.body, whole.body_length), content);
  HttpRequest to_file;
  to_file.body_path = "copy.bin";
  ASSERT_EQ(get(to_file, u), 0);
  EXPECT_EQ(read_file(dir_.file("copy.bin")), content);
}

TEST_F(HttpRequestTest, BodyCutAtTheRangeWhenTheServerIgnoresIt) {
  HttpRequest request;
  EXPECT_EQ(get(request, url("/status?code=200&body=0123456789abcdef"), "0-3"), APR_INCOMPLETE);
  EXPECT_EQ(text(request.body, request.body_length), "0123");
}

TEST_F(HttpRequestTest, RangesThatCannotBeHad) {
  HttpRequest bad;
  EXPECT_EQ(get(bad, url("/files/a"), "ten-twenty"), APR_EGENERAL);
  EXPECT_TRUE(log_.contains("Could not parse HTTP range string ten-twenty for URL"));
  HttpRequest big;
  EXPECT_EQ(get(big, url("/files/a"), "0-192000"), APR_EGENERAL) << "192,001 bytes in memory";
  EXPECT_EQ(log_.count("CommonDownload", 3,
                       "Internal server error, unexpected software state encountered. It is recommended to close "
                       "the application."),
            1);
}

TEST_F(HttpRequestTest, RedirectsFollowedWhenAsked) {
  serve("a.txt", "target text");
  for (const char *kind : {"abs", "rel", "broken"}) {
    HttpRequest request;
    request.follow_redirects = 1;
    ASSERT_EQ(get(request, url(std::string("/redirect?kind=") + kind + "&to=/files/a.txt")), 0) << kind;
    EXPECT_EQ(text(request.body, request.body_length), "target text") << kind;
  }
  HttpRequest unfollowed;
  ASSERT_EQ(get(unfollowed, url("/redirect?kind=rel&to=/files/a.txt")), 0);
  EXPECT_EQ(http_status(unfollowed.headers, unfollowed.headers_length), 302);
}

TEST_F(HttpRequestTest, RedirectLoopsAndOtherSchemesAreRefused) {
  HttpRequest loop;
  loop.follow_redirects = 1;
  EXPECT_EQ(get(loop, url("/loop")), APR_EGENERAL);
  HttpRequest passwd;
  passwd.follow_redirects = 1;
  EXPECT_EQ(get(passwd, url("/redirect?kind=raw&to=file:///etc/passwd")), APR_EGENERAL);
  EXPECT_EQ(passwd.body_length, 0u);
  HttpRequest direct;
  EXPECT_EQ(get(direct, "file:///etc/passwd"), APR_EGENERAL);
  EXPECT_EQ(direct.body_length, 0u);
  EXPECT_TRUE(log_.contains("Failure for url file:///etc/passwd, reason:"));
}

TEST_F(HttpRequestTest, CookiesAgentsAndDigest) {
  HttpRequest set;
  ASSERT_EQ(get(set, url("/cookie/set?v=xyz")), 0);
  HttpRequest check;
  ASSERT_EQ(get(check, url("/cookie/check")), 0);
  EXPECT_EQ(text(check.body, check.body_length), "cookie=session=xyz");
  HttpRequest agent;
  ASSERT_EQ(get(agent, url("/agent")), 0);
  EXPECT_EQ(text(agent.body, agent.body_length), "Zentoria Media Server 2.7 Indexer");
  HttpRequest own_agent;
  own_agent.user_agent = "Tester/1";
  ASSERT_EQ(get(own_agent, url("/agent")), 0);
  EXPECT_EQ(text(own_agent.body, own_agent.body_length), "Tester/1");
  HttpRequest digest;
  digest.user = "alice";
  digest.password = "secret";
  ASSERT_EQ(get(digest, url("/digest")), 0);
  EXPECT_EQ(text(digest.body, digest.body_length), "welcome");
  HttpRequest wrong;
  wrong.user = "alice";
  wrong.password = "guess";
  ASSERT_EQ(get(wrong, url("/digest")), 0);
  EXPECT_EQ(http_status(wrong.headers, wrong.headers_length), 401);
}

// The cookie jar holds session cookies; curl wrote it 0644, and keeps the
// mode of a jar it rewrites.
TEST_F(HttpRequestTest, CookieJarWasReadableByEveryone) {
  write_file("zentoria.cookies", "");
  ASSERT_EQ(chmod("zentoria.cookies", 0644), 0);
  const mode_t old_mask = umask(022);
  HttpRequest set;
  int status = get(set, url("/cookie/set?v=xyz"));
  umask(old_mask);
  ASSERT_EQ(status, 0);
  struct stat info {};
  ASSERT_EQ(stat("zentoria.cookies", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(HttpRequestTest, UploadsAndChunkedBodies) {
  HttpRequest post;
  post.upload_data = "hello";
  post.upload_size = 5;
  post.upload_post = 1;
  ASSERT_EQ(get(post, url("/upload")), 0);
  EXPECT_EQ(text(post.body, post.body_length), "POST 5 5d41402abc4b2a76b9719d911017c592");
  write_file(dir_.file("up.txt"), "hello");
  HttpRequest put;
  put.upload_path = "up.txt";
  ASSERT_EQ(get(put, url("/upload")), 0);
  EXPECT_EQ(text(put.body, put.body_length), "PUT 5 5d41402abc4b2a76b9719d911017c592");
  HttpRequest chunked;
  ASSERT_EQ(get(chunked, url("/chunked?chunks=3")), 0);
  EXPECT_EQ(chunked.body_length, 3u * 700u);
}

TEST_F(HttpRequestTest, HostileAnswersFailWithoutHanging) {
  HttpRequest garbage;
  EXPECT_EQ(get(garbage, url("/garbage")), APR_EGENERAL);
  HttpRequest big_headers;
  EXPECT_EQ(get(big_headers, url("/bigheaders")), APR_EGENERAL);
  EXPECT_TRUE(log_.contains("response headers longer than 10000 bytes"));
  EXPECT_LE(big_headers.headers_length, HTTP_HEADERS_MAX);
  HttpRequest endless;
  EXPECT_EQ(get(endless, url("/hugelength?endless=1")), APR_EGENERAL) << "a body without end is bounded";
  EXPECT_TRUE(log_.contains("response body longer than"));
  HttpRequest cut;
  EXPECT_EQ(get(cut, url("/closemid")), APR_EGENERAL);
  HttpRequest stalled;
  stalled.timeout_seconds = 1;
  EXPECT_EQ(get(stalled, url("/stall?seconds=5")), APR_EGENERAL);
}

TEST_F(HttpRequestTest, ATransferTricklingAboveTheSpeedGuardEndsAtTheDeadline) {
  download_set_deadline(1);
  HttpRequest trickle;
  EXPECT_EQ(get(trickle, url("/trickle?seconds=8")), APR_EGENERAL);
  download_set_deadline(DOWNLOAD_DEFAULT_DEADLINE_MINUTES * 60L);
  HttpRequest whole;
  EXPECT_EQ(get(whole, url("/trickle?seconds=1")), 0);
  EXPECT_EQ(whole.body_length, 4000u);
}

TEST_F(HttpRequestTest, CancelledRequestsReturnFour) {
  HttpRequest request;
  request.cancel = [](void *) { return 1; };
  EXPECT_EQ(get(request, url("/hugelength?endless=1")), 4);
}

TEST_F(HttpRequestTest, ProbeRetriesOtherForms) {
  HttpRequest rejected;
  rejected.pool = pool_;
  std::string u = url("/rangereject");
  rejected.url = u.c_str();
  rejected.range = "0-1000";
  ASSERT_EQ(http_request_retrying(&rejected), 0);
  EXPECT_EQ(text(rejected.body, rejected.body_length), "whole body");
  EXPECT_STREQ(rejected.range, "0-1000") << "the caller's request is left as it was";
  HttpRequest no_head;
  no_head.pool = pool_;
  std::string v = url("/nohead");
  no_head.url = v.c_str();
  no_head.range = "";
  ASSERT_EQ(http_request_retrying(&no_head), 0);
  EXPECT_EQ(http_status(no_head.headers, no_head.headers_length), 200);
  HttpRequest icy;
  icy.pool = pool_;
  std::string w = url("/icy404");
  icy.url = w.c_str();
  icy.range = "0-1000";
  int status = http_request_retrying(&icy);
  EXPECT_TRUE(status == 0 || status == APR_INCOMPLETE) << status;
  EXPECT_EQ(icy.headers_length, 0u) << "an ICY answer has no HTTP headers";
  EXPECT_EQ(http_status(icy.body, icy.body_length), 200);
}

TEST_F(HttpRequestTest, GetHeadersAndChangeChecks) {
  std::string u = serve("feed.xml", "<rss/>");
  char *headers = nullptr;
  std::size_t length = 0;
  ASSERT_EQ(http_get_headers(pool_, u.c_str(), &headers, &length, nullptr, nullptr), 0);
  const char *modified = http_header_value(pool_, "Last-Modified:", headers, length);
  ASSERT_NE(modified, nullptr);
  int changed = -1;
  char *validators = nullptr;
  ASSERT_EQ(http_check_changed(pool_, u.c_str(), headers, &changed, &validators, nullptr, nullptr), 0);
  EXPECT_EQ(changed, 0) << "304 for the same Last-Modified";
  std::string lines = std::string("Last-Modified: ") + modified + "\r\n";
  ASSERT_EQ(http_check_changed(pool_, u.c_str(), lines.c_str(), &changed, &validators, nullptr, nullptr), 0);
  EXPECT_EQ(changed, 0);
  ASSERT_EQ(http_check_changed(pool_, u.c_str(), nullptr, &changed, &validators, nullptr, nullptr), 0);
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(std::string(validators), lines);
  std::string tagged = url("/validators");
  ASSERT_EQ(http_check_changed(pool_, tagged.c_str(), "ETag: \"v1\"\r\n", &changed, &validators, nullptr, nullptr),
            0);
  EXPECT_EQ(changed, 0);
  ASSERT_EQ(http_check_changed(pool_, tagged.c_str(), "ETag: \"v0\"\r\n", &changed, &validators, nullptr, nullptr),
            0);
  EXPECT_EQ(changed, 1);
  EXPECT_STREQ(validators, "Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\nETag: \"v1\"\r\n");
  std::string missing = url("/files/none.xml");
  EXPECT_EQ(http_check_changed(pool_, missing.c_str(), nullptr, &changed, &validators, nullptr, nullptr),
            APR_EGENERAL);
  EXPECT_TRUE(log_.contains("Could not get protocol headers of url " + missing +
                            ", HTTP response indicates error 404"));
}

TEST_F(HttpRequestTest, CertificatesAreVerified) {
  LocalHttpServer::make_certificates(dir_.path());
  serve("s.txt", "secret text");
  LocalHttpServer tls(dir_.path(), dir_.file("server.pem"), dir_.file("server.key"));
  std::string u = tls.url("/files/s.txt");
  HttpRequest untrusted;
  EXPECT_EQ(get(untrusted, u), APR_EGENERAL) << "a certificate from an unknown CA is refused";
  EXPECT_TRUE(log_.contains("Failure for url " + u + ", reason:"));
  download_set_ca_file(dir_.file("ca.pem").c_str());
  HttpRequest trusted;
  EXPECT_EQ(get(trusted, u), 0);
  EXPECT_EQ(text(trusted.body, trusted.body_length), "secret text");
  HttpRequest upgraded;
  upgraded.follow_redirects = 1;
  EXPECT_EQ(get(upgraded, tls.url("/redirect?kind=abs&to=/files/s.txt")), 0) << "https to https is followed";
  HttpRequest downgraded;
  downgraded.follow_redirects = 1;
  EXPECT_EQ(get(downgraded, tls.url("/redirect?kind=raw&to=" + url("/files/s.txt"))), APR_EGENERAL)
      << "https to http is refused";
  EXPECT_EQ(downgraded.body_length, 0u);
  download_set_ca_file(nullptr);
}

}  // namespace
