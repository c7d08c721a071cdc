// Browse, metadata and search over a small library built through the graph
// operations: paging and totals, synthetic attributes, filter admission, the
// own namespace, and the search-criteria translator's precedence and errors.
#include <apr_strings.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "LibraryFixture.h"
#include "MSDBConnection.h"
#include "MSDBQuery.h"

namespace {

constexpr const char *kTrack = "object.item.audioItem.musicTrack";
constexpr const char *kPhoto = "object.item.imageItem.photo";
constexpr const char *kDidlFooter = "</DIDL-Lite>";

class QueryTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    in_transaction([&] {
      box_ = object("1", "Box", "object.container");
      for (const char *title : {"e", "d", "c", "b", "a"}) children_.push_back(object(box_.c_str(), title, kTrack));
    });
    box_path_ = "0/1/" + box_;
  }

  struct Browse {
    int status;
    int returned;
    long total;
    std::string document;
  };
  Browse browse(std::vector<const char *> ids, unsigned offset, unsigned count, const char *filter = "*",
                SerializeFormat format = FORMAT_DIDL_LITE, DbObjectCallback callback = nullptr,
                void *value = nullptr, const DbSerializeOptions *options = nullptr) {
    Browse b{};
    const char *document = nullptr;
    b.status = cds_metadata_fetch_children2(pool_, db_, ids.data(), static_cast<int>(ids.size()), filter, offset,
                                            count, callback, value, format, options, &b.returned, &b.total, &document);
    b.document = document ? document : "";
    return b;
  }
  Browse search(const char *criteria, unsigned offset = 0, unsigned count = 0, const char *id = "0/1",
                int direct_children = 0) {
    Browse b{};
    const char *document = nullptr;
    b.status = msdb_search(pool_, db_, &id, 1, criteria, "*", offset, count, direct_children, nullptr, nullptr,
                           FORMAT_DIDL_LITE, nullptr, &b.returned, &b.total, &document);
    b.document = document ? document : "";
    return b;
  }
  // The search's hits as titles, with a few extra objects below Audio.
  void add_search_items() {
    in_transaction([&] {
      object(box_.c_str(), "Love Me", kTrack);
      object(box_.c_str(), "Glove", "object.item.audioItem");
      object(box_.c_str(), "Lovely", kPhoto);
      object(box_.c_str(), "Hate", kTrack);
    });
  }

  std::string box_, box_path_;
  std::vector<std::string> children_;
};

PropList *drop_title_b(apr_pool_t *pool, void *calls, PropList *list) {
  ++*static_cast<int *>(calls);
  const char *title = prop_get(pool, list, PROP_DC_TITLE, 0);
  return title != nullptr && std::string(title) == "b" ? nullptr : list;
}

PropList *add_own_property(apr_pool_t *pool, void *, PropList *list) {
  prop_add(pool, list, "zentoria:secret", "leak");
  return list;
}

}  // namespace

TEST_F(QueryTest, RootModeListsParentlessObjectsInOidOrder) {
  Browse b = browse({"-1"}, 0, 0);
  ASSERT_EQ(b.status, 0);
  EXPECT_EQ(b.total, 5);
  EXPECT_EQ(b.returned, 5);
  EXPECT_EQ(ids_of(b.document), (std::vector<std::string>{"0", "100", "200", "300", "400"}));
  EXPECT_NE(b.document.find("parentID=\"-1\""), std::string::npos);
}

