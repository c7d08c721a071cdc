// URL and feed sources against a scripted server on 127.0.0.1, and playlist
// files met by a folder scan.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "CommonDownload.h"
#include "CommonFileCache.h"
#include "LocalHttpServer.h"
#include "MSConfig.h"
#include "MSDBHelper.h"
#include "MSDownloadManager.h"
#include "MSMediaScanUrl.h"
#include "ProgramRun.h"
#include "ShareFixture.h"

namespace {

class UrlSources : public ShareTest {
 protected:
  // The download engine keeps its cookie file in the current folder; online
  // items are probed from copies in the installation's download area.
  void SetUp() override {
    ShareTest::SetUp();
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    server_ = std::make_unique<LocalHttpServer>(media_);
    ASSERT_EQ(cache_init(pool_, 1LL << 40, 1LL << 40), 0);
    ASSERT_EQ(download_init(pool_, 3), 0);
    ASSERT_EQ(dlm_init(pool_), 0);
  }
  void TearDown() override {
    dlm_cleanup();
    download_stop();
    cache_term();
    EXPECT_FALSE(log_.contains("at shutdown.")) << "every reference on a copy is dropped";
    server_.reset();
    std::filesystem::current_path(previous_);
    ShareTest::TearDown();
  }

  // The files in the download area; the engine deletes the file of a
  // stopped transfer on its own thread, so this waits up to 5 s for none.
  std::vector<std::string> downloads_left() {
    std::vector<std::string> left;
    for (int i = 0; i < 100; ++i) {
      left.clear();
      for (const auto &entry : std::filesystem::directory_iterator(install_ + "/data/download"))
        left.push_back(entry.path().filename().string());
      if (left.empty()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return left;
  }
  std::string only_object(const std::string &source) {
    const std::vector<std::string> oids = column("select objectOid from objms where sourceOid=" + source);
    return oids.size() == 1 ? oids[0] : "";
  }
  void make_media(const std::vector<std::string> &args) {
    std::vector<std::string> all = {"-loglevel", "error", "-y"};
    all.insert(all.end(), args.begin(), args.end());
    ASSERT_EQ(run_program("/usr/bin/ffmpeg", all, media_).status, 0);
  }
  std::string url(const std::string &name) const { return server_->url("/files/" + name); }

  // Records and processes url in one call; the source oid, "" when the record failed.
  // name: the source's title (null: the url itself, as without -T).
  std::string share_url(const std::string &address, const char *type, int *status, const char *tags = "",
                        const char *name = nullptr) {
    MediaSource request{};
    request.name = name != nullptr ? name : address.c_str();
    request.type = type;
    request.url = address.c_str();
    request.tags = tags;
    request.is_public = 1;
    request.transcode_when = "";
    int added = 0;
    *status = msms_share_url(pool_, &request, URL_SHARE_BOTH, &added, nullptr);
    return request.oid != nullptr ? request.oid : "";
  }

  // The values of property name on the objects of source of item_class, sorted.
  std::vector<std::string> values_of(const std::string &source, const char *item_class, const char *name) {
    std::vector<std::string> values = column(
        "select t.value from objms join prop pc on pc.objectOid=objms.objectOid join propName nc on nc.oid=pc.nameOid "
        "join propValue vc on vc.oid=pc.valueOid join prop pt on pt.objectOid=objms.objectOid join propName nt on "
        "nt.oid=pt.nameOid join propValue t on t.oid=pt.valueOid where objms.sourceOid=" + source +
        " and nc.name='upnp:class' and vc.value like '" + item_class + "%' and nt.name='" + name + "'");
    std::sort(values.begin(), values.end());
    return values;
  }
  std::vector<std::string> titles_of(const std::string &source, const char *item_class) {
    return values_of(source, item_class, "dc:title");
  }

  // The server's count of requests (field 0) or of body bytes sent (1).
  long stats(int field) {
    HttpRequest request;
    request.pool = pool_;
    const std::string stats = server_->url("/stats");
    request.url = stats.c_str();
    if (http_request(&request) != 0) return -1;
    std::istringstream counts(std::string(request.body, request.body_length));
    long values[2] = {-1, -1};
    counts >> values[0] >> values[1];
    return values[field];
  }
  long requests() { return stats(0); }

  std::string feed(const std::vector<std::string> &items) {
    std::string text = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Cast</title>";
    for (const std::string &item : items) text += item;
    return text + "</channel></rss>";
  }
  std::string entry(const std::string &title, const std::string &file) {
    return "<item><title>" + title + "</title><enclosure url=\"" + url(file) + "\" length=\"100\" type=\"audio/mpeg\"/></item>";
  }

  std::vector<std::string> dump(const std::string &source);

  std::unique_ptr<LocalHttpServer> server_;
  std::filesystem::path previous_;
};

TEST_F(UrlSources, APathOrAnUnknownSchemeIsNoUrl) {
  int status = 0;
  EXPECT_EQ(share_url(media_, "audurl", &status), "");
  EXPECT_NE(status, 0);
  EXPECT_TRUE(log_.contains("Invalid URL"));
  EXPECT_EQ(share_url("gopher://127.0.0.1:1/a.mp3", "audurl", &status), "");
  EXPECT_NE(status, 0);
  MediaSource found{};
  EXPECT_EQ(msms_find_media_source(pool_, "gopher://127.0.0.1:1/a.mp3", &found), nullptr)
      << "a url that cannot be inspected is never recorded";
}

TEST_F(UrlSources, TheSameUrlSharedTwiceStaysUpToDateWithOneConditionalRequest) {
  mp3("song.mp3", "Song");
  int status = -1;
  const std::string source = share_url(url("song.mp3"), "audurl", &status);
  ASSERT_EQ(status, 0);
  const std::vector<std::string> first = titles_of(source, "object.item.audioItem.audioBroadcast");
  ASSERT_EQ(first.size(), 1u);
  const std::string oid = column("select objectOid from objms where sourceOid=" + source)[0];
  const long before = requests();
  EXPECT_EQ(share_url(url("song.mp3"), "audurl", &status), source);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(requests() - before, 1 + 1) << "the record form's inspection and one conditional request";
  EXPECT_EQ(column("select objectOid from objms where sourceOid=" + source), std::vector<std::string>{oid});
  EXPECT_EQ(prop(oid, "res@protocolInfo"), "http-get:*:audio/mpeg:*");
  EXPECT_EQ(mlcheck(), "");
}

// Regression: a single URL shared without a name was titled with its URL
// although its stream names itself (a title tag, an ICY station name). A
// refresh keeps such a title, and an item an earlier version titled with its
// url is kept as it is.
TEST_F(UrlSources, AnItemWithoutANameIsTitledByItsStream) {
  make_media({"-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-metadata", "title=Song Tag", "song.m4a"});
  const struct {
    std::string address;
    const char *title;
    bool validated;  // the server answers conditional requests
  } cases[] = {{url("song.m4a"), "Song Tag", true}, {server_->url("/live"), "Test Radio", false}};
  int added = 0, removed = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.address);
    int status = -1;
    const std::string source = share_url(c.address, "audurl", &status);
    ASSERT_EQ(status, 0);
    const std::string oid = only_object(source);
    EXPECT_EQ(titles_of(source, "object.item"), std::vector<std::string>{c.title});
    ASSERT_EQ(msms_refresh_media_source(source.c_str(), 1, 0, &added, &removed, nullptr, nullptr), 0);
    EXPECT_EQ(titles_of(source, "object.item"), std::vector<std::string>{c.title});
    if (c.validated) {
      EXPECT_EQ(only_object(source), oid) << "the stream's title is no change";
    }
  }
  // The item as an earlier version made it: titled by its url, with the
  // server's validators alone.
  int status = -1;
  const std::string source = share_url(url("song.m4a"), "audurl", &status);
  const std::string oid = only_object(source);
  int changed = 0;
  ASSERT_EQ(db_exec(msdb_thread_connection(db_)->medialib,
                    ("update object set signature=replace(signature, 'Title-From: stream' || char(13, 10), '') "
                     "where oid=" + oid).c_str(), &changed), 0);
  ASSERT_EQ(changed, 1);
  ASSERT_EQ(msdb_set_slot(pool_, db_, oid.c_str(), PROP_DC_TITLE, url("song.m4a").c_str()), 0);
  ASSERT_EQ(msms_refresh_media_source(source.c_str(), 1, 0, &added, &removed, nullptr, nullptr), 0);
  EXPECT_EQ(only_object(source), oid) << "a library made before refreshes unchanged";
  EXPECT_EQ(mlcheck(), "");
}

// Regression: an item whose source lost its own name kept that name while
// the server said the URL had not changed.
TEST_F(UrlSources, AnItemFollowsItsSourcesNameBothWays) {
  mp3("song.mp3", "Song");
  const std::string address = url("song.mp3") + "?a=1&b=<2>";
  int status = -1;
  const std::string source = share_url(address, "audurl", &status, "", "Radio \"One\"");
  ASSERT_EQ(status, 0);
  const std::string named = only_object(source);
  EXPECT_EQ(share_url(address, "audurl", &status, "", "Radio \"One\""), source);
  EXPECT_EQ(only_object(source), named) << "the same name keeps the item";
  EXPECT_EQ(share_url(address, "audurl", &status), source);
  const std::string by_url = only_object(source);
  EXPECT_NE(by_url, named);
  EXPECT_EQ(titles_of(source, "object.item"), std::vector<std::string>{
                                                  url("song.mp3") + "?a=1&amp;b=&lt;2&gt;"});
  EXPECT_EQ(share_url(address, "audurl", &status), source);
  EXPECT_EQ(only_object(source), by_url) << "a url with markup in it still compares equal";
  EXPECT_EQ(share_url(address, "audurl", &status, "", "Radio Two"), source);
  EXPECT_EQ(titles_of(source, "object.item"), std::vector<std::string>{"Radio Two"});
  EXPECT_EQ(mlcheck(), "");
}

// Regression: a feed with a name of its own was read again on every refresh.
TEST_F(UrlSources, ANamedFeedIsKeptUntilItsNameChanges) {
  mp3("a1.mp3", "One");
  write_file(media_ + "/cast.rss", feed({entry("One", "a1.mp3")}));
  int status = -1;
  const std::string source = share_url(url("cast.rss"), "audfeed", &status, "", "My & Cast");
  ASSERT_EQ(status, 0);
  const std::string objects = "select objectOid from objms where sourceOid=" + source + " order by objectOid";
  const std::vector<std::string> first = column(objects);
  const long before = requests();
  EXPECT_EQ(share_url(url("cast.rss"), "audfeed", &status, "", "My & Cast"), source);
  EXPECT_EQ(requests() - before, 1 + 1) << "the record form's inspection and one conditional request";
  EXPECT_EQ(column(objects), first);
  EXPECT_EQ(share_url(url("cast.rss"), "audfeed", &status, "", "Their Cast"), source);
  EXPECT_EQ(titles_of(source, "object.container.playlistContainer"), std::vector<std::string>{"Their Cast"});
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(UrlSources, AUrlAnsweringWithAFeedIsAFeedAndItsTitlesSurvive) {
  mp3("a1.mp3", "One");
  mp3("a2.mp3", "Two");
  jpg("cover.jpg");
  write_file(media_ + "/cast.rss",
             feed({"<item><title>Tom &amp; \"Jerry\" &lt;1&gt; \xc3\xbc</title><enclosure url=\"" + url("a1.mp3") +
                       "\" length=\"100\" type=\"audio/mpeg\"/><enclosure url=\"" + url("cover.jpg") +
                       "\" length=\"10\" type=\"image/jpeg\"/></item>",
                   entry("Second", "a2.mp3")}));
  int status = -1;
  const std::string source = share_url(url("cast.rss"), "audurl", &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(titles_of(source, "object.container.playlistContainer"), std::vector<std::string>{"Cast"})
      << "a feed shared without a title of its own takes the feed's";
  // The library keeps values escaped for XML, as every item's.
  EXPECT_EQ(titles_of(source, "object.item"),
            (std::vector<std::string>{"Second", "Tom &amp; &quot;Jerry&quot; &lt;1&gt; \xc3\xbc"}));
  EXPECT_EQ(mlcheck(), "");
}

// Links as podcast clients read them: white space around them cut, relative
// ones resolved against the feed's url after its redirection (also when the
// feed's extension made asking its type needless), web pages kept
// as the relations of the item and never made items of their own.
TEST_F(UrlSources, FeedLinksAreTrimmedResolvedAndWebPagesMakeNoItems) {
  std::filesystem::create_directories(media_ + "/feeds");
  const std::string rss =
      feed({"<item><title>Spaced</title><enclosure url=\" \n" + url("a1.mp3") + "\t \" type=\"audio/mpeg\"/></item>",
            "<item><title>Beside</title><enclosure url=\"a3.mp3\" type=\"audio/mpeg\"/></item>",
            "<item><title>Up</title><enclosure url=\" ../a1.mp3\" type=\"audio/mpeg\"/></item>",
            "<item><title>Rooted</title><enclosure url=\"/files/a2.mp3\" type=\"audio/mpeg\"/></item>",
            "<item><title>Page</title><enclosure url=\"p.html\" type=\"text/html\"/></item>",
            "<item><title>Watch page</title><link>" + url("watch?v=1") + "</link></item>",
            "<item><title>Linked</title><link>" + url("a4.mp3") + "</link></item>"});
  const std::string atom =
      "<?xml version=\"1.0\"?><feed xmlns=\"http://www.w3.org/2005/Atom\"><title>Cast</title>"
      "<entry><title>Paged</title><link rel=\"alternate\" href=\" e1.html\"/>"
      "<link rel=\"enclosure\" type=\"audio/mpeg\" href=\"e1.mp3 \"/></entry>"
      "<entry><title>Html</title><link rel=\"alternate\" type=\"text/html\" href=\"e2.html\"/></entry>"
      "<entry><title>Xhtml</title><link type=\"application/xhtml+xml\" href=\"e3\"/></entry>"
      "<entry><title>Related</title><link rel=\"related\" href=\"e4\"/></entry></feed>";
  struct Case {
    const char *name;
    std::string text;
    std::vector<std::string> res;
    std::vector<std::string> relations;
  };
  const Case cases[] = {
      {"cast.rss", rss, {url("a1.mp3"), url("a1.mp3"), url("a2.mp3"), url("a4.mp3"), url("feeds/a3.mp3")}, {url("a4.mp3")}},
      {"cast.atom", atom, {url("feeds/e1.mp3")}, {url("feeds/e1.html")}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    write_file(media_ + "/feeds/" + c.name, c.text);
    int status = -1;
    const std::string source =
        share_url(server_->url(std::string("/redirect/") + c.name + "?to=/files/feeds/" + c.name), "audfeed", &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(values_of(source, "object.item", "res"), c.res);
    EXPECT_EQ(values_of(source, "object.item", "dc:relation"), c.relations);
  }
  EXPECT_EQ(mlcheck(), "");
}

// A picture feed's entries of plain image enclosures were taken for icons
// and lost, leaving an empty folder; a cover beside audio or video, and the
// page link of an audio or video entry with a picture alone, keep their
// roles, and the cover, taken for the entry's icon, reaches its item (the
// icon and creator were set on no instance and dropped with an internal error).
TEST_F(UrlSources, APictureFeedsImageEnclosuresWereTakenForIconsAndLost) {
  const std::string photo = "<enclosure url=\"" + url("p.jpg") + "\" length=\"1\" type=\"image/jpeg\"/>";
  const std::string clip = "<enclosure url=\"" + url("c.mp4") + "\" length=\"1\" type=\"video/mp4\"/>";
  const std::string page = "<link>" + url("page.html") + "</link>";
  const struct {
    const char *type;
    std::string entry;
    std::vector<std::string> photos;  // res of the photo items
    std::vector<std::string> others;  // res of the other items
    std::vector<std::string> icons;   // of every item
  } cases[] = {
      {"imgfeed", photo, {url("p.jpg")}, {}, {}},
      {"imgfeed", page + photo, {url("p.jpg")}, {}, {}},
      {"imgfeed", clip + photo, {}, {url("c.mp4")}, {url("p.jpg")}},
      {"vidfeed", "<dc:creator>Ann</dc:creator>" + clip + photo, {}, {url("c.mp4")}, {url("p.jpg")}},
      {"vidfeed", page + photo, {}, {url("page.html")}, {url("p.jpg")}},
      {"vidfeed", photo, {}, {}, {}},
  };
  int n = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.entry);
    const std::string name = "pics" + std::to_string(n++) + ".rss";
    write_file(media_ + "/" + name, feed({"<item><title>P</title>" + c.entry + "</item>"}));
    int status = -1;
    const std::string source = share_url(url(name), c.type, &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(values_of(source, "object.item.imageItem", "res"), c.photos);
    EXPECT_EQ(values_of(source, "object.item.videoItem", "res"), c.others);
    EXPECT_EQ(values_of(source, "object.item", "upnp:icon"), c.icons);
    EXPECT_EQ(values_of(source, "object.item", "dc:creator").size(), c.entry.find("Ann") != std::string::npos ? 1u : 0u);
  }
  EXPECT_FALSE(log_.contains("Internal server error"));
  EXPECT_EQ(mlcheck(), "");
}

// A declared length of 1 (a placeholder many feed generators write; others
// write 0) was announced as the item's size, and a renderer trusting it
// stops after one byte: only a length that can be a file's size is kept.
TEST_F(UrlSources, APlaceholderEnclosureLengthWasAnnouncedAsTheSize) {
  const char *lengths[] = {"16527", " 2 ", "1", "0", "-1", "unknown", ""};
  std::vector<std::string> items;
  for (const char *length : lengths) {
    items.push_back("<item><title>L" + std::string(length) + "</title><enclosure url=\"" + url("l" + std::string(length) +
                    ".mp3") + "\" length=\"" + length + "\" type=\"audio/mpeg\"/></item>");
  }
  write_file(media_ + "/lengths.rss", feed(items));
  int status = -1;
  const std::string source = share_url(url("lengths.rss"), "audfeed", &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(titles_of(source, "object.item").size(), std::size(lengths));
  EXPECT_EQ(values_of(source, "object.item", "res@size"), (std::vector<std::string>{"16527", "2"}));
}

// ASX, RAM and "[Reference]" files name one stream: the item is that
// stream's (an ASX entry is a Windows Media stream, reached over mms), kept
// by a refresh while the metafile is unchanged; one that names none fails
// the share.
TEST_F(UrlSources, AMetafileUrlBecomesAnItemOfTheStreamItNames) {
  mp3("a1.mp3", "One");
  const std::string media = url("a1.mp3");
  struct Case {
    const char *name;
    std::string text;
    std::string stream;  // "" when the share fails
  };
  const Case cases[] = {
      {"radio.asx", "<asx version=\"3.0\"><entry><ref href=\"" + media + "\"/></entry></asx>",
       "mms://" + media.substr(7)},
      {"radio.ram", media + "\n", media},
      {"reference.asx", "[Reference]\r\nRef1=" + media + "\r\n", media},
      {"nothing.asx", "no stream here\n", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    write_file(media_ + "/" + c.name, c.text);
    int status = -1;
    const std::string source = share_url(url(c.name), "audfeed", &status);
    EXPECT_EQ(status == 0, !c.stream.empty());
    if (c.stream.empty()) continue;
    EXPECT_EQ(values_of(source, "object.item", "res"), std::vector<std::string>{c.stream});
    const std::string item = only_object(source);
    int added = 0, removed = 0;
    ASSERT_EQ(msms_refresh_media_source(source.c_str(), 1, 0, &added, &removed, nullptr, nullptr), 0);
    EXPECT_EQ(values_of(source, "object.item", "res"), std::vector<std::string>{c.stream}) << "one after a refresh";
    EXPECT_EQ(only_object(source), item) << "kept by the server's answer, not made again";
    EXPECT_EQ(added, 0);
  }
  EXPECT_TRUE(log_.contains("No media URL found in " + url("nothing.asx")));
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(UrlSources, ARefreshFollowsAFeedThatGainedAndLostEntries) {
  for (const char *name : {"a1.mp3", "a2.mp3", "a3.mp3"}) mp3(name, name);
  write_file(media_ + "/cast.rss", feed({entry("One", "a1.mp3"), entry("Two", "a2.mp3")}));
  int status = -1;
  const std::string source = share_url(url("cast.rss"), "audfeed", &status);
  ASSERT_EQ(status, 0);
  write_file(media_ + "/cast.rss", feed({entry("Two", "a2.mp3"), entry("Three", "a3.mp3")}));
  touch(media_ + "/cast.rss", 10);
  int added = 0, removed = 0;
  ASSERT_EQ(msms_refresh_media_source(source.c_str(), 1, 0, &added, &removed, nullptr, nullptr), 0);
  EXPECT_EQ(titles_of(source, "object.item"), (std::vector<std::string>{"Three", "Two"}));
  EXPECT_EQ(mlcheck(), "");
}

// Every property of the objects of source, "class|title|name=value" sorted:
// the feed as a client sees it, ids aside.
std::vector<std::string> UrlSources::dump(const std::string &source) {
  std::vector<std::string> rows = column(
      "select vc.value||'|'||t.value||'|'||n.name||'='||v.value from objms join prop pc on "
      "pc.objectOid=objms.objectOid join propName nc on nc.oid=pc.nameOid and nc.name='upnp:class' join propValue vc "
      "on vc.oid=pc.valueOid join prop pt on pt.objectOid=objms.objectOid join propName nt on nt.oid=pt.nameOid and "
      "nt.name='dc:title' join propValue t on t.oid=pt.valueOid join prop p on p.objectOid=objms.objectOid join "
      "propName n on n.oid=p.nameOid join propValue v on v.oid=p.valueOid where objms.sourceOid=" + source);
  std::sort(rows.begin(), rows.end());
  return rows;
}

// A feed whose entries carry their lengths, refreshed after one entry
// changed (title and length): every format keeps res@size as a new share does.
TEST_F(UrlSources, ARefreshedFeedEqualsTheSameFeedSharedAnew) {
  mp3("a1.mp3", "One");
  mp3("a2.mp3", "Two");
  const struct {
    const char *name, *head, *entry, *tail;
  } formats[] = {
      {"rss", "<rss version=\"2.0\"><channel><title>Cast</title>",
       "<item><title>%s</title><enclosure url=\"%s\" length=\"%d\" type=\"audio/mpeg\"/></item>", "</channel></rss>"},
      {"atom", "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>Cast</title>",
       "<entry><title>%s</title><link rel=\"enclosure\" href=\"%s\" length=\"%d\" type=\"audio/mpeg\"/></entry>",
       "</feed>"},
      {"media", "<rss version=\"2.0\" xmlns:media=\"http://search.yahoo.com/mrss/\"><channel><title>Cast</title>",
       "<item><title>%s</title><media:content url=\"%s\" fileSize=\"%d\" type=\"audio/mpeg\"/></item>",
       "</channel></rss>"},
  };
  for (const auto &format : formats) {
    SCOPED_TRACE(format.name);
    const std::string name = std::string("cast-") + format.name + ".xml";
    const auto document = [&](const char *second, int length) {
      char one[512], two[512];
      std::snprintf(one, sizeof one, format.entry, "One", url("a1.mp3").c_str(), 100);
      std::snprintf(two, sizeof two, format.entry, second, url("a2.mp3").c_str(), length);
      return std::string(format.head) + one + two + format.tail;
    };
    write_file(media_ + "/" + name, document("Two", 200));
    int status = -1;
    const std::string first = share_url(url(name), "audfeed", &status);
    ASSERT_EQ(status, 0);
    write_file(media_ + "/" + name, document("Two again", 300));
    touch(media_ + "/" + name, 10);
    int added = 0, removed = 0;
    ASSERT_EQ(msms_refresh_media_source(first.c_str(), 1, 0, &added, &removed, nullptr, nullptr), 0);
    const std::vector<std::string> refreshed = dump(first);
    ASSERT_EQ(msms_remove_media_source(pool_, url(name).c_str(), 1, nullptr, nullptr, nullptr), 0);
    const std::string again = share_url(url(name), "audfeed", &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(refreshed, dump(again));
    for (const char *row : {"object.item.audioItem.audioBroadcast|Two again|res@size=300",
                            "object.item.audioItem.audioBroadcast|One|res@size=100"}) {
      EXPECT_NE(std::find(refreshed.begin(), refreshed.end(), row), refreshed.end()) << row;
    }
  }
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(UrlSources, AKeptFeedCarriesTheSourcesTagsOntoEveryEntry) {
  mp3("a1.mp3", "One");
  mp3("a2.mp3", "Two");
  write_file(media_ + "/cast.rss", feed({entry("One", "a1.mp3"), entry("Two", "a2.mp3")}));
  int status = -1;
  const std::string source = share_url(url("cast.rss"), "audfeed", &status);
  ASSERT_EQ(status, 0);
  const std::vector<std::string> objects = column("select objectOid from objms where sourceOid=" + source + " order by objectOid");
  ASSERT_EQ(objects.size(), 3u);

  // A tag added to the unchanged feed reaches its entries in place.
  EXPECT_EQ(share_url(url("cast.rss"), "audfeed", &status, "News"), source);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(column("select objectOid from objms where sourceOid=" + source + " order by objectOid"), objects);
  for (const std::string &oid : objects) EXPECT_EQ(props(oid, "zentoria:tag"), std::vector<std::string>{"News"}) << oid;

  // A tag the source dropped rebuilds the feed: no entry keeps it.
  EXPECT_EQ(share_url(url("cast.rss"), "audfeed", &status, "Talk"), source);
  ASSERT_EQ(status, 0);
  const std::vector<std::string> rebuilt = column("select objectOid from objms where sourceOid=" + source + " order by objectOid");
  ASSERT_EQ(rebuilt.size(), 3u);
  EXPECT_NE(rebuilt, objects);
  for (const std::string &oid : rebuilt) EXPECT_EQ(props(oid, "zentoria:tag"), std::vector<std::string>{"Talk"}) << oid;
  EXPECT_EQ(titles_of(source, "object.item"), (std::vector<std::string>{"One", "Two"}));
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(UrlSources, AServerGoneAtRefreshFailsItAndKeepsTheLibrary) {
  mp3("a1.mp3", "One");
  write_file(media_ + "/cast.rss", feed({entry("One", "a1.mp3")}));
  int status = -1;
  const std::string source = share_url(url("cast.rss"), "audfeed", &status);
  ASSERT_EQ(status, 0);
  server_.reset();
  int added = 0, removed = 0;
  EXPECT_NE(msms_refresh_media_source(source.c_str(), 1, 0, &added, &removed, nullptr, nullptr), 0);
  EXPECT_EQ(titles_of(source, "object.item"), std::vector<std::string>{"One"});
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(UrlSources, AnMp4UrlWithoutVideoIsAnnouncedAsH264) {
  make_media({"-f", "lavfi", "-i", "sine=d=1", "-c:a", "aac", media_ + "/tone.mp4"});
  int status = -1;
  const std::string source = share_url(url("tone.mp4"), "vidurl", &status);
  ASSERT_EQ(status, 0);
  const std::string oid = only_object(source);
  EXPECT_EQ(prop(oid, "res@protocolInfo"), "http-get:*:video/h264:*");
  EXPECT_EQ(prop(oid, "upnp:class"), "object.item.audioItem.audioBroadcast") << "an audio stream alone is audio";
  EXPECT_TRUE(log_.contains("Url " + url("tone.mp4") + " added to the download area."));
  EXPECT_EQ(downloads_left(), std::vector<std::string>{});
}

TEST_F(UrlSources, OnlineItemsAreProbedFromACopyThatIsDeletedAfterwards) {
  make_media({"-f", "lavfi", "-i", "sine=d=3", "-c:a", "aac", media_ + "/tone.m4a"});
  make_media({"-f", "lavfi", "-i", "testsrc=d=2:s=64x48", "-c:v", "mpeg4", "-movflags", "+faststart",
              media_ + "/clip.mp4"});
  int status = -1;
  const std::string audio = only_object(share_url(url("tone.m4a"), "audurl", &status));
  ASSERT_EQ(status, 0);
  EXPECT_EQ(prop(audio, "res@duration"), "00:00:03.000");
  EXPECT_EQ(prop(audio, "res@protocolInfo"), "http-get:*:audio/mp4:*");
  const std::string video = only_object(share_url(url("clip.mp4"), "vidurl", &status));
  ASSERT_EQ(status, 0);
  EXPECT_EQ(prop(video, "res@resolution"), "64x48");
  EXPECT_EQ(prop(video, "res@protocolInfo"), "http-get:*:video/mp4:*");
  EXPECT_EQ(prop(video, "upnp:class"), "object.item.videoItem.videoBroadcast");
  EXPECT_EQ(downloads_left(), std::vector<std::string>{});
  // A refresh that rebuilds the item makes and deletes a new copy.
  touch(media_ + "/clip.mp4", 10);
  int added = 0, removed = 0;
  const std::string source = column("select objms.sourceOid from objms where objectOid=" + video)[0];
  ASSERT_EQ(msms_refresh_media_source(source.c_str(), 1, 0, &added, &removed, nullptr, nullptr), 0);
  EXPECT_EQ(prop(only_object(source), "res@resolution"), "64x48");
  EXPECT_EQ(downloads_left(), std::vector<std::string>{});
  EXPECT_EQ(mlcheck(), "");
}

// Files whose facts lie past their first megabytes: the head comes from the
// copy, the rest from ranged requests.
TEST_F(UrlSources, FactsPastTheHeadAreReadThroughRanges) {
  make_media({"-f", "lavfi", "-i", "anoisesrc=d=30:r=44100", "-ac", "2", "-c:a", "alac", media_ + "/noise.m4a"});
  make_media({"-f", "lavfi", "-i", "anoisesrc=d=200", "-c:a", "libvorbis", "-q:a", "8", media_ + "/noise.ogg"});
  for (const char *name : {"noise.m4a", "noise.ogg"}) {
    SCOPED_TRACE(name);
    ASSERT_GT(std::filesystem::file_size(media_ + "/" + name), static_cast<std::uintmax_t>(URL_HEAD_BYTES));
    int status = -1;
    const std::string oid = only_object(share_url(url(name), "audurl", &status));
    ASSERT_EQ(status, 0);
    EXPECT_EQ(prop(oid, "res@duration"), std::string(name) == "noise.m4a" ? "00:00:30.000" : "00:03:20.000");
  }
  EXPECT_EQ(downloads_left(), std::vector<std::string>{});
}

// The item is made as when its probe fails; nothing is left of the copy.
TEST_F(UrlSources, ACopyThatFailsStillMakesTheItem) {
  make_media({"-f", "lavfi", "-i", "testsrc=d=2:s=64x48", "-c:v", "mpeg4", "-movflags", "+faststart",
              media_ + "/clip.mp4"});
  for (const std::string path : {"/halfway?name=clip.mp4&bytes=2000&then=close", "/live?type=video/mp4",
                                 "/halfway?name=clip.mp4&bytes=2000&seconds=45"}) {
    SCOPED_TRACE(path);
    int status = -1;
    const std::string oid = only_object(share_url(server_->url(path), "vidurl", &status));
    ASSERT_EQ(status, 0);
    EXPECT_EQ(prop(oid, "res@protocolInfo"), "http-get:*:video/h264:*");
    EXPECT_EQ(prop(oid, "upnp:class"), "object.item.videoItem.videoBroadcast");
    EXPECT_EQ(prop(oid, "res@resolution"), "");
    EXPECT_EQ(downloads_left(), std::vector<std::string>{});
  }
  EXPECT_TRUE(log_.contains("Aborting download of infinite size file / live stream (" +
                            server_->url("/live?type=video/mp4") + ")"));
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(UrlSources, AShareCancelledDuringTheCopyLeavesNothing) {
  make_media({"-f", "lavfi", "-i", "testsrc=d=2:s=64x48", "-c:v", "mpeg4", media_ + "/clip.mp4"});
  const std::string address = server_->url("/halfway?name=clip.mp4&bytes=2000&seconds=45");
  MediaSource request{};
  request.name = address.c_str();
  request.type = "vidurl";
  request.url = address.c_str();
  request.tags = "";
  request.transcode_when = "";
  int added = 0;
  ASSERT_EQ(msms_share_url(pool_, &request, URL_SHARE_RECORD, &added, nullptr), 0);
  // Cancels once the copy has been waited on for a second.
  struct Clock {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    static int cancel(void *self) {
      return std::chrono::steady_clock::now() - static_cast<Clock *>(self)->start > std::chrono::seconds(1);
    }
  } clock;
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(msms_share_url(pool_, &request, URL_SHARE_PROCESS, &added, nullptr, Clock::cancel, &clock), 4);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
  EXPECT_EQ(downloads_left(), std::vector<std::string>{});
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(UrlSources, UnshareLeavesNoObjectOfTheFeed) {
  mp3("a1.mp3", "One");
  write_file(media_ + "/cast.rss", feed({entry("One", "a1.mp3")}));
  int status = -1;
  const std::string source = share_url(url("cast.rss"), "audfeed", &status);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(msms_remove_media_source(pool_, url("cast.rss").c_str(), 1, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(count("select count(*) from objms where sourceOid=" + source), 0);
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(UrlSources, APlaylistFileInAFolderListsItsEntriesOnceAndSkipsMissingOnes) {
  mp3("music/a.mp3", "A");
  write_file(media_ + "/music/list.m3u", "a.mp3\nmissing.mp3\nlist.m3u\n/nowhere/else.mp3\n");
  const std::string source = share(media_ + "/music");
  ASSERT_EQ(scan(source).status, 0);
  EXPECT_EQ(titles_of(source, "object.container.playlistContainer"), std::vector<std::string>{"list"});
  const std::string list = item(media_ + "/music/list.m3u");
  ASSERT_NE(list, "");
  EXPECT_EQ(column("select objectOid from edge where parentObjectOid=" + list),
            std::vector<std::string>{item(media_ + "/music/a.mp3")});
  EXPECT_TRUE(log_.contains("Can't find playlist item missing.mp3 or is of zero size, ignoring..."));
  EXPECT_EQ(scan(source).status, 0);
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(UrlSources, FeedEntriesOfSchemesTheEngineDoesNotSpeakAreNoItems) {
  mp3("a1.mp3", "One");
  std::string items = entry("Good", "a1.mp3");
  for (const char *hostile : {"file:/etc/passwd#://x.mp3", "/etc/passwd?://x.mp3", " file:///etc/passwd",
                              "smb://127.0.0.1/x.mp3", "ftp://127.0.0.1/x.mp3", "gopher://127.0.0.1/x.mp3",
                              "dict://127.0.0.1/x.mp3"}) {
    items += std::string("<item><title>Bad</title><enclosure url=\"") + hostile + "\" type=\"audio/mpeg\"/></item>";
  }
  write_file(media_ + "/cast.rss", feed({items}));
  int status = -1;
  const std::string source = share_url(url("cast.rss"), "audfeed", &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(titles_of(source, "object.item"), std::vector<std::string>{"Good"});
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(UrlSources, AFeedKeepsMaxItemsPerFeedEntries) {
  mp3("a1.mp3", "One");
  std::vector<std::string> items;
  for (int i = 0; i < 30; ++i) items.push_back(entry("E" + std::to_string(100 + i), "a1.mp3"));
  write_file(media_ + "/long.rss", feed(items));
  int status = -1;
  const std::string source = share_url(url("long.rss"), "audfeed", &status);
  ASSERT_EQ(status, 0);
  const std::vector<std::string> titles = titles_of(source, "object.item");
  ASSERT_EQ(titles.size(), 10u) << "the example configuration's maxItemsPerFeed";
  EXPECT_EQ(titles.front(), "E100") << "the first entries the feed lists are kept";
  EXPECT_TRUE(log_.contains("Feed reached maxItemsPerFeed"));
  EXPECT_EQ(mlcheck(), "");
}

// Regression: an endless playlist was fetched to the 32 MiB cap before the
// feed's bound ended it.
TEST_F(UrlSources, AnEndlessPlaylistEndsAtMaxItemsPerFeed) {
  mp3("a.mp3", "A");
  const long before = stats(1);
  int status = -1;
  const std::string source = share_url(server_->url("/endless.m3u"), "audfeed", &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(titles_of(source, "object.item").size(), 10u);
  EXPECT_LT(stats(1) - before, 8L << 20) << "the transfer ends once the kept entries arrived";
  EXPECT_EQ(mlcheck(), "");
}

// Regression: a dated feed kept the first entries it listed, not the newest.
TEST_F(UrlSources, ADatedFeedKeepsItsNewestEntriesInAnyOrder) {
  const struct {
    const char *name, *head, *entry, *tail;
  } formats[] = {
      {"rss", "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Cast</title>",
       "<item><title>D%02d</title><pubDate>Mon, %02d Jan 2024 10:00:00 GMT</pubDate><enclosure url=\"%s\" "
       "type=\"audio/mpeg\"/></item>",
       "</channel></rss>"},
      {"atom", "<?xml version=\"1.0\"?><feed xmlns=\"http://www.w3.org/2005/Atom\"><title>Cast</title>",
       "<entry><title>D%02d</title><updated>2024-01-%02dT10:00:00Z</updated><link rel=\"enclosure\" href=\"%s\" "
       "type=\"audio/mpeg\"/></entry>",
       "</feed>"},
  };
  for (const auto &format : formats) {
    SCOPED_TRACE(format.name);
    std::string text = format.head;
    std::vector<std::string> newest;
    for (int i = 0; i < 28; ++i) {
      const int day = 1 + (i * 11) % 28;  // every day of the month once, out of order
      char entry[512];
      std::snprintf(entry, sizeof entry, format.entry, day, day, url("a.mp3").c_str());
      text += entry;
      if (day > 18) newest.push_back(std::string(std::strstr(entry, "D"), 3));
    }
    write_file(media_ + "/dated." + format.name, text + format.tail);
    int status = -1;
    const std::string source = share_url(url(std::string("dated.") + format.name), "audfeed", &status);
    ASSERT_EQ(status, 0);
    std::sort(newest.begin(), newest.end());
    EXPECT_EQ(titles_of(source, "object.item"), newest);
  }
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(UrlSources, AnUnreachableStreamUrlIsNotRecordedAndAWebUrlKeepsItsEscapes) {
  int status = -1;
  EXPECT_EQ(share_url("rtsp://127.0.0.1:1/live", "audurl", &status), "");
  EXPECT_NE(status, 0);
  const std::string answering = "rtsp://127.0.0.1:" + std::to_string(server_->port()) + "/live";
  const std::string live = share_url(answering, "audurl", &status);
  EXPECT_EQ(status, 0) << "a stream whose server answers is recorded";
  EXPECT_NE(live, "");
  mp3("a b.mp3", "Spaced");
  const std::string source = share_url(url("a%20b.mp3"), "audurl", &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(prop(only_object(source), "res"), url("a%20b.mp3")) << "stored exactly as given";
}

// Regression: the web playlists and feeds listed by a playlist file of a
// shared folder were fetched inside the locked pass. Fetched before it, they
// give the library and the failures they gave then, leave no copy behind,
// and an unchanged playlist file asks no server again.
TEST_F(UrlSources, WebPlaylistsOfAFolderPlaylistAreFetchedBeforeThePass) {
  mp3("a.mp3", "A");
  mp3("b.mp3", "B");
  write_file(media_ + "/web.m3u", url("a.mp3") + "\n" + url("b.mp3") + "\n");
  write_file(media_ + "/cast.rss", feed({entry("One", "a.mp3"), entry("Two", "b.mp3")}));
  const struct {
    const char *name;
    std::string listed;
    const char *shared;  // below the folder; "" for the folder itself
    std::vector<std::string> titles;
    const char *logged;
  } cases[] = {
      {"web playlist", url("web.m3u"), "", {"Local", "a.mp3", "b.mp3"}, nullptr},
      {"shared file", url("web.m3u"), "/list.m3u", {"a.mp3", "b.mp3"}, nullptr},
      {"feed", url("cast.rss"), "", {"Local", "One", "Two"}, nullptr},
      {"missing", url("gone.m3u"), "", {"Local"}, "Could not process metafile "},
      {"no server", "http://127.0.0.1:1/web.m3u", "", {"Local"}, "Could not process metafile "},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    log_.clear();
    const std::string folder = std::string("shared-") + c.name;
    mp3(folder + "/local.mp3", "Local");
    write_file(media_ + "/" + folder + "/list.m3u", c.listed + "\n");
    const std::string source = share(media_ + "/" + folder + c.shared);
    ASSERT_NE(source, "");
    EXPECT_EQ(scan(source).status, 0);
    EXPECT_EQ(titles_of(source, "object.item"), c.titles);
    EXPECT_TRUE(c.logged == nullptr || log_.contains(c.logged + c.listed));
    EXPECT_FALSE(log_.contains("was not fetched before the pass"));
    EXPECT_EQ(downloads_left(), std::vector<std::string>{});
    const long before = requests();
    EXPECT_EQ(scan(source).status, 0);
    EXPECT_EQ(requests(), before) << "an unchanged playlist file is not read again";
    EXPECT_EQ(titles_of(source, "object.item"), c.titles);
    EXPECT_EQ(mlcheck(), "");
  }
}

// Nested playlists under tight bounds (depth 8, 20 requests, 200 objects):
// each case ends with success, a small consistent library and a log of what
// was left out.
class NestedPlaylists : public UrlSources {
 protected:
  void SetUp() override {
    UrlSources::SetUp();
    MSConfig *config = nullptr;
    ASSERT_EQ(msconfig_get_for_update(&config), 0);
    config->max_playlist_depth = 8;
    config->max_share_requests = 20;
    config->max_share_items = 200;
    msconfig_release();
    mp3("a.mp3", "A");
  }

 public:
  // count documents in folder: c<i>.m3u lists a song and c<i+1>.m3u, each
  // named as prefix + file name (a url, or a path relative to the folder).
  void chain(const std::string &folder, int count, const std::string &prefix) {
    mp3(folder + "/a.mp3", "A");
    for (int i = 0; i < count; ++i) {
      std::string text = prefix + "a.mp3\n";
      if (i + 1 < count) text += prefix + "c" + std::to_string(i + 1) + ".m3u\n";
      write_file(media_ + "/" + folder + "/c" + std::to_string(i) + ".m3u", text);
    }
  }
  std::string remote_chain() {
    chain("rc", 50, url("rc/"));
    return url("rc/c0.m3u");
  }
  // Every document lists a song and fan others, levels deep.
  void fan_out(const std::string &name, int fan, int levels) {
    std::string text = url("a.mp3") + "\n";
    for (int i = 0; levels > 0 && i < fan; ++i) {
      const std::string child = name + "-" + std::to_string(i);
      text += url(child + ".m3u") + "\n";
      fan_out(child, fan, levels - 1);
    }
    write_file(media_ + "/" + name + ".m3u", text);
  }
  std::string remote_fan_out() {
    fan_out("fan", 4, 4);
    return url("fan.m3u");
  }
  std::string local_chain() {
    chain("lc", 60, "");
    return media_ + "/lc";
  }
  // A playlist in a shared folder that leads into a chain outside it.
  std::string folder_playlist() {
    chain("outside", 50, media_ + "/outside/");
    mp3("fp/b.mp3", "B");
    write_file(media_ + "/fp/list.m3u", media_ + "/outside/c0.m3u\n");
    return media_ + "/fp";
  }
  // A playlist in a shared folder that leads into a chain on a server.
  std::string folder_web_chain() {
    chain("wc", 50, url("wc/"));
    mp3("fw/b.mp3", "B");
    write_file(media_ + "/fw/list.m3u", url("wc/c0.m3u") + "\n");
    return media_ + "/fw";
  }
};

TEST_F(NestedPlaylists, EndlessNestingEndsAtTheBoundsWithSuccessAndASmallLibrary) {
  const struct {
    const char *name;
    std::string (NestedPlaylists::*setup)();
    bool folder;
    int max_objects;
  } cases[] = {
      {"remote chain", &NestedPlaylists::remote_chain, false, 2 * 9},
      {"remote fan-out", &NestedPlaylists::remote_fan_out, false, 2 * 21},
      {"local chain", &NestedPlaylists::local_chain, true, 2 * 60 + 2},
      {"folder playlist", &NestedPlaylists::folder_playlist, true, 2 * 9 + 4},
      {"folder web chain", &NestedPlaylists::folder_web_chain, true, 2 * 9 + 4},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    log_.clear();
    const std::string where = (this->*c.setup)();
    const long before = requests();
    int status = -1;
    const std::string source = c.folder ? share(where) : share_url(where, "audfeed", &status);
    ASSERT_NE(source, "");
    if (c.folder) status = scan(source).status;
    EXPECT_EQ(status, 0);
    const int objects = count("select count(*) from objms where sourceOid=" + source);
    EXPECT_GT(objects, 2);
    EXPECT_LE(objects, c.max_objects);
    EXPECT_LE(requests() - before, 2 * 21 + 2) << "each nested document is fetched once";
    if (std::string(c.name) != "local chain") {
      EXPECT_TRUE(log_.contains("left out by the bounds of its share"));
      EXPECT_TRUE(log_.contains("Share reached maxRequestsPerShare, leaving out ") ||
                  log_.contains("Playlists nested deeper than maxPlaylistDepth (8), leaving out "));
    }
    EXPECT_FALSE(log_.contains("was not fetched before the pass"));
    EXPECT_EQ(mlcheck(), "");
  }
}

}  // namespace
