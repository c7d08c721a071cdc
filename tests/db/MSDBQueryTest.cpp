// Search and browse as a hostile client drives them: wildcards in operands,
// numeric orderings, criteria of many terms or deep nesting, over-long
// texts, unknown properties and ids that no route reaches.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DbFixture.h"
#include "MSDBQuery.h"

namespace {

constexpr const char *kTrack = "object.item.audioItem.musicTrack";

class QuerySearchTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    ASSERT_EQ(msdb_medialib_begin(db_), 0);
    box_ = create("1", "5", "object.container");
    track("100% pure", "9", "0000000002");
    track("50_50", "10", "0000000010");
    track("plain", "100000", "0000000003");
    ASSERT_EQ(msdb_medialib_commit(db_), 0);
  }
  void track(const char *title, const char *size, const char *number) {
    std::string oid = create(box_.c_str(), "5", kTrack);
    add(oid, "dc:title", title);
    add(oid, "res@size", size);
    add(oid, "upnp:originalTrackNumber", number);
  }
  void add(const std::string &oid, const char *name, const char *value) {
    EXPECT_EQ(msdb_add_prop(pool_, db_, nullptr, oid.c_str(), 0, name, value, nullptr), 0);
  }
  struct Hits {
    int status;
    std::vector<std::string> titles;
  };
  Hits search(const std::string &criteria, const char *id = "0/1") {
    Hits hits{};
    const char *document = nullptr;
    int returned = 0;
    long total = 0;
    hits.status = msdb_search(pool_, db_, &id, 1, criteria.c_str(), "dc:title", 0, 0, 0, nullptr, nullptr,
                              FORMAT_BY_VALUE, nullptr, &returned, &total, &document);
    std::string text = document ? document : "";
    const std::string name = ",dc:title,";
    for (size_t at = 0; (at = text.find(name, at)) != std::string::npos; at += name.size()) {
      size_t start = at + name.size();
      hits.titles.push_back(text.substr(start, text.find('\r', start) - start));
    }
    return hits;
  }
  std::string box_;
};

std::string repeat_terms(int count, const char *term, const char *join) {
  std::string criteria;
  for (int i = 0; i < count; ++i) criteria += std::string(i ? join : "") + term;
  return criteria;
}

}  // namespace

TEST_F(QuerySearchTest, WildcardsInContainsDoesNotContainAndDerivedFromMatchLiterally) {
  Hits percent = search("dc:title contains \"%\"");
  EXPECT_EQ(percent.status, 0);
  EXPECT_EQ(percent.titles, std::vector<std::string>{"100% pure"});
  EXPECT_EQ(search("dc:title contains \"_\"").titles, std::vector<std::string>{"50_50"});
  EXPECT_EQ(search("dc:title derivedfrom \"50_\"").titles, std::vector<std::string>{"50_50"});
  EXPECT_EQ(search("dc:title contains \"^100%\"").titles, std::vector<std::string>{"100% pure"});
  EXPECT_EQ(search("dc:title contains \"\\\\\"").titles.size(), 0u);
  Hits without = search("upnp:class = \"" + std::string(kTrack) + "\" and dc:title doesNotContain \"%\"");
  EXPECT_EQ(without.titles, (std::vector<std::string>{"50_50", "plain"}));
}

TEST_F(QuerySearchTest, NumericPropertiesCompareAsNumbers) {
  EXPECT_EQ(search("res@size < 10000").titles, (std::vector<std::string>{"100% pure", "50_50"}));
  EXPECT_EQ(search("res@size >= 10").titles, (std::vector<std::string>{"50_50", "plain"}));
  EXPECT_EQ(search("upnp:originalTrackNumber = 10").titles, std::vector<std::string>{"50_50"});
  EXPECT_EQ(search("upnp:originalTrackNumber > 2.5").titles, (std::vector<std::string>{"50_50", "plain"}));
  // A text operand keeps the text comparison; the number never reaches SQL as typed.
  EXPECT_EQ(search("res@size = \"9\"").titles, std::vector<std::string>{"100% pure"});
  EXPECT_EQ(search("res@size < \"1e1'--\"").status, 0);
}

