// Deletion by victim set, by source, empty-container passes and sweeps.
#include "DbFixture.h"
#include "MSDBSchema.h"

namespace {

int always_cancel(void *) { return 1; }

}  // namespace

class DeleteTest : public DbTest {
 protected:
  std::string count_of(const std::string &oid) {
    const char *text = nullptr;
    EXPECT_EQ(msdb_get_prop(pool_, db_, oid.c_str(), PROP_CHILD_COUNT, nullptr, 0, &text, nullptr), 0);
    return text == nullptr ? "(none)" : text;
  }
  bool exists(const std::string &oid) {
    return value(("select count(*) from object where oid=" + oid).c_str()) == "1";
  }
  void empty_container(const std::string &oid) {
    ASSERT_EQ(msdb_set_slot(pool_, db_, oid.c_str(), PROP_CHILD_COUNT, "0"), 0);
  }
  std::string temp_tables() {
    std::string names;
    for (const std::string &name : rows("select name from sqlite_temp_master where type='table'")) names += name + " ";
    return names;
  }
};

TEST_F(DeleteTest, ItemInTwoContainersDecrementsBoth) {
  std::string a = create("1");
  std::string b = create("1");
  std::string item = create(a.c_str());
  ASSERT_EQ(msdb_add_edge(pool_, db_, b.c_str(), item.c_str(), 1, nullptr, nullptr), 0);
  std::string victims = "select " + item + " as deleteoid";
  ASSERT_EQ(msdb_delete_objects(pool_, db_, victims.c_str(), nullptr, nullptr), 0);
  EXPECT_EQ(count_of(a), "0");
  EXPECT_EQ(count_of(b), "0");
  EXPECT_TRUE(violations().empty());
}

TEST_F(DeleteTest, MiddleContainerLosesRoutesButDescendantsRemain) {
  std::string top = create("1");
  std::string middle = create(top.c_str());
  std::string leaf = create(middle.c_str());
  std::string victims = "select " + middle + " as deleteoid";
  ASSERT_EQ(msdb_delete_objects(pool_, db_, victims.c_str(), nullptr, nullptr), 0);
  EXPECT_TRUE(exists(leaf));
  EXPECT_EQ(value(("select count(*) from ancestor where objectOid=" + leaf).c_str()), "0");
  EXPECT_EQ(count_of(top), "0");
  EXPECT_TRUE(violations().empty());
}

TEST_F(DeleteTest, ObjectSharedByTwoSourcesSurvivesOneSourcesDeletion) {
  std::string folder = create("1", "5");
  std::string shared = create(folder.c_str(), "5");
  ASSERT_EQ(msdb_add_object_source(pool_, db_, shared.c_str(), "6", nullptr), 0);
  ASSERT_EQ(msdb_delete_source_objects(pool_, db_, "5", nullptr, nullptr), 0);
  EXPECT_FALSE(exists(folder));
  EXPECT_TRUE(exists(shared));
  EXPECT_EQ(rows(("select sourceOid from objms where objectOid=" + shared).c_str()), std::vector<std::string>{"6"});
  EXPECT_EQ(temp_tables(), "");
  EXPECT_TRUE(violations().empty());
}

TEST_F(DeleteTest, ChainOfEmptyContainersGoesOneLevelPerPass) {
  std::string outer = create("1", "5");
  std::string middle = create(outer.c_str(), "5");
  std::string inner = create(middle.c_str(), "5");
  empty_container(inner);
  std::string kept = create("1", "5");
  create(kept.c_str(), "5");
  ASSERT_EQ(msdb_delete_source_leaves(pool_, db_, "5", nullptr, nullptr), 0);
  EXPECT_FALSE(exists(outer));
  EXPECT_FALSE(exists(middle));
  EXPECT_FALSE(exists(inner));
  EXPECT_TRUE(exists(kept));
  EXPECT_EQ(count_of("1"), "1");
  EXPECT_EQ(temp_tables(), "");
  EXPECT_TRUE(violations().empty());
}

TEST_F(DeleteTest, CancelledOperationsReturn4AndDropTheirTables) {
  std::string folder = create("1", "5");
  empty_container(folder);
  EXPECT_EQ(msdb_delete_source_objects(pool_, db_, "5", always_cancel, nullptr), 4);
  EXPECT_EQ(temp_tables(), "");
  EXPECT_EQ(msdb_delete_source_leaves(pool_, db_, "5", always_cancel, nullptr), 4);
  EXPECT_EQ(temp_tables(), "");
  EXPECT_EQ(msdb_delete_all_objects(pool_, db_, always_cancel, nullptr), 4);
  EXPECT_EQ(temp_tables(), "");
}

