// The XML feed reader: one realistic document per format with every
// property it produces, the item and enclosure rules, and hostile documents.
#include <gtest/gtest.h>

#include <string>

#include "CommonMetaFile.h"
#include "CommonUtf8.h"
#include "MetaFileSupport.h"

namespace {

constexpr const char *kPodcast = R"(<?xml version="1.0" encoding="UTF-8"?>
<rss version="2.0" xmlns:itunes="http://www.itunes.com/dtds/podcast-1.0.dtd"
     xmlns:media="http://search.yahoo.com/mrss/">
<channel>
  <title>Garden Talk</title>
  <link>http://127.0.0.1/garden</link>
  <description>Weekly &lt;b&gt;garden&lt;/b&gt; show</description>
  <language>en-us</language>
  <copyright>2026 Garden Talk</copyright>
  <lastBuildDate>Tue, 01 Dec 2026 10:00:00 GMT</lastBuildDate>
  <image><url>http://127.0.0.1/garden/logo.png</url></image>
  <itunes:author>Ann Green</itunes:author>
  <itunes:explicit>clean</itunes:explicit>
  <itunes:category text="Leisure"><itunes:category text="Home &amp; Garden"/></itunes:category>
  <itunes:image href="http://127.0.0.1/garden/cover.jpg"/>
  <item>
    <title>Roses in winter</title>
    <guid>garden-001</guid>
    <pubDate>Tue, 01 Dec 2026 10:00:00 GMT</pubDate>
    <itunes:summary><![CDATA[<p>Pruning roses</p>]]></itunes:summary>
    <itunes:keywords>roses, winter</itunes:keywords>
    <enclosure url="http://127.0.0.1/garden/rose-cover.jpg" length="2048" type="image/jpeg"/>
    <enclosure url="http://127.0.0.1/garden/001.mp3" length="1234567" type="audio/mpeg" duration="1800"/>
  </item>
  <item>
    <title>Tom &amp; Jerry
      plant tulips</title>
    <link>http://127.0.0.1/garden/tulips.html</link>
    <category>Bulbs</category>
    <itunes:explicit>no</itunes:explicit>
    <description>See &lt;img src='http://127.0.0.1/garden/tulip.jpg'/&gt; here</description>
  </item>
</channel>
</rss>
)";

TEST(MetaFileRss, PodcastWithItunesTagsAndEnclosures) {
  TestPool pool;
  TempDir dir;
  Recorder recorder;
  ASSERT_EQ(parse_text(dir, "garden.rss", kPodcast, &recorder, METAFILE_OPTION_ENCLOSURES), 0);
  ASSERT_EQ(recorder.reports.size(), 6u);
  const std::vector<int> depths = {3, 3, 2, 3, 2, 1};
  for (std::size_t i = 0; i < depths.size(); ++i) EXPECT_EQ(recorder.reports[i].depth, depths[i]) << i;

  // The image enclosure gives the item its icon and no entry of its own.
  EXPECT_EQ(recorder.reports[0].sub, Props{});
  EXPECT_EQ(recorder.reports[1].sub, (Props{{"0/res", "http://127.0.0.1/garden/001.mp3"},
                                            {"0/res@size", "1234567"},
                                            {"0/res@mimeType", "audio/mpeg(enclosure)"},
                                            {"0/res@duration", "00:30:00.000"}}));
  EXPECT_EQ(recorder.reports[2].item, (Props{{"0/dc:title", "Roses in winter"},
                                             {"0/zentoria:guid", "garden-001"},
                                             {"0/dc:date", "2026-12-01"},
                                             {"0/upnp:longDescription", " Pruning roses "},
                                             {"0/zentoria:keywords", "roses, winter"},
                                             {"0/upnp:icon", "http://127.0.0.1/garden/rose-cover.jpg"}}));

  // An item without enclosures is its own sub-item: its link is its res and
  // its title its guid.
  EXPECT_EQ(recorder.reports[3].sub, (Props{{"0/dc:title", "Tom & Jerry\n      plant tulips"},
                                            {"0/zentoria:guid", "itemTom & Jerry\n      plant tulips"},
                                            {"0/dc:relation", "http://127.0.0.1/garden/tulips.html"},
                                            {"0/res", "http://127.0.0.1/garden/tulips.html"},
                                            {"0/upnp:genre", "Bulbs"},
                                            {"0/upnp:rating", "unknown"},
                                            {"0/dc:description", "See   here"},
                                            {"0/upnp:icon", "http://127.0.0.1/garden/tulip.jpg"}}));
  EXPECT_EQ(recorder.reports[4].item, Props{});

  EXPECT_EQ(recorder.reports[5].container, (Props{{"0/dc:title", "Garden Talk"},
                                                  {"0/dc:relation", "http://127.0.0.1/garden"},
                                                  {"0/dc:description", "Weekly  garden  show"},
                                                  {"0/dc:language", "en-us"},
                                                  {"0/dc:rights", "2026 Garden Talk"},
                                                  {"0/zentoria:modDateTime", "1796119200000000"},
                                                  {"0/upnp:icon", "http://127.0.0.1/garden/cover.jpg"},
                                                  {"0/upnp:author", "Ann Green"},
                                                  {"0/upnp:rating", "clean"},
                                                  {"0/upnp:genre", "Leisure.Home & Garden"},
                                                  {"0/zentoria:guid", "containerGarden Talk"}}));
}

