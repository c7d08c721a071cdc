// The site crawl's reading of pages: links, titles, names and domains.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommonMetaFileCrawl.h"
#include "LogCapture.h"

namespace {

std::vector<std::string> links_of(apr_pool_t *pool, const std::string &page_url, const std::string &page) {
  std::vector<std::string> links;
  crawl_page_links(pool, page_url.c_str(), page.data(), page.size(),
                   [](const char *url, void *context) {
                     static_cast<std::vector<std::string> *>(context)->push_back(url);
                     return 0;
                   },
                   &links);
  return links;
}

TEST(CrawlPage, LinksAbsoluteAndQuotedRelative) {
  TestPool pool;
  std::string page = R"(<html><head><title>x</title></head><body>
<a href="songs/one.mp3">One</a> <a href='../two.ogg'>Two</a>
<a href="/radio.pls">Radio</a> see http://127.0.0.1:8000/live.mp3 now
<a href="a?x=1&amp;y=2">amp</a> <br/> <p>Version 2.0 of the site.</p>
<img src="x"> <a href=unquoted/page.html>u</a>
</body></html>)";
  EXPECT_EQ(links_of(pool, "http://127.0.0.1/music/index.html", page),
            (std::vector<std::string>{"http://127.0.0.1/music/songs/one.mp3", "http://127.0.0.1/two.ogg",
                                      "http://127.0.0.1/radio.pls", "http://127.0.0.1:8000/live.mp3"}));
  EXPECT_TRUE(links_of(pool, "http://127.0.0.1/", "").empty());
  EXPECT_TRUE(links_of(pool, "http://127.0.0.1/", "'.'\"/\" ./ ..").empty());
}

TEST(CrawlPage, QueryLinksKeepTheirArguments) {
  TestPool pool;
  EXPECT_EQ(links_of(pool, "http://127.0.0.1/d/p.html", "<a href=\"get.php?id=1&amp;f=a.mp3\">"),
            (std::vector<std::string>{"http://127.0.0.1/d/get.php?id=1&f=a.mp3"}));
}

TEST(CrawlPage, TitlesInTheirCharacterSet) {
  TestPool pool;
  std::string latin = "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">"
                      "<title> Caf\xe9 &amp; Bar </title>";
  EXPECT_STREQ(crawl_page_title(pool, latin.data(), latin.size()), "Caf\xc3\xa9 & Bar");
  std::string utf8 = "<META HTTP-EQUIV='Contetnt-Type' CONTENT='text/html; charset=utf-8'/><title>Caf\xc3\xa9</title>";
  EXPECT_STREQ(crawl_page_charset(pool, utf8.data(), utf8.size()), "utf-8");
  EXPECT_STREQ(crawl_page_title(pool, utf8.data(), utf8.size()), "Caf\xc3\xa9");
  std::string nested = "<title>a<b>b</b></title>";
  EXPECT_EQ(crawl_page_title(pool, nested.data(), nested.size()), nullptr);
  std::string open = "<title>never closed";
  EXPECT_EQ(crawl_page_title(pool, open.data(), open.size()), nullptr);
}

TEST(CrawlPage, PageAndSiteNames) {
  TestPool pool;
  EXPECT_STREQ(crawl_site_name(pool, "http://www.radio.example.com/x"), "radio");
  EXPECT_STREQ(crawl_site_name(pool, "http://127.0.0.1:8080/"), "127");
  EXPECT_STREQ(crawl_page_name(pool, "http://www.radio.example.com/shows/late%20night.html?x=1"),
               "late night.html");
  EXPECT_STREQ(crawl_page_name(pool, "http://www.radio.example.com/shows/index.html"), "radio");
  EXPECT_STREQ(crawl_page_name(pool, "http://www.radio.example.com/"), "radio");
  EXPECT_STREQ(crawl_page_name(pool, "http://www.radio.example.com"), "radio");
}

TEST(CrawlPage, DomainsAndPluginSites) {
  const CrawlDomain *germany = crawl_domain_of("http://radio.example.DE:8000/live");
  ASSERT_NE(germany, nullptr);
  EXPECT_STREQ(germany->name, "Germany");
  EXPECT_STREQ(germany->language, "de");
  const CrawlDomain *org = crawl_domain_of("https://user@www.example.org/");
  ASSERT_NE(org, nullptr);
  EXPECT_EQ(org->language, nullptr);
  EXPECT_EQ(crawl_domain_of("http://127.0.0.1/"), nullptr);
  EXPECT_EQ(crawl_domain_of("http://localhost/"), nullptr);
  EXPECT_EQ(crawl_is_plugin_site("http://get.adobe.com/flash"), 1);
  EXPECT_EQ(crawl_is_plugin_site("http://notadobe.com/"), 0);
}

}  // namespace
