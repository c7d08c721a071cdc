// The connection's memory of interned oids and its graph epoch: what a
// rolled-back transaction took away must be interned again, a new object's
// property list is stored once, and the epoch moves whenever remembered
// object oids may have gone stale.
#include "CommonProp.h"
#include "DbFixture.h"

namespace {

class CacheTest : public DbTest {
 protected:
  apr_uint64_t epoch() {
    apr_uint64_t now = 0;
    EXPECT_EQ(msdb_graph_epoch(db_, &now), 0);
    return now;
  }
  void add_children(const std::string &parent, int count) {
    for (int i = 0; i < count; ++i) {
      std::string child = create(nullptr);
      ASSERT_EQ(msdb_add_edge(pool_, db_, parent.c_str(), child.c_str(), 1, nullptr, nullptr), 0);
    }
  }
};

TEST_F(CacheTest, NamesAndValuesInternedInARolledBackTransactionAreInternedAgain) {
  const char *name = nullptr;
  const char *text = nullptr;
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  ASSERT_EQ(msdb_intern_name(pool_, db_, "test:fresh", &name), 0);
  ASSERT_EQ(msdb_intern_value(pool_, db_, "fresh value", &text), 0);
  ASSERT_EQ(msdb_medialib_rollback(db_), 0);
  EXPECT_EQ(value("select count(*) from propValue where value='fresh value'"), "0");

  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  std::string object = create("1");
  ASSERT_EQ(msdb_add_prop(pool_, db_, nullptr, object.c_str(), 0, "test:fresh", "fresh value", nullptr), 0);
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
  EXPECT_EQ(value(("select count(*) from prop join propName on nameOid=propName.oid join propValue on "
                   "valueOid=propValue.oid where name='test:fresh' and value='fresh value' and objectOid=" +
                   object)
                      .c_str()),
            "1");
  EXPECT_TRUE(violations().empty());
}

TEST_F(CacheTest, ChildCountsOfARolledBackTransactionStayConsistent) {
  std::string parent = create("1");
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  add_children(parent, 6);  // interns the counter values 2 to 6
  ASSERT_EQ(msdb_medialib_rollback(db_), 0);
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  add_children(parent, 4);
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
  const char *count = nullptr;
  ASSERT_EQ(msdb_get_prop(pool_, db_, parent.c_str(), PROP_CHILD_COUNT, nullptr, 0, &count, nullptr), 0);
  EXPECT_STREQ(count, "4");
  EXPECT_TRUE(violations().empty());
}

TEST_F(CacheTest, NewObjectsListIsStoredOnceWithAttributesUnderTheirElements) {
  std::string object = create("1");
  PropList *list = prop_list_create(pool_);
  prop_add(pool_, list, PROP_UPNP_GENRE, "Rock");
  prop_add(pool_, list, PROP_UPNP_GENRE, "Rock");
  prop_add(pool_, list, PROP_RES, "file:///a.mp3");
  prop_set(pool_, list, PROP_RES_SIZE, "42");
  prop_add(pool_, list, PROP_UPNP_CLASS, "object.item.audioItem.musicTrack");
  ASSERT_EQ(msdb_add_prop_list(pool_, db_, object.c_str(), list), 0);
  ASSERT_EQ(msdb_add_prop_list(pool_, db_, object.c_str(), list), 0);  // no longer new: nothing is added
  const std::string rows = "select count(*) from prop join propName on nameOid=propName.oid where objectOid=" + object;
  EXPECT_EQ(value((rows + " and name='upnp:genre'").c_str()), "1");
  EXPECT_EQ(value((rows + " and name='res@size' and parentOid=(select oid from prop where objectOid=" + object +
                   " and nameOid=(select oid from propName where name='res'))")
                      .c_str()),
            "1");
  EXPECT_EQ(value((rows + " and name='zentoria:isContainer'").c_str()), "1");
  EXPECT_EQ(value(rows.c_str()), "5");
  EXPECT_TRUE(violations().empty());
}

TEST_F(CacheTest, GraphEpochMovesOnBeginRollbackAndDeletionButNotOnCommit) {
  apr_uint64_t start = epoch();
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  apr_uint64_t begun = epoch();
  EXPECT_NE(begun, start);
  std::string object = create("1");
  EXPECT_EQ(epoch(), begun);
  ASSERT_EQ(msdb_delete_objects(pool_, db_, ("select " + object + " as deleteoid").c_str(), nullptr, nullptr), 0);
  apr_uint64_t deleted = epoch();
  EXPECT_NE(deleted, begun);
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
  EXPECT_EQ(epoch(), deleted);
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  apr_uint64_t again = epoch();
  ASSERT_EQ(msdb_medialib_rollback(db_), 0);
  EXPECT_NE(epoch(), again);
}

TEST_F(CacheTest, AContinuedTransactionKeepsWhatTheCommittedOneRemembered) {
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  std::string parent = create("1");
  std::string child = create(nullptr);
  ASSERT_EQ(msdb_add_edge(pool_, db_, parent.c_str(), child.c_str(), 1, nullptr, nullptr), 0);
  apr_uint64_t kept = epoch();
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
  ASSERT_EQ(msdb_medialib_begin_continued(db_), 0);
  EXPECT_EQ(epoch(), kept);
  // Still known as fresh: the edge is found without asking, and is the one stored.
  const char *edge = nullptr;
  EXPECT_EQ(msdb_add_edge(pool_, db_, parent.c_str(), child.c_str(), 1, nullptr, &edge), APR_EEXIST);
  EXPECT_EQ(std::string(edge), value(("select oid from edge where objectOid=" + child).c_str()));
  EXPECT_EQ(msdb_medialib_begin(db_), APR_EGENERAL);  // still one transaction at a time
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
}

}  // namespace