TEST(MetaFileRss, EnclosureRulesOnlyWithTheOption) {
  TestPool pool;
  TempDir dir;
  Recorder recorder;
  ASSERT_EQ(parse_text(dir, "garden.rss", kPodcast, &recorder, 0), 0);
  EXPECT_EQ(recorder.reports[0].sub.at("0/res"), "http://127.0.0.1/garden/rose-cover.jpg");
  EXPECT_EQ(recorder.reports[2].item.count("0/upnp:icon"), 0u);
}

// An image enclosure with no other media: the item's link is the media and
// the picture its icon, except in a feed of pictures, where an image
// enclosure alone was taken for an icon and its entry lost.
TEST(MetaFileRss, ImageEnclosureAloneTakesTheItemLink) {
  constexpr const char *kLink = "<link>http://127.0.0.1/p.html</link>";
  const struct {
    const char *link;
    int options;
    const char *res;   // of the sub-item, null for none
    const char *icon;  // of the item, null for none
  } cases[] = {
      {kLink, METAFILE_OPTION_ENCLOSURES, "http://127.0.0.1/p.html", "http://127.0.0.1/p.jpg"},
      {"", METAFILE_OPTION_ENCLOSURES, nullptr, "http://127.0.0.1/p.jpg"},
      {kLink, METAFILE_OPTION_ENCLOSURES | METAFILE_OPTION_PICTURES, "http://127.0.0.1/p.jpg", nullptr},
      {"", METAFILE_OPTION_ENCLOSURES | METAFILE_OPTION_PICTURES, "http://127.0.0.1/p.jpg", nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.link) + " options " + std::to_string(c.options));
    TestPool pool;
    TempDir dir;
    Recorder recorder;
    ASSERT_EQ(parse_text(dir, "photo.rss", std::string("<rss><channel><item><title>P</title>") + c.link +
                                               R"(<enclosure url="http://127.0.0.1/p.jpg" type="image/jpeg"/>
                                               </item></channel></rss>)",
                         &recorder, c.options),
              0);
    ASSERT_EQ(recorder.reports.size(), 3u);
    const Props &sub = recorder.reports[0].sub;
    EXPECT_EQ(sub.count("0/res") ? sub.at("0/res") : "", c.res ? c.res : "");
    const Props &item = recorder.reports[1].item;
    EXPECT_EQ(item.count("0/upnp:icon") ? item.at("0/upnp:icon") : "", c.icon ? c.icon : "");
  }
}