TEST_F(DeleteTest, DeleteAllKeepsTheServersOwnObjects) {
  std::string folder = create("1", "5");
  create(folder.c_str(), "6");
  ASSERT_EQ(msdb_delete_all_objects(pool_, db_, nullptr, nullptr), 0);
  EXPECT_EQ(value("select count(*) from object"), "8");
  EXPECT_EQ(count_of("1"), "0");
  EXPECT_TRUE(violations().empty());
}

// Marks are written a few hundred at a time: every one reaches the sweep,
// and those of a table dropped before they were written (a failed pass)
// never reach the next one.
TEST_F(DeleteTest, EveryMarkReachesTheSweepOfItsOwnTableOnly) {
  for (const int doomed : {3, 300}) {
    std::vector<std::string> objects;
    for (int i = 0; i < doomed; ++i) objects.push_back(create("1", "5"));
    ASSERT_EQ(msdb_create_marks(pool_, db_), 0);
    for (const std::string &oid : objects) ASSERT_EQ(msdb_mark_object(pool_, db_, oid.c_str(), 1), 0);
    ASSERT_EQ(msdb_drop_marks(pool_, db_), 0);
    ASSERT_EQ(msdb_create_marks(pool_, db_), 0);
    int swept = -1;
    ASSERT_EQ(msdb_sweep_marked(pool_, db_, &swept, nullptr, nullptr), 0);
    EXPECT_EQ(swept, 0) << doomed;
    for (const std::string &oid : objects) ASSERT_EQ(msdb_mark_object(pool_, db_, oid.c_str(), 1), 0);
    ASSERT_EQ(msdb_sweep_marked(pool_, db_, &swept, nullptr, nullptr), 0);
    EXPECT_EQ(swept, doomed);
    EXPECT_FALSE(exists(objects.front()));
    EXPECT_FALSE(exists(objects.back()));
    ASSERT_EQ(msdb_drop_marks(pool_, db_), 0);
  }
  EXPECT_TRUE(violations().empty());
}

// Marks wait on the connection they were made on: a second library used on
// the same thread between them and their sweep leaves them there.
TEST_F(DeleteTest, MarksOfTwoLibrariesOnOneThreadEachReachTheirSweep) {
  const std::string other_medialib = dir_.file("other-medialib.db");
  const std::string other_admin = dir_.file("other-admin.db");
  ASSERT_EQ(msdb_schema_create(pool_, other_medialib.c_str(), other_admin.c_str()), 0);
  MediaLibraryDB *other = nullptr;
  ASSERT_EQ(msdb_init(pool_, other_medialib.c_str(), other_admin.c_str(), &other), 0);
  const char *theirs = nullptr;
  ASSERT_EQ(msdb_create_object(pool_, other, "1", "5", nullptr, &theirs), 0);
  std::vector<std::string> ours;
  for (int i = 0; i < 3; ++i) ours.push_back(create("1", "5"));
  ASSERT_EQ(msdb_create_marks(pool_, db_), 0);
  ASSERT_EQ(msdb_create_marks(pool_, other), 0);
  for (const std::string &oid : ours) ASSERT_EQ(msdb_mark_object(pool_, db_, oid.c_str(), 1), 0);
  ASSERT_EQ(msdb_mark_object(pool_, other, theirs, 1), 0);
  int swept = -1;
  ASSERT_EQ(msdb_sweep_marked(pool_, db_, &swept, nullptr, nullptr), 0);
  EXPECT_EQ(swept, 3);
  ASSERT_EQ(msdb_sweep_marked(pool_, other, &swept, nullptr, nullptr), 0);
  EXPECT_EQ(swept, 1);
  ASSERT_EQ(msdb_drop_marks(pool_, other), 0);
  msdb_terminate(other);
  ASSERT_EQ(msdb_drop_marks(pool_, db_), 0);
  EXPECT_TRUE(violations().empty());
}

