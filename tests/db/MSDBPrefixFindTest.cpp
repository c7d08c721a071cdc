// Objects looked up by the start of a property value, and the named
// properties of many objects read at once: each must answer what the
// one-object reads answer.
#include <algorithm>
#include <map>

#include "DbFixture.h"
#include "MSDBGraph.h"
#include "MSDBPrefixFind.h"
#include "MSDBQuery.h"

namespace {

class PrefixFindTest : public DbTest {
 protected:
  std::string item(const char *url, const char *signature, const char *source) {
    const char *oid = nullptr;
    EXPECT_EQ(msdb_create_object(pool_, db_, nullptr, source, signature, &oid), 0);
    EXPECT_EQ(msdb_add_prop(pool_, db_, nullptr, oid, 0, "res", url, nullptr), 0);
    return oid;
  }

  // value -> "oid signature held" of every match, and whether complete.
  std::map<std::string, std::string> find(const char *prefix, int limit, bool *complete, const char *source = "7") {
    apr_array_header_t *matches = nullptr;
    EXPECT_EQ(msdb_find_objects_by_prefix(pool_, db_, "res", prefix, source, limit, &matches, complete), 0);
    std::map<std::string, std::string> found;
    for (int i = 0; i < matches->nelts; ++i) {
      const PrefixMatch &match = APR_ARRAY_IDX(matches, i, PrefixMatch);
      found[match.value] = std::string(match.oid) + " " + (match.signature ? match.signature : "-") + " " +
                           (match.held ? "held" : "-");
    }
    return found;
  }
};

TEST_F(PrefixFindTest, FindsTheNewestObjectOfEachValueBelowThePrefixOnly) {
  const std::string older = item("file:///m/a/x & <y>.mp3", "11", "5");
  const std::string deeper = item("file:///m/a/sub/Ünder.mp3", "12", "5");
  item("file:///m/ab/w.mp3", "13", "5");
  item("file:///m/a", "14", "5");
  const std::string newer = item("file:///m/a/x & <y>.mp3", nullptr, "6");
  exec(("insert into objms (oid, objectOid, sourceOid) values (null, " + newer + ", 7)").c_str());
  bool complete = false;
  const auto found = find("file:///m/a/", 10, &complete);
  EXPECT_TRUE(complete);
  const std::map<std::string, std::string> expected{{"file:///m/a/x & <y>.mp3", newer + " - held"},
                                                    {"file:///m/a/sub/Ünder.mp3", deeper + " 12 -"}};
  EXPECT_EQ(found, expected);
  EXPECT_EQ(find("file:///m/a/", 10, &complete, "5").at("file:///m/a/sub/Ünder.mp3"), deeper + " 12 held");
  const char *oid = nullptr;
  const char *names[] = {"res"};
  const char *values[] = {"file:///m/a/x & <y>.mp3"};
  ASSERT_EQ(msdb_find_object(pool_, db_, nullptr, 0, 1, 1, names, values, 0, nullptr, &oid, nullptr), 0);
  EXPECT_EQ(oid, newer);

  EXPECT_EQ(find("file:///m/a/", 1, &complete).size(), 1u);
  EXPECT_FALSE(complete);
  EXPECT_EQ(find("file:///m/a/", 2, &complete).size(), 2u);
  EXPECT_TRUE(complete);
  EXPECT_TRUE(find("file:///none/", 10, &complete).empty());
  EXPECT_TRUE(complete);
}

TEST_F(PrefixFindTest, APrefixEndingInTheHighestByteStillFindsOnlyWhatStartsWithIt) {
  const std::string high = item("\xff\xff tail", "1", "5");
  item("\xff\xfe", "2", "5");
  item("\xfe", "3", "5");
  bool complete = false;
  const auto found = find("\xff\xff", 10, &complete);
  EXPECT_EQ(found.size(), 1u);
  EXPECT_EQ(found.count("\xff\xff tail"), 1u);
  EXPECT_EQ(find("\xff", 10, &complete).size(), 2u);
}

// Several objects in more than one statement's worth: each list holds the
// named properties, instances and values of the object's full list. The
// objects are asked for in any order, all of them or a few far apart (read
// object by object rather than by range), and an object in between that
// was not asked for must not be answered.
TEST_F(PrefixFindTest, NamedPropertiesOfManyObjectsMatchEachObjectsOwnList) {
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  std::vector<std::string> oids;
  for (int i = 0; i < 600; ++i) {
    const std::string oid = create(nullptr, "5", i % 2 ? "object.item.audioItem" : "object.item.imageItem");
    ASSERT_EQ(msdb_add_prop(pool_, db_, nullptr, oid.c_str(), 0, "dc:title", "T & <t>", nullptr), 0);
    for (int folder = 0; folder < i % 3; ++folder) {
      const std::string name = "/f" + std::to_string(folder) + " & é";
      ASSERT_EQ(msdb_add_prop(pool_, db_, nullptr, oid.c_str(), 0, "zentoria:folder", name.c_str(), nullptr), 0);
    }
    oids.push_back(oid);
  }
  oids.push_back(create(nullptr));
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
  struct Selection {
    const char *what;
    int step;       // every step-th object
    bool reversed;  // asked for from the last
  };
  constexpr Selection kSelections[] = {{"all", 1, false}, {"all, last first", 1, true}, {"every 2nd", 2, false},
                                         {"every 20th", 20, false}};
  const char *names[] = {"upnp:class", "zentoria:folder"};
  for (const Selection &selection : kSelections) {
    std::vector<const char *> raw;
    for (std::size_t i = 0; i < oids.size(); i += selection.step) raw.push_back(oids[i].c_str());
    if (selection.reversed) std::reverse(raw.begin(), raw.end());
    apr_hash_t *found = nullptr;
    ASSERT_EQ(msdb_fetch_named_rows(pool_, db_, raw.data(), static_cast<int>(raw.size()), names, 2, &found), 0);
    const std::size_t with_rows = 600 / selection.step;  // the last object, a container, has none
    EXPECT_EQ(apr_hash_count(found), with_rows) << selection.what;
    for (const char *oid : raw) {
      auto *rows = static_cast<const PropRows *>(apr_hash_get(found, oid, APR_HASH_KEY_STRING));
      PropList *full = nullptr;
      ASSERT_EQ(msdb_fetch_prop_list(pool_, db_, oid, &full), 0);
      if (rows == nullptr) {
        EXPECT_EQ(prop_count(full, PROP_UPNP_CLASS), 0) << selection.what << " " << oid;
        continue;
      }
      for (int row = 0; row < rows->count; ++row) {
        EXPECT_TRUE(rows->rows[row].name == names[0] || rows->rows[row].name == names[1]);
      }
      PropList *named = msdb_prop_rows_list(pool_, rows);
      EXPECT_EQ(prop_count(named, PROP_DC_TITLE), 0);
      for (int slot : {PROP_UPNP_CLASS, PROP_ZENTORIA_FOLDER}) {
        ASSERT_EQ(prop_count(named, slot), prop_count(full, slot)) << selection.what << " " << oid;
        EXPECT_EQ(msdb_prop_rows_count(rows, slot), prop_count(full, slot)) << selection.what << " " << oid;
        for (int n = 0; n < prop_count(full, slot); ++n) {
          EXPECT_STREQ(prop_get(pool_, named, slot, n), prop_get(pool_, full, slot, n));
          EXPECT_STREQ(msdb_prop_rows_get(rows, slot, n), prop_get(pool_, full, slot, n));
        }
      }
    }
  }
}

}  // namespace