TEST(MetaFileRss, MediaGroupWithRatingsAndCredits) {
  TestPool pool;
  TempDir dir;
  Recorder recorder;
  ASSERT_EQ(parse_text(dir, "trail.rss", R"(<rss version="2.0" xmlns:media="http://search.yahoo.com/mrss/">
<channel>
 <title>Trail Films</title>
 <item>
  <title>Ridge run</title>
  <guid>trail-7</guid>
  <media:group>
   <media:content url="http://127.0.0.1/trail/ridge-720.mp4" type="video/mp4" fileSize="7000000"
      bitrate="1500" framerate="25" duration="95" medium="video" lang="en"/>
   <media:content url="http://127.0.0.1/trail/ridge-360.mp4" type="video/mp4" fileSize="2000000"
      bitrate="600" samplingrate="44100" channels="2"/>
   <media:thumbnail url="http://127.0.0.1/trail/ridge.jpg"/>
   <media:rating scheme="urn:simple">adult</media:rating>
   <media:credit role="actor">Kim Lo</media:credit>
   <media:credit role="grip">Sam</media:credit>
   <media:credit role="director">Ida</media:credit>
   <media:category>sports/running</media:category>
   <media:keywords>trail, ridge</media:keywords>
  </media:group>
 </item>
</channel>
</rss>)",
                       &recorder, METAFILE_OPTION_ENCLOSURES),
            0);
  ASSERT_EQ(recorder.reports.size(), 3u);
  EXPECT_EQ(recorder.reports[0].sub, (Props{{"0/res", "http://127.0.0.1/trail/ridge-720.mp4"},
                                            {"0/res@mimeType", "video/mp4"},
                                            {"0/res@size", "7000000"},
                                            {"0/res@bitrate", "1500"},
                                            {"0/res@videoFPS", "25"},
                                            {"0/res@duration", "00:01:35.000"},
                                            {"0/res@medium", "video"},
                                            {"0/res@language", "en"},
                                            {"1/res", "http://127.0.0.1/trail/ridge-360.mp4"},
                                            {"1/res@mimeType", "video/mp4"},
                                            {"1/res@size", "2000000"},
                                            {"1/res@bitrate", "600"},
                                            {"1/res@sampleFrequency", "44100"},
                                            {"1/res@nrAudioChannels", "2"},
                                            {"0/upnp:icon", "http://127.0.0.1/trail/ridge.jpg"},
                                            {"0/upnp:rating", "explicit"},
                                            {"0/upnp:actor", "Kim Lo"},
                                            {"0/zentoria:credit", "Sam"},
                                            {"0/zentoria:credit@role", "grip"},
                                            {"1/zentoria:credit", "Ida"},
                                            {"1/zentoria:credit@role", "director"},
                                            {"0/upnp:genre", "sports.running"},
                                            {"0/zentoria:keywords", "trail, ridge"}}));
  EXPECT_EQ(recorder.reports[1].item, (Props{{"0/dc:title", "Ridge run"}, {"0/zentoria:guid", "trail-7"}}));
  EXPECT_EQ(recorder.reports[2].container,
            (Props{{"0/dc:title", "Trail Films"}, {"0/zentoria:guid", "containerTrail Films"}}));
}

TEST(MetaFileRss, RatingVocabularies) {
  TestPool pool;
  TempDir dir;
  LogCapture log;
  Recorder recorder;
  ASSERT_EQ(parse_text(dir, "r.rss", R"(<rss xmlns:media="m" xmlns:itunes="i"><channel>
    <item><title>a</title><itunes:explicit>maybe</itunes:explicit></item>
    <item><title>b</title><media:adult>false</media:adult></item>
    <item><title>c</title><media:rating scheme="urn:mpaa">pg</media:rating></item>
    <item><title>d</title><media:rating scheme="mpaa">nonadult</media:rating></item>
    </channel></rss>)",
                       &recorder),
            0);
  auto subs = recorder.of_depth(3);
  ASSERT_EQ(subs.size(), 4u);
  EXPECT_EQ(subs[0].sub.count("0/upnp:rating"), 0u);
  EXPECT_EQ(log.count("CommonMetaFile", 3, "Unexpected value for iTunes explicit, maybe"), 1);
  EXPECT_EQ(subs[1].sub.at("0/upnp:rating"), "clean");
  EXPECT_EQ(subs[2].sub.at("0/upnp:rating"), "mpaa unknown");
  EXPECT_EQ(subs[3].sub.at("0/upnp:rating"), "clean");
  EXPECT_EQ(log.count("CommonMetaFile", 2, "Unexpected value for MediaRSS rating scheme attribute, mpaa"), 1);
}

