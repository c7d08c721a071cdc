// The connection's memory of the objects it created in its transaction and
// of the counters it wrote: whatever it answers must be what the database
// itself would answer, and it must never outlive the transaction that
// filled it.
#include <apr_strings.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "CommonProp.h"
#include "DbFixture.h"
#include "MSDBQuery.h"

namespace {

class MemoryTest : public DbTest {
 protected:
  // Every answer the property reads give for object, as one text.
  std::string reads(const std::string &object) {
    std::string out;
    for (const char *name : {"dc:title", "upnp:artist", "res", "res@size", "@childCount", "upnp:class",
                             "zentoria:isContainer", "test:absent"}) {
      const char *values[8];
      int count = 8;
      EXPECT_EQ(msdb_get_prop_values(pool_, db_, object.c_str(), 0, name, 0, values, &count), 0);
      out += name;
      for (int i = 0; i < count; ++i) out += std::string("=") + values[i];
      const char *first = nullptr;
      const char *row = nullptr;
      EXPECT_EQ(msdb_get_prop(pool_, db_, object.c_str(), 0, name, 1, &first, &row), 0);
      out += std::string(" raw:") + (first ? first : "(none)") + " row:" + (row ? row : "(none)") + "\n";
    }
    return out;
  }
  void add(const std::string &object, const char *name, const char *text, const char *parent = nullptr,
           const char **row = nullptr) {
    ASSERT_EQ(msdb_add_prop(pool_, db_, parent, object.c_str(), 0, name, text, row), 0);
  }
};

TEST_F(MemoryTest, AFreshObjectReadsInItsTransactionAsTheDatabaseReadsAfterCommit) {
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  std::string item = create(nullptr);
  PropList *list = prop_list_create(pool_);
  prop_add(pool_, list, PROP_DC_TITLE, "Rock & <Roll>");
  prop_add(pool_, list, PROP_UPNP_ARTIST, "Second");
  prop_add(pool_, list, PROP_UPNP_CLASS, "object.item.audioItem");
  prop_add(pool_, list, PROP_RES, "file:///a.mp3");
  prop_set(pool_, list, PROP_RES_SIZE, "1234");
  ASSERT_EQ(msdb_add_prop_list(pool_, db_, item.c_str(), list), 0);
  add(item, "upnp:artist", "First");
  add(item, "upnp:artist", "Second");  // already there: no second row
  ASSERT_EQ(msdb_set_prop(pool_, db_, nullptr, item.c_str(), 0, "dc:title", "Renamed", nullptr), 0);
  ASSERT_EQ(msdb_ensure_prop(pool_, db_, nullptr, item.c_str(), 0, "dc:title", "Ignored", nullptr), 0);

  std::string container = create("1");
  std::string child = create(nullptr);
  ASSERT_EQ(msdb_add_edge(pool_, db_, container.c_str(), child.c_str(), 1, nullptr, nullptr), 0);
  ASSERT_EQ(msdb_add_edge(pool_, db_, container.c_str(), item.c_str(), 1, nullptr, nullptr), 0);
  const std::string in_transaction = reads(item) + reads(container);
  ASSERT_EQ(msdb_medialib_commit(db_), 0);

  EXPECT_EQ(reads(item) + reads(container), in_transaction);
  EXPECT_EQ(value(("select count(*) from prop where objectOid=" + item).c_str()), "7");
  EXPECT_TRUE(violations().empty());
}

// A fresh object's list goes in a few multi-row inserts: every attribute
// must land under its own element, also past the rows one insert takes, and
// the same element twice must still make one row.
TEST_F(MemoryTest, AListLongerThanOneInsertKeepsEachAttributeUnderItsElement) {
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  std::string item = create(nullptr);
  PropList *list = prop_list_create(pool_);
  for (int i = 0; i < 100; ++i) {
    prop_add(pool_, list, PROP_RES, apr_psprintf(pool_, "file:///t/%d.mp3", i));  // the list keeps no copy
    prop_set(pool_, list, PROP_RES_SIZE, apr_psprintf(pool_, "%d", 1000 + i));
  }
  prop_add(pool_, list, PROP_UPNP_ARTIST, "Same");
  prop_add(pool_, list, PROP_UPNP_ARTIST, "Same");
  prop_add(pool_, list, PROP_UPNP_CLASS, "object.item.audioItem");
  ASSERT_EQ(msdb_add_prop_list(pool_, db_, item.c_str(), list), 0);
  const std::string in_transaction = reads(item);
  ASSERT_EQ(msdb_medialib_commit(db_), 0);

  EXPECT_EQ(reads(item), in_transaction);
  EXPECT_EQ(value(("select count(*) from prop where objectOid=" + item).c_str()), "203");  // with the container flag
  EXPECT_EQ(value(("select count(*) from prop a join prop e on a.parentOid=e.oid join propValue av on "
                   "a.valueOid=av.oid join propValue ev on e.valueOid=ev.oid where a.objectOid=" + item +
                   " and ev.value='file:///t/' || (cast(av.value as integer) - 1000) || '.mp3'")
                    .c_str()),
            "100");
  EXPECT_TRUE(violations().empty());
}

// A list's rows take their oids in the order they are written; the list is a
// hash whose order is seeded per table, so the same entries made in another
// order must still be written in the same order, or two scans of the same
// files number their rows differently.
TEST_F(MemoryTest, TheSameListMadeInAnotherOrderGivesTheSameRowsInTheSameOrder) {
  struct Entry {
    const char *name;
    const char *value;
    const char *attribute;
    const char *attribute_value;
  };
  const std::vector<Entry> entries = {
      {"dc:title", "Song", nullptr, nullptr},          {"upnp:artist", "First", nullptr, nullptr},
      {"res", "file:///a.mp3", "res@size", "10"},      {"upnp:genre", "Rock", nullptr, nullptr},
      {"upnp:artist", "Second", nullptr, nullptr},     {"res", "http://h/a.mp3", "res@duration", "0:01"},
      {"upnp:album", "Album", nullptr, nullptr},       {"upnp:class", "object.item.audioItem", nullptr, nullptr},
      {"dc:date", "2001-01-01", nullptr, nullptr},     {"upnp:artist", "Third", "upnp:artist@role", "Composer"},
  };
  // Names in reverse order; a name's instances keep theirs.
  std::vector<Entry> reversed = entries;
  std::stable_sort(reversed.begin(), reversed.end(),
                   [](const Entry &a, const Entry &b) { return std::strcmp(a.name, b.name) > 0; });
  auto stored = [&](const std::vector<Entry> &order) {
    std::string item = create(nullptr);
    PropList *list = prop_list_create(pool_);
    for (const Entry &entry : order) {
      prop_add(pool_, list, entry.name, entry.value);
      if (entry.attribute != nullptr) prop_set(pool_, list, entry.attribute, entry.attribute_value);
    }
    EXPECT_EQ(msdb_add_prop_list(pool_, db_, item.c_str(), list), 0);
    return rows(("select n.name, v.value, coalesce(pn.name, '') from prop p join propName n on n.oid = p.nameOid "
                 "join propValue v on v.oid = p.valueOid left join prop pp on pp.oid = p.parentOid left join "
                 "propName pn on pn.oid = pp.nameOid where p.objectOid = " + item + " order by p.oid")
                    .c_str());
  };
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  // Each list is a new table with a seed of its own: several pairs, so that
  // two orders agreeing by chance cannot hide a fault.
  for (int pair = 0; pair < 4; ++pair) {
    const std::vector<std::string> first = stored(entries);
    EXPECT_EQ(first.size(), 14u);  // with the container flag
    EXPECT_EQ(stored(reversed), first);
  }
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
}

// The container flag of a fresh object's list is written with the list's
// rows: it must end as the class rows' writes one by one would leave it, in
// one row, the last the list wrote.
TEST_F(MemoryTest, TheContainerFlagOfAListIsTheOneItsClassRowsSet) {
  struct Case {
    std::vector<const char *> classes;
    const char *flag;  // null: no flag row
  };
  const std::vector<Case> cases = {
      {{"object.item.audioItem"}, "0"},
      {{"object.container.album.musicAlbum"}, "1"},
      {{"unknown.class"}, nullptr},
      {{"object.item.audioItem", "object.container"}, "1"},  // the last class written decides
      {{}, nullptr},
  };
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  for (const Case &c : cases) {
    std::string item = create(nullptr);
    PropList *list = prop_list_create(pool_);
    prop_add(pool_, list, PROP_DC_TITLE, "Title");
    for (const char *cls : c.classes) prop_add(pool_, list, PROP_UPNP_CLASS, cls);
    ASSERT_EQ(msdb_add_prop_list(pool_, db_, item.c_str(), list), 0);
    const std::string flags = "select v.value from prop p join propName n on n.oid = p.nameOid join propValue v on "
                              "v.oid = p.valueOid where n.name = 'zentoria:isContainer' and p.objectOid = " + item;
    EXPECT_EQ(rows(flags.c_str()), c.flag ? std::vector<std::string>{c.flag} : std::vector<std::string>{});
    if (c.flag != nullptr && c.classes.size() == 1) {
      EXPECT_EQ(value(("select max(p.oid) from prop p where p.objectOid = " + item).c_str()),
                value(("select p.oid from prop p join propName n on n.oid = p.nameOid where n.name = "
                       "'zentoria:isContainer' and p.objectOid = " + item).c_str()));
    }
  }
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
}

// The memory holds a bounded number of fresh objects and starts again when
// full: an object made after many others must not inherit their rows,
// sources or ancestor rows.
TEST_F(MemoryTest, ObjectsMadeAfterManyOthersStartFromNothing) {
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  std::string folder = create("1");
  std::vector<std::string> items;
  std::vector<std::string> inside;
  for (int i = 0; i < 400; ++i) {
    items.push_back(create(folder.c_str()));
    add(items.back(), "dc:title", ("Item " + std::to_string(i)).c_str());
    const char *row = nullptr;
    ASSERT_EQ(msdb_add_object_source(pool_, db_, items.back().c_str(), "7", &row), 0);
    EXPECT_NE(row, nullptr) << i;
    create(items.back().c_str());  // the item's rows are read back as a parent's
    inside.push_back(reads(items.back()));
  }
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
  for (std::size_t i = 0; i < items.size(); ++i) EXPECT_EQ(reads(items[i]), inside[i]) << i;
  EXPECT_EQ(violations(), std::vector<std::string>{});
}

TEST_F(MemoryTest, EdgesOfFreshObjectsAreCheckedFromMemoryAndFromTheDatabaseAlike) {
  std::string parent = create("1");
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  std::string child = create(nullptr);
  const char *first = nullptr;
  const char *again = nullptr;
  ASSERT_EQ(msdb_add_edge(pool_, db_, parent.c_str(), child.c_str(), 1, nullptr, &first), 0);
  EXPECT_EQ(msdb_add_edge(pool_, db_, parent.c_str(), child.c_str(), 1, nullptr, &again), APR_EEXIST);
  EXPECT_STREQ(first, again);
  ASSERT_EQ(msdb_medialib_commit(db_), 0);

  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  EXPECT_EQ(msdb_add_edge(pool_, db_, parent.c_str(), child.c_str(), 1, nullptr, &again), APR_EEXIST);
  EXPECT_STREQ(first, again);
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
  EXPECT_EQ(value(("select value from prop join propValue on valueOid=propValue.oid where objectOid=" + parent +
                   " and nameOid=(select oid from propName where name='@childCount')")
                      .c_str()),
            "1");
}

TEST_F(MemoryTest, SourcesOfFreshObjectsFollowSubtreeAssociations) {
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  std::string folder = create("1", "5");
  std::string item = create(folder.c_str(), "5");
  const char *row = nullptr;
  ASSERT_EQ(msdb_add_object_source(pool_, db_, item.c_str(), "5", &row), 0);
  EXPECT_EQ(row, nullptr);  // held already: nothing inserted
  ASSERT_EQ(msdb_add_subtree_source(pool_, db_, folder.c_str(), "6"), 0);
  ASSERT_EQ(msdb_add_object_source(pool_, db_, item.c_str(), "6", &row), 0);
  EXPECT_EQ(row, nullptr);
  ASSERT_EQ(msdb_add_object_source(pool_, db_, item.c_str(), "7", &row), 0);
  EXPECT_NE(row, nullptr);
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
  EXPECT_EQ(rows(("select sourceOid from objms where objectOid=" + item + " order by sourceOid").c_str()),
            (std::vector<std::string>{"5", "6", "7"}));
}

TEST_F(MemoryTest, NothingIsRememberedPastARollbackOrOutsideATransaction) {
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  std::string gone = create(nullptr);
  add(gone, "dc:title", "Rolled back");
  ASSERT_EQ(msdb_medialib_rollback(db_), 0);

  // The rolled-back oid is handed out again, to an object without rows.
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  std::string reused = create(nullptr);
  ASSERT_EQ(reused, gone);
  const char *title = nullptr;
  EXPECT_EQ(msdb_get_prop(pool_, db_, reused.c_str(), PROP_DC_TITLE, nullptr, 0, &title, nullptr), 0);
  EXPECT_EQ(title, nullptr);
  add(reused, "dc:title", "Kept");
  ASSERT_EQ(msdb_medialib_commit(db_), 0);

  // Another writer changes the row between two transactions.
  exec("insert into propValue (oid, value) values (null, 'Changed')");
  exec(("update prop set valueOid=(select oid from propValue where value='Changed') where objectOid=" + reused)
           .c_str());
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  EXPECT_EQ(msdb_get_prop(pool_, db_, reused.c_str(), PROP_DC_TITLE, nullptr, 0, &title, nullptr), 0);
  EXPECT_STREQ(title, "Changed");
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
}

TEST_F(MemoryTest, CountersFollowEveryWayTheirRowIsWritten) {
  std::string container = create("1");
  auto count = [&] {
    const char *text = nullptr;
    EXPECT_EQ(msdb_get_prop(pool_, db_, container.c_str(), PROP_CHILD_COUNT, nullptr, 0, &text, nullptr), 0);
    return std::string(text ? text : "(none)");
  };
  const char *objects[] = {container.c_str()};
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  ASSERT_EQ(msdb_add_edge(pool_, db_, container.c_str(), create(nullptr).c_str(), 1, nullptr, nullptr), 0);
  ASSERT_EQ(msdb_increment_prop(pool_, db_, objects, 1, PROP_CHILD_COUNT, nullptr, 1), 0);
  EXPECT_EQ(count(), "2");
  ASSERT_EQ(msdb_set_slot(pool_, db_, container.c_str(), PROP_CHILD_COUNT, "10"), 0);
  ASSERT_EQ(msdb_increment_prop(pool_, db_, objects, 1, PROP_CHILD_COUNT, nullptr, 1), 0);
  EXPECT_EQ(count(), "11");
  const char *text = nullptr;
  const char *row = nullptr;
  ASSERT_EQ(msdb_get_prop(pool_, db_, container.c_str(), PROP_CHILD_COUNT, nullptr, 0, &text, &row), 0);
  ASSERT_EQ(msdb_set_prop_value_by_oid(pool_, db_, container.c_str(), row, "20"), 0);
  ASSERT_EQ(msdb_increment_prop(pool_, db_, objects, 1, PROP_CHILD_COUNT, nullptr, -1), 0);
  EXPECT_EQ(count(), "19");
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
  EXPECT_EQ(count(), "19");

  // A fresh object has no counter until it is given one.
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  std::string fresh = create(nullptr);
  const char *fresh_objects[] = {fresh.c_str()};
  EXPECT_NE(msdb_increment_prop(pool_, db_, fresh_objects, 1, PROP_CHILD_COUNT, nullptr, 1), 0);
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
}

// Outside a transaction a counter is read and stored by its statements, and
// several objects share one count: the first one's, by oid.
TEST_F(MemoryTest, CountersOutsideATransactionAndOfSeveralObjectsAreStoredAtOnce) {
  const std::string first = create("1");
  const std::string second = create("1");
  ASSERT_EQ(msdb_set_slot(pool_, db_, first.c_str(), PROP_CHILD_COUNT, "4"), 0);
  ASSERT_EQ(msdb_set_slot(pool_, db_, second.c_str(), PROP_CHILD_COUNT, "9"), 0);
  auto count = [&](const std::string &object) {
    const char *text = nullptr;
    EXPECT_EQ(msdb_get_prop(pool_, db_, object.c_str(), PROP_CHILD_COUNT, nullptr, 0, &text, nullptr), 0);
    return std::string(text ? text : "(none)");
  };
  const char *one[] = {second.c_str()};
  const char *both[] = {first.c_str(), second.c_str()};
  struct Step {
    const char *const *objects;
    int count;
    int delta;
    const char *first;
    const char *second;
  };
  for (const Step &step : {Step{one, 1, 1, "4", "10"}, Step{both, 2, -2, "2", "2"}}) {
    ASSERT_EQ(msdb_increment_prop(pool_, db_, step.objects, step.count, PROP_CHILD_COUNT, nullptr, step.delta), 0);
    EXPECT_EQ(count(first), step.first);
    EXPECT_EQ(count(second), step.second);
  }
}

// Child counts added to within a transaction are stored once, later; every
// way of looking at them in the meantime must see the current count.
class PendingCountTest : public MemoryTest {
 protected:
  void SetUp() override {
    MemoryTest::SetUp();
    container_ = create("1");
    add_children(3);  // known from here on: further additions are pending
  }
  void add_children(int count) {
    for (int i = 0; i < count; ++i) {
      children_.push_back(create(nullptr));
      ASSERT_EQ(msdb_add_edge(pool_, db_, container_.c_str(), children_.back().c_str(), 1, nullptr, nullptr), 0);
    }
  }
  std::string stored() {
    return value(("select value from prop join propValue on valueOid=propValue.oid where objectOid=" + container_ +
                  " and nameOid=(select oid from propName where name='@childCount')")
                     .c_str());
  }
  std::string container_;
  std::vector<std::string> children_;
};

TEST_F(PendingCountTest, ACommitStoresThemAndARollbackForgetsThem) {
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  add_children(4);
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
  EXPECT_EQ(stored(), "7");

  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  const char *objects[] = {container_.c_str()};
  ASSERT_EQ(msdb_increment_prop(pool_, db_, objects, 1, PROP_CHILD_COUNT, nullptr, 1), 0);
  ASSERT_EQ(msdb_increment_prop(pool_, db_, objects, 1, PROP_CHILD_COUNT, nullptr, 1), 0);
  ASSERT_EQ(msdb_medialib_rollback(db_), 0);
  EXPECT_EQ(stored(), "7");
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  ASSERT_EQ(msdb_increment_prop(pool_, db_, objects, 1, PROP_CHILD_COUNT, nullptr, 1), 0);
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
  EXPECT_EQ(stored(), "8");
}

TEST_F(PendingCountTest, ReadsSearchesAndDeletionsSeeTheCurrentCount) {
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  add_children(2);
  PropList *list = nullptr;
  ASSERT_EQ(msdb_fetch_prop_list(pool_, db_, container_.c_str(), &list), 0);
  EXPECT_STREQ(prop_get(pool_, list, PROP_CHILD_COUNT, 0), "5");
  add_children(1);
  const char *names[] = {"@childCount"};
  const char *values[] = {"6"};
  const char *found = nullptr;
  ASSERT_EQ(msdb_find_object(pool_, db_, nullptr, 0, 1, 1, names, values, 0, nullptr, &found, nullptr), 0);
  EXPECT_EQ(found != nullptr ? std::string(found) : "(none)", container_);
  ASSERT_EQ(msdb_delete_objects(pool_, db_, ("select " + children_.back() + " as deleteoid").c_str(), nullptr,
                                nullptr),
            0);
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
  EXPECT_EQ(stored(), "5");
  EXPECT_TRUE(violations().empty());
}

TEST_F(PendingCountTest, AnotherWriteOfTheCountIsNotUndoneByThePendingOne) {
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  add_children(2);
  ASSERT_EQ(msdb_set_slot(pool_, db_, container_.c_str(), PROP_CHILD_COUNT, "40"), 0);
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
  EXPECT_EQ(stored(), "40");
}

}  // namespace