TEST_F(QueryTest, PagingCountsChildrenNotPropertyRows) {
  Browse page = browse({box_path_.c_str()}, 1, 2);
  ASSERT_EQ(page.status, 0);
  EXPECT_EQ(page.returned, 2);
  EXPECT_EQ(page.total, 5);
  EXPECT_EQ(ids_of(page.document), (std::vector<std::string>{box_path_ + "/" + children_[1], box_path_ + "/" + children_[2]}));
  EXPECT_EQ(titles_of(page.document), (std::vector<std::string>{"d", "c"}));

  Browse all = browse({box_path_.c_str()}, 0, 0);
  EXPECT_EQ(all.returned, 5);
  EXPECT_EQ(titles_of(all.document), (std::vector<std::string>{"e", "d", "c", "b", "a"}));

  Browse beyond = browse({box_path_.c_str()}, 10, 5);
  EXPECT_EQ(beyond.status, 0);
  EXPECT_EQ(beyond.returned, 0);
  EXPECT_EQ(beyond.total, 5);
  EXPECT_TRUE(beyond.document.ends_with(">" + std::string(kDidlFooter)));
  EXPECT_EQ(beyond.document.find("<item"), std::string::npos);
}

// A page deep in a large container starts from a remembered start before
// it; it must hold what the container's order (ordinal, then edge) puts
// there: ties across page edges, pages at and past the end, after children
// were added before, among and after kept starts (by this connection or
// another, with ordinals of every kind), added elsewhere, removed, moved to
// the front by this connection or moved among others by another connection,
// and after a transaction rolled back.
TEST_F(QueryTest, DeepPagesHoldWhatTheContainersOrderPutsThere) {
  std::string deep;
  std::vector<std::string> loose;
  in_transaction([&] {
    deep = object("1", "Deep", "object.container");
    for (int i = 0; i < 700; ++i) {
      const std::string child = object(nullptr, "t", kTrack);
      // Seven children to an ordinal, not added in ordinal order.
      const char *ordinal = apr_psprintf(pool_, "k%03d", i * 7 % 100);
      ASSERT_EQ(msdb_add_edge(pool_, db_, deep.c_str(), child.c_str(), 1, ordinal, nullptr), 0);
    }
    for (int i = 0; i < 8; ++i) loose.push_back(object(nullptr, "n", kTrack));
    // Another container's children follow in the index, as far as a page
    // past the end reaches.
    const std::string after = object("1", "After", "object.container");
    for (int i = 0; i < 80; ++i) object(after.c_str(), "x", kTrack);
  });
  const std::string path = "0/1/" + deep;
  const std::string edges = "parentObjectOid=" + deep;
  const auto add = [&](const std::string &parent, int child, const char *ordinal) {
    return "insert into edge (parentObjectOid, objectOid, ordinal) values (" + parent + ", " + loose[child] + ", " +
           ordinal + ");";
  };
  // In this order the starts up to 384 are found from the first child, those
  // at 512 and 640 from the start before them.
  const std::pair<unsigned, unsigned> pages[] = {{770, 5},  {0, 100},  {127, 3},  {128, 5},  {129, 130}, {250, 100},
                                                 {255, 2},  {256, 44}, {270, 50}, {300, 5},   {420, 1},
                                                 {520, 30}, {640, 70}, {700, 1},  {130, 0}};
  const auto expect_pages = [&](const std::string &trace, int passes) {
    std::vector<std::string> order;
    for (const std::string &oid : column("select objectOid from edge where " + edges + " order by ordinal, oid")) {
      order.push_back(path + "/" + oid);
    }
    for (int pass = 0; pass < passes; ++pass) {
      for (const auto &[offset, count] : pages) {
        SCOPED_TRACE(trace + " from " + std::to_string(offset) + " pass " + std::to_string(pass));
        const Browse page = browse({path.c_str()}, offset, count);
        ASSERT_EQ(page.status, 0);
        const size_t from = std::min<size_t>(offset, order.size());
        const size_t to = count == 0 ? order.size() : std::min<size_t>(offset + count, order.size());
        EXPECT_EQ(ids_of(page.document), std::vector<std::string>(order.begin() + from, order.begin() + to));
      }
    }
  };
  const std::string changes[][2] = {
      {"", ""},
      {"", add(deep, 0, "'a'") + add(deep, 1, "'k050'") + add(deep, 2, "'zz'")},
      {add(deep, 3, "null") + add(deep, 4, "5") + add(deep, 5, "x'6b'"), ""},
      {"", add(box_, 6, "'a'") + "update prop set valueOid = valueOid where nameOid = 1"},
      {"delete from edge where " + edges + " and oid % 7 = 3", ""},
      {"update edge set ordinal='a' where oid in (select oid from edge where " + edges +
           " order by ordinal desc limit 4)",
       ""},
      {"", "update edge set ordinal='k050' where " + edges + " and oid % 5 = 1"},
  };
  for (const auto &[mine, elsewhere] : changes) {
    if (!mine.empty()) {
      ASSERT_EQ(db_exec(msdb_thread_connection(db_)->medialib, mine.c_str(), nullptr), 0);
    }
    if (!elsewhere.empty()) exec_elsewhere(elsewhere);
    expect_pages(mine + elsewhere, 2);
  }
  // Pages read inside transactions rolled back afterwards leave no start
  // behind that the rollback undid, and nothing that takes a later change,
  // which moves the counters as the rolled-back one did, for none.
  const std::string rolled_back[] = {"update edge set ordinal='0' where " + edges, add(deep, 7, "'a'"),
                                     "delete from edge where " + edges + " and ordinal = 'k099'"};
  const std::string later[] = {"update edge set ordinal='0' where " + edges + " and ordinal = 'k090'",
                               add(deep, 7, "'k001'"), "delete from edge where " + edges + " and ordinal = 'k001'"};
  for (size_t i = 0; i < std::size(rolled_back); ++i) {
    expect_pages(rolled_back[i], 1);
    ASSERT_EQ(msdb_medialib_begin(db_), 0);
    ASSERT_EQ(db_exec(msdb_thread_connection(db_)->medialib, rolled_back[i].c_str(), nullptr), 0);
    expect_pages("inside " + rolled_back[i], 1);
    ASSERT_EQ(msdb_medialib_rollback(db_), 0);
    expect_pages("after " + rolled_back[i], 1);
    exec_elsewhere(later[i]);
    expect_pages("then " + later[i], 1);
  }
}