TEST(MetaFileRss, SubitemsBeyondTheLimitAreDroppedWithOneError) {
  TestPool pool;
  TempDir dir;
  std::string feed = "<rss><channel><item><title>many</title>";
  for (int i = 0; i < 301; ++i) {
    feed += "<enclosure url=\"http://127.0.0.1/" + std::to_string(i) + ".mp3\" type=\"audio/mpeg\"/>";
  }
  feed += "</item></channel></rss>";
  LogCapture log;
  Recorder recorder;
  ASSERT_EQ(parse_text(dir, "many.rss", feed, &recorder), 0);
  auto subs = recorder.of_depth(3);
  ASSERT_EQ(subs.size(), 300u);
  EXPECT_EQ(subs.back().sub.at("0/res"), "http://127.0.0.1/299.mp3");
  EXPECT_EQ(log.count("CommonMetaFile", 3, "Subitem count exceeded allowed maximum of 300, discarding it..."), 1);
}

TEST(MetaFileAtom, EntriesWithLinkEnclosures) {
  TestPool pool;
  TempDir dir;
  Recorder recorder;
  ASSERT_EQ(parse_text(dir, "sky.atom", R"doc(<?xml version="1.0" encoding="utf-8"?>
<feed xmlns="http://www.w3.org/2005/Atom" xmlns:media="http://search.yahoo.com/mrss/">
  <title>Night Sky Videos</title>
  <subtitle>Clips of the &lt;i&gt;night&lt;/i&gt; sky</subtitle>
  <updated>2026-11-30T08:30:00Z</updated>
  <link href="http://127.0.0.1/sky/"/>
  <logo>http://127.0.0.1/sky/logo.png</logo>
  <id>urn:uuid:sky-feed</id>
  <author><name>Sky Club</name></author>
  <entry>
    <title>Meteor shower</title>
    <id>urn:uuid:sky-1</id>
    <published>2026-11-29</published>
    <updated>2026-11-29T07:00:00Z</updated>
    <content type="html">&lt;p&gt;Fifty meteors&lt;/p&gt;</content>
    <category term="Astronomy"/>
    <link rel="alternate" type="text/html" href="http://127.0.0.1/sky/meteors.html"/>
    <link rel="enclosure" type="video/mp4" length="5000000" href="http://127.0.0.1/sky/meteors.mp4"
          title="Meteors (HD)"/>
    <media:credit role="director" scheme="urn:ebu">Lee Park</media:credit>
  </entry>
</feed>)doc",
                       &recorder),
            0);
  ASSERT_EQ(recorder.reports.size(), 4u);
  EXPECT_EQ(recorder.reports[0].sub, (Props{{"0/res", "http://127.0.0.1/sky/meteors.html"},
                                            {"0/res@rel", "alternate"},
                                            {"0/res@mimeType", "text/html"}}));
  EXPECT_EQ(recorder.reports[1].sub, (Props{{"0/res", "http://127.0.0.1/sky/meteors.mp4"},
                                            {"0/res@rel", "enclosure"},
                                            {"0/res@mimeType", "video/mp4"},
                                            {"0/res@size", "5000000"},
                                            {"0/dc:title", "Meteors (HD)"}}));
  EXPECT_EQ(recorder.reports[2].item, (Props{{"0/dc:title", "Meteor shower"},
                                             {"0/zentoria:guid", "urn:uuid:sky-1"},
                                             {"0/dc:date", "2026-11-29"},
                                             {"0/zentoria:modDateTime", "1795935600000000"},
                                             {"0/upnp:longDescription", " Fifty meteors "},
                                             {"0/dc:description", " Fifty meteors "},
                                             {"0/upnp:genre", "Astronomy"},
                                             {"0/upnp:director", "Lee Park"}}));
  EXPECT_EQ(recorder.reports[3].container, (Props{{"0/dc:title", "Night Sky Videos"},
                                                  {"0/dc:description", "Clips of the  night  sky"},
                                                  {"0/zentoria:modDateTime", "1796027400000000"},
                                                  {"0/dc:relation", "http://127.0.0.1/sky/"},
                                                  {"0/upnp:icon", "http://127.0.0.1/sky/logo.png"},
                                                  {"0/zentoria:guid", "urn:uuid:sky-feed"},
                                                  {"0/upnp:author", "Sky Club"}}));
}