TEST_F(QuerySearchTest, ManyTermsDoNotOverflowTheParserStack) {
  Hits chain = search(repeat_terms(600, "dc:title contains \"50\"", " and "));
  EXPECT_EQ(chain.status, 0);
  EXPECT_EQ(chain.titles, std::vector<std::string>{"50_50"});
  std::string mixed = repeat_terms(300, "dc:title = \"plain\" and res@size > 5", " or ");
  EXPECT_EQ(search(mixed).titles, std::vector<std::string>{"plain"});
  EXPECT_FALSE(log_.contains("parser stack overflow"));
}

TEST_F(QuerySearchTest, NestingRunsUpToItsLimitAndIsRefusedBeyond) {
  auto nested = [](int levels) {
    std::string criteria = "res@size exists false";
    for (int i = 0; i < levels; ++i) {
      criteria = "dc:title exists true " + std::string(i % 2 ? "and" : "or") + " (" + criteria + ")";
    }
    return criteria;
  };
  Hits deepest = search(nested(6));
  EXPECT_EQ(deepest.status, 0);
  EXPECT_EQ(deepest.titles.size(), 3u);
  log_.clear();
  EXPECT_EQ(search(nested(7)).status, 20014);
  EXPECT_TRUE(log_.contains("too deeply"));
  EXPECT_FALSE(log_.contains("parser stack overflow"));
}

TEST_F(QuerySearchTest, OverLongCriteriaAreRefusedWithAMessage) {
  std::string criteria = repeat_terms(MSDB_MAX_CRITERIA_LENGTH / 10, "res@size>1", " or ");
  ASSERT_GT(criteria.size(), static_cast<size_t>(MSDB_MAX_CRITERIA_LENGTH));
  EXPECT_EQ(search(criteria).status, 20014);
  EXPECT_TRUE(log_.contains("characters refused: the limit is 16384"));
  EXPECT_EQ(search(criteria.substr(0, criteria.rfind(" or ", MSDB_MAX_CRITERIA_LENGTH))).status, 0);
}

TEST_F(QuerySearchTest, UnknownPropertyFailsTheSearch) {
  EXPECT_EQ(search("nosuch:prop = \"x\"").status, 20014);
  EXPECT_TRUE(log_.contains("Invalid property nosuch:prop in search criteria"));
}

// Routes are checked a statement per 64 edges: a made-up route of more
// segments than SQLite's expression depth allows is refused as unknown, and
// a real one longer than a statement is found.
TEST_F(QuerySearchTest, IdsWithLeadingZerosOrWithoutARouteAreRefused) {
  const char *document = nullptr;
  std::string deep = "0";
  for (int i = 0; i < 1200; ++i) deep += "/0";
  for (const std::string &path : {std::string("00001"), std::string("0/01"), std::string("999999"),
                                  std::string("0/1/999999"), "0/2/" + box_, deep}) {
    log_.clear();
    EXPECT_EQ(msdb_fetch_metadata(pool_, db_, path.c_str(), "*", nullptr, nullptr, FORMAT_DIDL_LITE, nullptr,
                                  &document),
              20014)
        << path;
    EXPECT_EQ(search("dc:title exists true", path.c_str()).status, 20014) << path;
    int returned = 0;
    long total = 0;
    const char *ids[] = {path.c_str()};
    EXPECT_EQ(cds_metadata_fetch_children2(pool_, db_, ids, 1, "*", 0, 0, nullptr, nullptr, FORMAT_DIDL_LITE, nullptr,
                                           &returned, &total, &document),
              20014)
        << path;
    EXPECT_FALSE(log_.contains("Internal server error")) << path;
    EXPECT_FALSE(log_.contains("Could not execute SQL statement")) << path;
  }
  std::string long_route = "0/1/" + box_;
  for (int i = 0; i < 70; ++i) long_route += "/" + create(long_route.substr(long_route.rfind('/') + 1).c_str());
  EXPECT_EQ(msdb_fetch_metadata(pool_, db_, long_route.c_str(), "*", nullptr, nullptr, FORMAT_DIDL_LITE, nullptr,
                                &document),
            0);
  const std::string real = "0/1/" + box_;
  EXPECT_EQ(msdb_fetch_metadata(pool_, db_, real.c_str(), "*", nullptr, nullptr, FORMAT_DIDL_LITE, nullptr, &document),
            0);
  EXPECT_NE(std::string(document).find("id=\"" + real + "\""), std::string::npos);
}