TEST_F(QueryTest, SeveralContainersSumTheirChildCountsAndKeepTheirIdPaths) {
  std::string other;
  in_transaction([&] {
    other = object("2", "Roll", "object.container");
    object(other.c_str(), "x", kPhoto);
  });
  const std::string other_path = "0/2/" + other;
  Browse b = browse({box_path_.c_str(), other_path.c_str(), box_path_.c_str()}, 0, 100);
  ASSERT_EQ(b.status, 0);
  EXPECT_EQ(b.total, 6);
  std::vector<std::string> ids = ids_of(b.document);
  ASSERT_EQ(ids.size(), 6u);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), other_path + "/" + std::to_string(std::stoi(other) + 1)), 1);
}

TEST_F(QueryTest, EmptyContainerStillCarriesChildCountSearchableAndRestricted) {
  std::string empty;
  in_transaction([&] { empty = object(box_.c_str(), "Empty", "object.container.album.musicAlbum"); });
  const char *document = nullptr;
  const std::string path = box_path_ + "/" + empty;
  ASSERT_EQ(msdb_fetch_metadata(pool_, db_, path.c_str(), "*", nullptr, nullptr, FORMAT_DIDL_LITE, nullptr, &document), 0);
  const std::string text = document;
  EXPECT_NE(text.find("<container id=\"" + path + "\" parentID=\"" + box_path_ +
                      "\" childCount=\"0\" restricted=\"true\" searchable=\"true\">"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("<upnp:writeStatus>UNKNOWN</upnp:writeStatus>"), std::string::npos);
}

TEST_F(QueryTest, OwnNamespaceNeverLeavesEvenWhenCallbackAddsIt) {
  in_transaction([&] {
    object(box_.c_str(), "f", kTrack, {{"zentoria:basePath", "/music"}, {"zentoria:filename", "f.mp3"}});
  });
  Browse b = browse({box_path_.c_str()}, 0, 0, "*", FORMAT_DIDL_LITE, add_own_property);
  ASSERT_EQ(b.returned, 6);
  EXPECT_EQ(b.document.find("zentoria"), std::string::npos) << b.document;
  EXPECT_EQ(b.document.find("leak"), std::string::npos);
}

TEST_F(QueryTest, FilterAdmitsListedNamesTheirElementsProtocolInfoAndFixedList) {
  const char *filter = "dc:title,res@size";
  for (const char *name : {"dc:title", "res", "res@size", "RES@PROTOCOLINFO", "@id", "@parentID", "upnp:class",
                           "@restricted", "upnp:storageUsed"}) {
    EXPECT_TRUE(msdb_prop_filter_admits(filter, name, 0)) << name;
  }
  for (const char *name : {"res@duration", "upnp:artist", "@childCount", "dc:titl"}) {
    EXPECT_FALSE(msdb_prop_filter_admits(filter, name, 0)) << name;
  }
  EXPECT_TRUE(msdb_prop_filter_admits("*", "upnp:artist", 0));
  EXPECT_TRUE(msdb_prop_filter_admits("x_minimal:dc:title", "@id", 1));
  EXPECT_FALSE(msdb_prop_filter_admits("x_minimal:dc:title", "upnp:class", 1));
}

TEST_F(QueryTest, FilteredBrowseWritesOnlyAdmittedLinesWithTheirAttributes) {
  std::string item;
  in_transaction([&] {
    item = object(box_.c_str(), "f", kTrack, {{"upnp:artist", "Someone"}});
    const char *res = nullptr;
    ASSERT_EQ(msdb_add_prop(pool_, db_, nullptr, item.c_str(), PROP_RES, nullptr, "http://h/f.mp3", &res), 0);
    ASSERT_EQ(msdb_add_prop(pool_, db_, res, item.c_str(), PROP_RES_SIZE, nullptr, "1234", nullptr), 0);
    ASSERT_EQ(msdb_add_prop(pool_, db_, res, item.c_str(), PROP_RES_DURATION, nullptr, "0:01:00", nullptr), 0);
    ASSERT_EQ(msdb_add_prop(pool_, db_, res, item.c_str(), PROP_RES_PROTOCOL_INFO, nullptr, "http-get:*:audio/mpeg:*", nullptr), 0);
  });
  Browse b = browse({box_path_.c_str()}, 5, 1, "dc:title,res@size");
  EXPECT_NE(b.document.find("<res protocolInfo=\"http-get:*:audio/mpeg:*\" size=\"1234\">http://h/f.mp3</res>"),
            std::string::npos)
      << b.document;
  EXPECT_EQ(b.document.find("duration"), std::string::npos);
  EXPECT_EQ(b.document.find("Someone"), std::string::npos);
}

TEST_F(QueryTest, MinimalFilterSelectsOnlyListedNamesAndSkipsCallback) {
  int calls = 0;
  Browse b = browse({box_path_.c_str()}, 0, 2, "x_minimal:dc:title", FORMAT_RESULTSET, drop_title_b, &calls);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(b.returned, 2);
  EXPECT_EQ(b.document, "<resultset xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                        "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\"><result id=\"" + box_path_ + "/" + children_[0] + "\"><dc:title>e</dc:title></result>"
                        "<result id=\"" + box_path_ + "/" + children_[1] + "\"><dc:title>d</dc:title></result></resultset>");
}

TEST_F(QueryTest, CallbackMayDropObjects) {
  int calls = 0;
  Browse b = browse({box_path_.c_str()}, 0, 0, "*", FORMAT_DIDL_LITE, drop_title_b, &calls);
  EXPECT_EQ(calls, 5);
  EXPECT_EQ(b.returned, 4);
  EXPECT_EQ(titles_of(b.document), (std::vector<std::string>{"e", "d", "c", "a"}));
}

TEST_F(QueryTest, ByValueModeSortsLinesByValue) {
  DbSerializeOptions options{{nullptr, nullptr, "|", nullptr}, "x_by_val", 0};
  Browse b = browse({box_path_.c_str()}, 0, 0, "dc:title", FORMAT_BY_VALUE, nullptr, nullptr, &options);
  std::vector<std::string> titles;
  for (size_t at = b.document.find("|dc:title|"); at != std::string::npos; at = b.document.find("|dc:title|", at + 1)) {
    titles.push_back(b.document.substr(at + 10, 1));
  }
  EXPECT_EQ(titles, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
}

TEST_F(QueryTest, MalformedIdsAreRefusedBeforeAnySql) {
  const char *too_many[MSDB_MAX_REQUEST_IDS + 1];
  std::fill(std::begin(too_many), std::end(too_many), "1");
  for (const char *bad : {"1x", "0/1;drop table prop", "", "0//1", "-2"}) {
    log_.clear();
    EXPECT_EQ(browse({bad}, 0, 0).status, 20014) << bad;
    EXPECT_TRUE(log_.contains("Invalid object id")) << bad;
  }
  const char *document = nullptr;
  int returned = 0;
  EXPECT_EQ(cds_metadata_fetch_children2(pool_, db_, too_many, MSDB_MAX_REQUEST_IDS + 1, "*", 0, 0, nullptr, nullptr,
                                         FORMAT_DIDL_LITE, nullptr, &returned, nullptr, &document),
            20014);
  EXPECT_EQ(cds_metadata_fetch_children2(pool_, db_, too_many, 0, "*", 0, 0, nullptr, nullptr, FORMAT_DIDL_LITE,
                                         nullptr, &returned, nullptr, &document),
            20014);
  EXPECT_EQ(msdb_fetch_metadata(pool_, db_, "1 or 1=1", "*", nullptr, nullptr, FORMAT_DIDL_LITE, nullptr, &document),
            20014);
}

TEST_F(QueryTest, ValuesLeaveEscapedInDocumentsAndUnescapedInPropLists) {
  std::string item;
  in_transaction([&] { item = object(box_.c_str(), "Rock & Roll <live>", kTrack); });
  const std::string path = box_path_ + "/" + item;
  const char *document = nullptr;
  ASSERT_EQ(msdb_fetch_metadata(pool_, db_, path.c_str(), "*", nullptr, nullptr, FORMAT_DIDL_LITE, nullptr, &document), 0);
  EXPECT_NE(std::string(document).find("<dc:title>Rock &amp; Roll &lt;live&gt;</dc:title>"), std::string::npos);
  PropList *list = nullptr;
  ASSERT_EQ(msdb_fetch_prop_list(pool_, db_, path.c_str(), &list), 0);
  EXPECT_STREQ(prop_get(pool_, list, PROP_DC_TITLE, 0), "Rock & Roll <live>");
  EXPECT_STREQ(prop_get(pool_, list, PROP_ID, 0), path.c_str());
  EXPECT_STREQ(prop_get(pool_, list, PROP_PARENT_ID, 0), box_path_.c_str());
}

TEST_F(QueryTest, DerivedFromAndContainsFindAudioItemsWithTheWordInAnyCase) {
  add_search_items();
  Browse b = search("upnp:class derivedfrom \"object.item.audioItem\" and dc:title contains \"LOVE\"");
  ASSERT_EQ(b.status, 0);
  EXPECT_EQ(titles_of(b.document), (std::vector<std::string>{"Glove", "Love Me"}));
  EXPECT_EQ(b.total, 2);
  for (const std::string &id : ids_of(b.document)) EXPECT_TRUE(id.starts_with(box_path_ + "/")) << id;
}

TEST_F(QueryTest, AndBindsTighterThanOrAndParenthesesRegroup) {
  add_search_items();
  EXPECT_EQ(titles_of(search("dc:title = \"hate\" or upnp:class derivedfrom \"object.item.audioItem\" and "
                             "dc:title contains \"love\"").document),
            (std::vector<std::string>{"Glove", "Hate", "Love Me"}));
  EXPECT_EQ(titles_of(search("(dc:title = \"hate\" or upnp:class derivedfrom \"object.item.audioItem\") and "
                             "dc:title contains \"love\"").document),
            (std::vector<std::string>{"Glove", "Love Me"}));
}

TEST_F(QueryTest, SearchPagesSortedHitsAndCountsAll) {
  add_search_items();
  Browse b = search("dc:title contains \"^lov\"", 1, 1);
  EXPECT_EQ(b.total, 2);
  EXPECT_EQ(b.returned, 1);
  EXPECT_EQ(titles_of(b.document), (std::vector<std::string>{"Lovely"}));
}

TEST_F(QueryTest, DirectChildrenSearchKeepsContainerOrderAndIdPaths) {
  add_search_items();
  Browse below_audio = search("dc:title contains \"love\"", 0, 0, "0/1", 1);
  EXPECT_EQ(below_audio.total, 0);  // the hits are grandchildren of Audio
  Browse in_box = search("dc:title contains \"love\"", 0, 0, box_path_.c_str(), 1);
  EXPECT_EQ(titles_of(in_box.document), (std::vector<std::string>{"Love Me", "Glove", "Lovely"}));
  for (const std::string &id : ids_of(in_box.document)) EXPECT_TRUE(id.starts_with(box_path_ + "/")) << id;
}

TEST_F(QueryTest, UntitledObjectsAreNeverFoundBySubtreeSearch) {
  in_transaction([&] {
    const char *oid = nullptr;
    ASSERT_EQ(msdb_create_object(pool_, db_, box_.c_str(), "2", nullptr, &oid), 0);
    ASSERT_EQ(msdb_add_prop(pool_, db_, nullptr, oid, PROP_UPNP_CLASS, nullptr, kTrack, nullptr), 0);
  });
  EXPECT_EQ(search("upnp:class exists true").total, 6);  // the box and its five titled tracks
  EXPECT_EQ(search("upnp:class exists false").total, 0);
}

TEST_F(QueryTest, ParentIdCriterionFindsChildrenAndRejectsNonIds) {
  const std::string criteria = "@parentID = \"" + box_path_ + "\"";
  EXPECT_EQ(search(criteria.c_str()).total, 5);
  log_.clear();
  EXPECT_EQ(search("@parentID = \"1 or 1=1\"").status, 20014);
  EXPECT_TRUE(log_.contains("Invalid object id"));
}

TEST_F(QueryTest, QuotesInOperandsStayInsideTheirStringLiteral) {
  add_search_items();
  Browse b = search("dc:title = \"x' or '1'='1\" or dc:title = 'Hate'");
  ASSERT_EQ(b.status, 0);
  EXPECT_EQ(b.total, 0);
  EXPECT_EQ(search("\"select oid from object\" and \"x\"").status, 20014);
  EXPECT_EQ(search("dc:title = \"a\" and \"(select 1)\"").status, 20014);
}

TEST_F(QueryTest, ArbitraryCriteriaEitherFailCleanlyOrRunAsValidSql) {
  const char *names[] = {"dc:title", "upnp:class", "@parentID", "title", "x:y"};
  const char *operators[] = {"=", "!=", "<", ">=", "contains", "doesNotContain", "derivedfrom", "exists"};
  const char *values[] = {"\"a'b\"", "\"^Lo\"", "true", "0/1", "\"%_\\\"\"", "x", "\"\""};
  const char *pieces[] = {"(", ")", "\"", "\\", "=", "!", " and ", " or ", "'", ";", "--", " "};
  std::mt19937 random(20141);
  const auto pick = [&](const auto &list) { return std::string(list[random() % std::size(list)]); };
  int translated = 0;
  for (int i = 0; i < 1500; i++) {
    std::string criteria;
    for (int terms = 1 + random() % 3; terms > 0; terms--) {
      if (!criteria.empty()) criteria += random() % 2 ? " and " : " or ";
      criteria += pick(names) + " " + pick(operators) + " " + pick(values);
    }
    if (random() % 4 == 0) criteria = "(" + criteria + ")";
    if (random() % 2 == 0) criteria.insert(random() % (criteria.size() + 1), pick(pieces));
    log_.clear();
    Browse b = search(criteria.c_str(), 0, 5);
    ASSERT_TRUE(b.status == 0 || b.status == 20014) << criteria;
    ASSERT_FALSE(log_.contains("Could not execute SQL statement")) << criteria;
    translated += b.status == 0;
  }
  EXPECT_GT(translated, 300);
}

TEST(SearchCriteria, TranslatesDerivedFromToOneSelect) {
  TestPool pool;
  EXPECT_STREQ(msdb_search_criteria_to_sql(pool, "upnp:class derivedfrom \"object.item.audioItem\"", db_escape),
               "select objectoid as searchObjectOid from prop where nameOid=(select oid from propName where "
               "name='upnp:class') and valueOid in (select oid from propValue where value like 'object.item.audioItem%' ESCAPE '\\')");
}

TEST(SearchCriteria, ShortNamesResolveAndKeywordsNeedAWordBoundary) {
  TestPool pool;
  LogCapture log;
  std::string sql = msdb_search_criteria_to_sql(pool, "title = orwell", db_escape);
  EXPECT_NE(sql.find("name='dc:title'"), std::string::npos);
  EXPECT_NE(sql.find("= 'orwell' COLLATE NOCASE"), std::string::npos);
  sql = msdb_search_criteria_to_sql(pool, "dc:title != \"it's\"", db_escape);
  EXPECT_NE(sql.find("!= 'it&apos;s'"), std::string::npos);
}

TEST(SearchCriteria, EveryMalformedCriteriaFailsWithItsMessage) {
  TestPool pool;
  struct Case {
    const char *criteria;
    const char *message;
  };
  const Case cases[] = {
      {"dc:title =", "Invalid search criteria"},
      {"= \"x\"", "Invalid search criteria"},
      {"dc:title = \"x\" y", "Invalid search criteria dc:title = \"x\" y at y"},
      {"dc:title = = \"x\"", "Invalid search criteria dc:title = = \"x\" at = \"x\""},
      {"dc:title = )", "Invalid search criteria dc:title = ) at )"},
      {"dc:title = \"x\" (", "Invalid search criteria dc:title = \"x\" ( at ("},
      {"dc:title = \"x\")", "Invalid search criteria dc:title = \"x\") at )"},
      {"(dc:title = \"x\"", "Invalid search criteria (dc:title = \"x\""},
      {"dc:title", "Invalid search criteria dc:title"},
      {"", "Invalid search criteria "},
      {"dc:title = \"open", "Invalid search criteria dc:title = \"open at \"open"},
      {"dc:title ! \"x\"", "Invalid search criteria dc:title ! \"x\" at ! \"x\""},
      {"upnp:class exists maybe", "Invalid search criteria exists operator has maybe instead of true / false"},
      {"dc:title and upnp:class", "Invalid search criteria dc:title and upnp:class"},
  };
  for (const Case &c : cases) {
    LogCapture log;
    EXPECT_EQ(msdb_search_criteria_to_sql(pool, c.criteria, db_escape), nullptr) << c.criteria;
    EXPECT_EQ(log.count("MSDBHelper", 3, c.message), 1) << c.criteria;
  }
}