TEST(MetaFileRdf, ItemsWithEncEnclosures) {
  TestPool pool;
  TempDir dir;
  Recorder recorder;
  ASSERT_EQ(parse_text(dir, "birds.rdf", R"(<?xml version="1.0"?>
<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#" xmlns="http://purl.org/rss/1.0/"
         xmlns:enc="http://purl.oclc.org/net/rss_2.0/enc#" xmlns:dc="http://purl.org/dc/elements/1.1/">
 <channel rdf:about="http://127.0.0.1/birds/">
  <title>Bird Songs</title>
  <link>http://127.0.0.1/birds/</link>
  <description>Songs of &lt;em&gt;garden&lt;/em&gt; birds</description>
  <dc:date>2026-11-28</dc:date>
 </channel>
 <image rdf:about="http://127.0.0.1/birds/logo.gif"><url>http://127.0.0.1/birds/logo.gif</url></image>
 <item rdf:about="http://127.0.0.1/birds/robin">
  <title>Robin</title>
  <link>http://127.0.0.1/birds/robin.html</link>
  <dc:subject>Songbirds</dc:subject>
  <dc:creator>Tom Finch</dc:creator>
  <enc:enclosure><enc:Enclosure enc:url="http://127.0.0.1/birds/robin.ogg" enc:length="40960"
      enc:type="audio/ogg"/></enc:enclosure>
 </item>
</rdf:RDF>)",
                       &recorder),
            0);
  ASSERT_EQ(recorder.reports.size(), 3u);
  EXPECT_EQ(recorder.reports[0].sub, (Props{{"0/res", "http://127.0.0.1/birds/robin.ogg"},
                                            {"0/res@size", "40960"},
                                            {"0/res@mimeType", "audio/ogg"}}));
  EXPECT_EQ(recorder.reports[1].item, (Props{{"0/dc:title", "Robin"},
                                             {"0/dc:relation", "http://127.0.0.1/birds/robin.html"},
                                             {"0/upnp:genre", "Songbirds"},
                                             {"0/dc:creator", "Tom Finch"},
                                             {"0/zentoria:guid", "itemRobin"}}));
  EXPECT_EQ(recorder.reports[2].container, (Props{{"0/dc:title", "Bird Songs"},
                                                  {"0/dc:relation", "http://127.0.0.1/birds/"},
                                                  {"0/dc:description", "Songs of  garden  birds"},
                                                  {"0/dc:date", "2026-11-28"},
                                                  {"0/upnp:icon", "http://127.0.0.1/birds/logo.gif"},
                                                  {"0/zentoria:guid", "containerBird Songs"}}));
}

TEST(MetaFileOpml, DirectoryOfStations) {
  TestPool pool;
  TempDir dir;
  Recorder recorder;
  ASSERT_EQ(parse_text(dir, "stations.opml", R"(<?xml version="1.0"?>
<opml version="1.0">
 <head><title>Stations</title></head>
 <body>
  <outline text="Jazz Radio" url="http://127.0.0.1:8000/jazz" bitrate="128"/>
  <outline text="News">
   <outline text="World News" url="http://127.0.0.1:8000/world" bitrate="64"/>
   <outline text="Local News" url="http://127.0.0.1:8000/local"/>
  </outline>
 </body>
</opml>)",
                       &recorder),
            0);
  ASSERT_EQ(recorder.reports.size(), 6u);
  EXPECT_EQ(recorder.reports[0].sub, (Props{{"0/res", "http://127.0.0.1:8000/jazz"},
                                            {"0/res@bitrate", "128"},
                                            {"0/dc:title", "Jazz Radio"},
                                            {"0/zentoria:guid", "http://127.0.0.1:8000/jazz"}}));
  EXPECT_EQ(recorder.reports[2].sub, (Props{{"0/res", "http://127.0.0.1:8000/world"},
                                            {"0/res@bitrate", "64"},
                                            {"0/dc:title", "World News"},
                                            {"0/zentoria:guid", "http://127.0.0.1:8000/world"}}));
  EXPECT_EQ(recorder.reports[3].sub, (Props{{"0/res", "http://127.0.0.1:8000/local"},
                                            {"0/dc:title", "Local News"},
                                            {"0/zentoria:guid", "http://127.0.0.1:8000/local"}}));
  EXPECT_EQ(recorder.reports[4].item, (Props{{"0/dc:title", "News"}}));
  EXPECT_EQ(recorder.reports[5].container, (Props{{"0/dc:title", "Stations"}}));
}