TEST_F(DeleteTest, SweepSourceRemovesUnmarkedAndMarkedForDeletion) {
  std::string seen = create("1", "5");
  std::string gone = create("1", "5");
  std::string doomed = create("1", "5");
  std::string shared = create("1", "5");
  ASSERT_EQ(msdb_add_object_source(pool_, db_, shared.c_str(), "6", nullptr), 0);
  ASSERT_EQ(msdb_create_marks(pool_, db_), 0);
  ASSERT_EQ(msdb_mark_object(pool_, db_, seen.c_str(), 2), 0);
  ASSERT_EQ(msdb_mark_object(pool_, db_, doomed.c_str(), 1), 0);
  int stale = -1;
  int other = -1;
  ASSERT_EQ(msdb_sweep_source(pool_, db_, "5", &stale, &other, nullptr, nullptr), 0);
  EXPECT_EQ(stale, 1);
  EXPECT_EQ(other, 1);
  EXPECT_TRUE(exists(seen));
  EXPECT_FALSE(exists(gone));
  EXPECT_FALSE(exists(doomed));
  EXPECT_TRUE(exists(shared));
  ASSERT_EQ(msdb_mark_object(pool_, db_, seen.c_str(), 2), 0);
  ASSERT_EQ(msdb_sweep_source(pool_, db_, "5", &stale, &other, nullptr, nullptr), 0);
  EXPECT_EQ(stale, 0);
  EXPECT_EQ(other, 0);
  ASSERT_EQ(msdb_drop_marks(pool_, db_), 0);
  EXPECT_EQ(count_of("1"), "2");
  EXPECT_TRUE(violations().empty());
}

// A sweep of a source whose other objects were all seen still removes what
// is marked for deletion (alone, or with its subtree; a mark in a table
// dropped before counts for nothing) and what is unseen, and still only
// unshares an unseen shared object.
TEST_F(DeleteTest, SweepOfAMostlySeenSourceStillDeletesWhatItMust) {
  struct Case {
    const char *name;
    int flag;          // the odd object's mark; 0: none
    bool subtree;      // marked with its child
    bool shared;       // also held by source 6
    bool child_seen;   // its child marked 2
    bool dropped_mark; // marked 1 in a table dropped before this pass
    bool remains;
    int stale, other;
  };
  const Case cases[] = {
      {"all seen", 2, false, false, true, false, true, 0, 0},
      {"marked for deletion", 1, false, false, false, false, false, 1, 1},
      {"subtree marked for deletion", 1, true, false, false, false, false, 0, 2},
      {"marked for deletion in a dropped table", 2, false, false, true, true, true, 0, 0},
      {"unseen", 0, false, false, false, false, false, 2, 0},
      {"unseen and shared", 0, false, true, false, false, true, 1, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> seen;
    for (int i = 0; i < 3; ++i) seen.push_back(create("1", "5"));
    const std::string odd = create("1", "5");
    const std::string child = create(odd.c_str(), "5");
    if (c.shared) {
      ASSERT_EQ(msdb_add_object_source(pool_, db_, odd.c_str(), "6", nullptr), 0);
    }
    if (c.dropped_mark) {
      ASSERT_EQ(msdb_create_marks(pool_, db_), 0);
      ASSERT_EQ(msdb_mark_object(pool_, db_, odd.c_str(), 1), 0);
      ASSERT_EQ(msdb_drop_marks(pool_, db_), 0);
    }
    ASSERT_EQ(msdb_create_marks(pool_, db_), 0);
    for (const std::string &oid : seen) ASSERT_EQ(msdb_mark_object(pool_, db_, oid.c_str(), 2), 0);
    if (c.child_seen) {
      ASSERT_EQ(msdb_mark_object(pool_, db_, child.c_str(), 2), 0);
    }
    if (c.flag != 0) {
      ASSERT_EQ(c.subtree ? msdb_mark_subtree(pool_, db_, odd.c_str(), c.flag)
                          : msdb_mark_object(pool_, db_, odd.c_str(), c.flag),
                0);
    }
    int stale = -1, other = -1;
    ASSERT_EQ(msdb_sweep_source(pool_, db_, "5", &stale, &other, nullptr, nullptr), 0);
    ASSERT_EQ(msdb_drop_marks(pool_, db_), 0);
    EXPECT_EQ(exists(odd), c.remains);
    EXPECT_EQ(stale, c.stale);
    EXPECT_EQ(other, c.other);
    for (const std::string &oid : seen) EXPECT_TRUE(exists(oid));
    EXPECT_TRUE(violations().empty());
    ASSERT_EQ(msdb_delete_source_objects(pool_, db_, "5", nullptr, nullptr), 0);
    ASSERT_EQ(msdb_delete_source_objects(pool_, db_, "6", nullptr, nullptr), 0);
  }
}