TEST(MetaFileSmil, WindowsMediaPlaylistWithParentRelativeSources) {
  TestPool pool;
  TempDir dir;
  Recorder recorder;
  ASSERT_EQ(parse_text(dir, "mix.wpl", R"(<?wpl version="1.0"?>
<smil>
 <head><title>Evening Mix</title></head>
 <body><seq>
  <media src="..\Music\Blue\01 Intro.mp3"/>
  <media src="../Music/02.flac"/>
  <media src="http://127.0.0.1/03.mp3"/>
 </seq></body>
</smil>)",
                       &recorder),
            0);
  auto subs = recorder.of_depth(3);
  ASSERT_EQ(subs.size(), 3u);
  std::string parent = dir.path().substr(0, dir.path().rfind('/'));
  EXPECT_EQ(subs[0].sub, (Props{{"0/res", parent + "/Music/Blue/01 Intro.mp3"}}));
  EXPECT_EQ(subs[1].sub, (Props{{"0/res", parent + "/Music/02.flac"}}));
  EXPECT_EQ(subs[2].sub, (Props{{"0/res", "http://127.0.0.1/03.mp3"}}));
  EXPECT_EQ(recorder.reports.back().container, (Props{{"0/dc:title", "Evening Mix"}}));
}

TEST(MetaFileXml, ForeignRootsAndFormats) {
  TestPool pool;
  TempDir dir;
  LogCapture log;
  Recorder recorder;
  EXPECT_EQ(parse_text(dir, "page.htm", "<html><body><p>hi</p></body></html>", &recorder), APR_ENOTIMPL);
  EXPECT_EQ(log.count("CommonMetaFile", 2, "Unknown XML file encountered, file type is html"), 1);
  EXPECT_EQ(parse_text(dir, "song.mp3", "ID3", &recorder), APR_ENOTIMPL);
  EXPECT_EQ(log.count("CommonMetaFile", 2, "Unknown metafile format mp3"), 1);
  EXPECT_TRUE(recorder.reports.empty());

  EXPECT_EQ(metafile_is_parsable(media_type_by_extension("opml", -1), 0), 1);
  EXPECT_EQ(metafile_is_parsable(media_type_by_extension("wpl", -1), 0), 1);
  EXPECT_EQ(metafile_is_parsable(media_type_by_extension("pls", -1), 0), 1);
  EXPECT_EQ(metafile_is_parsable(media_type_by_extension("asx", -1), 0), 0);
  EXPECT_EQ(metafile_is_parsable(media_type_by_extension("htm", -1), 0), 0);
  EXPECT_EQ(metafile_is_parsable(media_type_by_extension("htm", -1), 1), 1);
}

TEST(MetaFileXml, CallbackResultsStopTheParse) {
  TestPool pool;
  TempDir dir;
  LogCapture log;
  Recorder failing;
  failing.fail_at = 0;
  EXPECT_EQ(parse_text(dir, "garden.rss", kPodcast, &failing), APR_EGENERAL);
  EXPECT_EQ(failing.reports.size(), 1u);
  EXPECT_EQ(log.count("CommonMetaFile", 3,
                      "User provided parsing callback failed, discontinuing parsing of this metafile"),
            1);
  log.clear();
  Recorder cancelling;
  cancelling.fail_at = 1;
  cancelling.fail_status = COMMON_CANCELLED;
  EXPECT_EQ(parse_text(dir, "garden.rss", kPodcast, &cancelling), COMMON_CANCELLED);
  EXPECT_EQ(cancelling.reports.size(), 2u);
  EXPECT_FALSE(log.contains("User provided parsing callback failed"));

  Recorder recorder;
  std::string path = dir.file("garden.rss");
  auto cancel = [](void *) { return 1; };
  EXPECT_EQ(metafile_parse(media_type_by_extension("rss", -1), 0, path.c_str(), Recorder::callback, &recorder, cancel,
                           nullptr),
            COMMON_CANCELLED);
  EXPECT_TRUE(recorder.reports.empty());
}

TEST(MetaFileXml, BrokenDocumentsFailWithoutCrashing) {
  TestPool pool;
  TempDir dir;
  LogCapture log;
  Recorder recorder;
  EXPECT_EQ(parse_text(dir, "empty.rss", "", &recorder), APR_EGENERAL);
  std::string truncated(kPodcast);
  truncated.resize(truncated.find("<item>", truncated.find("</item>")) + 20);
  EXPECT_EQ(parse_text(dir, "cut.rss", truncated, &recorder), APR_EGENERAL);
  EXPECT_EQ(recorder.of_depth(2).size(), 1u) << "the item before the cut is reported";
  recorder.reports.clear();
  EXPECT_EQ(parse_text(dir, "latin.rss",
                       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><rss><channel><title>Caf\xe9</title>"
                       "</channel></rss>",
                       &recorder),
            APR_EGENERAL);
  EXPECT_TRUE(log.contains("Could not feed data to XML parser"));
}

TEST(MetaFileXml, HostileDocumentsAreBounded) {
  TestPool pool;
  TempDir dir;
  LogCapture log;
  Recorder recorder;
  std::string deep = "<rss><channel><item><title>x</title>";
  for (int i = 0; i < 20000; ++i) deep += "<a>";
  for (int i = 0; i < 20000; ++i) deep += "</a>";
  deep += "</item></channel></rss>";
  EXPECT_EQ(parse_text(dir, "deep.rss", deep, &recorder), APR_EGENERAL);
  EXPECT_TRUE(log.contains("XML elements nested deeper than 256 levels"));

  std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">";
  char previous = 'a';
  for (char name = 'b'; name <= 'k'; ++name, ++previous) {
    bomb += std::string("<!ENTITY ") + name + " \"";
    for (int i = 0; i < 10; ++i) bomb += std::string("&") + previous + ";";
    bomb += "\">";
  }
  bomb += "]><rss><channel><title>&k;</title></channel></rss>";
  EXPECT_EQ(parse_text(dir, "bomb.rss", bomb, &recorder), APR_EGENERAL);

  std::string huge = "<rss><channel><title>" + std::string(600 * 1024, 'x') + "</title></channel></rss>";
  recorder.reports.clear();
  EXPECT_EQ(parse_text(dir, "huge.rss", huge, &recorder), 0);
  ASSERT_EQ(recorder.reports.size(), 1u);
  // The reader keeps at most 256 KiB of an element's text; the property list
  // then stores a text property cut to its own cap.
  EXPECT_EQ(recorder.reports[0].container.at("0/dc:title").size(), TEXT_MAX_BYTES);
}

TEST(MetaFileXml, SingleByteCodePagesAndMarks) {
  TestPool pool;
  TempDir dir;
  Recorder recorder;
  ASSERT_EQ(parse_text(dir, "cp.rss",
                       "<?xml version=\"1.0\" encoding=\"windows-1252\"?><rss><channel><title>\x93" "Caf\xe9\x94"
                       "</title></channel></rss>",
                       &recorder),
            0);
  EXPECT_EQ(recorder.reports[0].container.at("0/dc:title"), "\xe2\x80\x9c" "Caf\xc3\xa9\xe2\x80\x9d");
  recorder.reports.clear();
  ASSERT_EQ(parse_text(dir, "bom.rss", "\xef\xbb\xbf<rss><channel><title>B</title></channel></rss>", &recorder), 0);
  EXPECT_EQ(recorder.reports[0].container.at("0/dc:title"), "B");
}

}  // namespace
