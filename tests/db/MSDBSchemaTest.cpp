// The indexes of a new library: the statements that read an indexed column
// reach their rows through an index, never by reading the whole table. The
// partial indexes only serve statements whose condition implies theirs, so
// a changed condition would fall back to a full scan without failing.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "DbFixture.h"
#include "MSDBSchema.h"

namespace {

struct PlannedRead {
  const char *sql;
  const char *index;  // the index the plan must search
};

// Each reader as the library's code words it, with sample values pasted in.
constexpr PlannedRead kReads[] = {
    // Attribute rows of a property being removed, and of a single row.
    {"delete from prop where parentOid in (select oid from prop where (nameOid=3) and (objectOid=9) and "
     "(parentOid is null))",
     "prop_parent (parentOid=?)"},
    {"delete from prop where (parentOid=12) or (oid=12);", "prop_parent (parentOid=?)"},
    {"select oid from prop where parentOid = 12 and objectOid=9 and valueOid in (select oid from propValue where "
     "value = 'x') and nameOid=(select oid from propName where name='res@size')",
     "prop_"},
    {"select oid, parentOid from prop where parentOid is not null and parentOid not in (select oid from prop)",
     "prop_parent"},
    {"select oid from object where signature='a/b.mp3';", "object_signature (signature=?)"},
    // One property of an object by name: reads, counters, replacement.
    {"select propValue.value, prop.oid from prop inner join propValue on valueOid=propValue.oid where "
     "nameOid=(select oid from propName where name='dc:title') and objectOid=9",
     "prop_object_name (objectOid=? AND nameOid=?)"},
    {"update prop set valueOid=5 where objectOid in (9, 10) and nameOid=(select oid from propName where "
     "name='@childCount');",
     "prop_object_name (objectOid=? AND nameOid=?)"},
    {"delete from prop where (nameOid=3) and (objectOid=9) and (parentOid is null)",
     "prop_object_name (objectOid=? AND nameOid=?)"},
    {"select prop.oid from prop where prop.objectOid=9", "prop_object_name (objectOid=?)"},
    // A rescan's checked properties of objects close together: one walk per
    // name over their range, values and parents from the index alone.
    {"select prop.nameOid, prop.valueOid, prop.objectOid, prop.parentOid, prop.oid from prop where "
     "prop.objectOid between ? and ? and prop.nameOid > 0 and prop.nameOid in (select oid from propName where "
     "name in ('upnp:class', 'zentoria:folder'))",
     "COVERING INDEX prop_name_object (nameOid=? AND objectOid>? AND objectOid<?)"},
    // Objects by a value under a name: an item by its path, a source's empty
    // containers (reached from the few rows of the value, not from every
    // object of the source).
    {"select max(p0.objectOid) from prop p0 where p0.valueOid in (select oid from propValue where value = 'a/b.mp3') "
     "and p0.nameOid=(select oid from propName where name='zentoria:fullPath')",
     "prop_value_object (valueOid=? AND nameOid=?)"},
    {"select objms.objectOid as deleteoid from objms inner join prop on sourceOid=2 and "
     "objms.objectOid=prop.objectoid and nameoid=(select oid from propname where name='@childCount') and valueOid "
     "in (select oid from propValue where value='0');",
     "prop_value_object (valueOid=? AND nameOid=?)"},
    // Where a deep browse page begins: the container's entries of the index
    // from its first on, nothing else read.
    {"select parentObjectOid, ordinal, oid from edge where parentObjectOid >= 9 order by parentObjectOid, ordinal, "
     "oid limit 1 offset 9856",
     "COVERING INDEX edge_parent_ordinal (parentObjectOid>?)"},
};

}  // namespace

TEST_F(DbTest, EveryIndexedReadSearchesAnIndex) {
  for (const PlannedRead &read : kReads) {
    std::vector<std::string> plan = rows((std::string("explain query plan ") + read.sql).c_str());
    std::string text;
    for (const std::string &line : plan) text += line + "\n";
    EXPECT_NE(text.find(read.index), std::string::npos) << read.sql << "\n" << text;
    EXPECT_EQ(text.find("SCAN prop"), std::string::npos) << read.sql << "\n" << text;
    EXPECT_EQ(text.find("SCAN object"), std::string::npos) << read.sql << "\n" << text;
  }
}

// A container looked up by title under its parent: the few rows of the
// title lead, the parent's children are only checked. Left to choose, the
// planner walked every child of the parent (thousands for a large folder or
// date view) and read each child's title row from the table, which made a
// rescan of a 30,000-file library that touched 326 files take 13 s, not 2.
TEST_F(DbTest, ALookUpUnderAParentStartsFromTheTitle) {
  const char *sql =
      "explain query plan select max(p0.objectOid) from  prop p0 cross join prop p1 cross join edge where "
      "p0.valueOid in (select oid from propValue where value = 'Album') and p0.nameOid=(select oid from propName "
      "where name='dc:title') and p0.objectoid=p1.objectoid and p1.valueOid in (select oid from propValue where "
      "value = '1') and p1.nameOid=(select oid from propName where name='zentoria:isContainer')  and "
      "edge.objectOid=p0.objectOid and edge.parentObjectOid=404";
  std::string first;
  for (const std::string &line : rows(sql)) {
    if (line.find("SEARCH") != std::string::npos && line.find("propName") == std::string::npos &&
        line.find("propValue") == std::string::npos) {
      first = line;
      break;
    }
  }
  EXPECT_NE(first.find("SEARCH p0 USING COVERING INDEX prop_value_object"), std::string::npos) << first;
}

// A search's walks read one index each, in its order, without the table or
// a sort: the objects below a container, the title rows in value order, the
// values in title order; a class's objects are a range of values and the
// index rows under them.
TEST_F(DbTest, TheSearchWalksReadOneIndexInItsOrder) {
  const PlannedRead walks[] = {
      {"select count(*) from ancestor where ancestorObjectOid in (1,5) and db_take(objectOid)",
       "COVERING INDEX ancestor_below"},
      {"select valueOid, objectOid from prop where nameOid = 1 order by valueOid, objectOid", "INDEX prop_title"},
      {"select oid, value from propValue where db_marked(oid) order by value collate nocase",
       "COVERING INDEX propValue_nocase"},
      {"select oid, value from propTitle where db_marked(oid) order by value collate nocase",
       "COVERING INDEX propTitle_nocase"},
      {"select objectoid as searchObjectOid from prop where nameOid=(select oid from propName where "
       "name='upnp:class') and valueOid in (select oid from propValue where value like 'object.item.audioItem%' "
       "ESCAPE '\\')",
       "COVERING INDEX prop_value_object (valueOid=? AND nameOid=?)"},
      {"select oid from propValue where value like 'object.item.audioItem%' ESCAPE '\\'",
       "COVERING INDEX propValue_nocase (value>? AND value<?)"},
  };
  const DbLink link = msdb_thread_connection(db_)->medialib;
  const std::vector<bool> marks(8, true);
  std::vector<bool> takes(8, true);
  ASSERT_EQ(db_with_marks(link, marks, [&] {
    return db_with_takes(link, takes, [&] {
      for (const PlannedRead &read : walks) {
        std::string text;
        for (const std::string &line : rows((std::string("explain query plan ") + read.sql).c_str())) {
          text += line + "\n";
        }
        EXPECT_NE(text.find(std::string("USING ") + read.index), std::string::npos) << read.sql << "\n" << text;
        EXPECT_EQ(text.find("TEMP B-TREE"), std::string::npos) << read.sql << "\n" << text;
      }
      return 0;
    });
  }), 0);
}

// A new library's substring index holds the fixed objects' values, with
// nothing left for a commit to add, and keys for their titles.
TEST_F(DbTest, ANewLibrarysIndexesHoldItsFixedObjects) {
  EXPECT_EQ(rows("select count(*) from " MSDB_UNINDEXED), std::vector<std::string>{"0"});
  EXPECT_EQ(rows("select count(*) from " MSDB_SUBSTRING_INDEX " where " MSDB_SUBSTRING_INDEX " match 'zen'"),
            std::vector<std::string>{"3"});
  EXPECT_EQ(rows("select value from " MSDB_TITLE_KEYS " order by value collate nocase limit 2"),
            (std::vector<std::string>{"Audio", "Hidden"}));
  EXPECT_EQ(db_exec(msdb_thread_connection(db_)->medialib,
                    "insert into " MSDB_SUBSTRING_INDEX " (" MSDB_SUBSTRING_INDEX ") values ('integrity-check')",
                    nullptr),
            0);
}

// A commit that wrote nothing leaves the file as it was: its change counter
// (header bytes 24-27) is what clients' update ids follow.
TEST_F(DbTest, ACommitThatWritesNothingLeavesTheFileAsItWas) {
  const auto counter = [&] {
    std::ifstream file(db_->medialib_path, std::ios::binary);
    char bytes[28] = {};
    file.read(bytes, sizeof bytes);
    return std::string(bytes + 24, 4);
  };
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
  const std::string before = counter();
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
  EXPECT_EQ(counter(), before);
}

// A library that lacks one of the schema's indexes, or still has one that
// was retired, is put right when a connection brings it up to date, one
// difference at a time: the schema is read once to find none.
TEST_F(DbTest, OneMissingOrRetiredIndexIsPutRightOnOpening) {
  const char *kIndexes = "select name from sqlite_master where type='index' and sql is not null and tbl_name in "
                         "('prop', 'edge', 'ancestor', 'object', 'propValue') order by name";
  const std::vector<std::string> indexes = rows(kIndexes);
  ASSERT_GE(indexes.size(), 10u);
  std::vector<std::string> changes;
  for (const std::string &name : indexes) changes.push_back("drop index " + name);
  changes.push_back("create index prop_value on prop (valueOid, nameOid)");
  changes.push_back("create index ancestor_ancestor on ancestor (ancestorObjectOid)");
  DbLink link = msdb_thread_connection(db_)->medialib;
  for (const std::string &change : changes) {
    SCOPED_TRACE(change);
    ASSERT_EQ(db_exec(link, change.c_str(), nullptr), 0);
    ASSERT_EQ(msdb_schema_upgrade(link), 0);
    EXPECT_EQ(rows(kIndexes), indexes);
  }
}

// A pass into a library without items drops the indexes it leaves to its
// end, and one that stops before making them again (killed, a full disk)
// leaves them to the next connection that opens the library; a library
// with items keeps them all.
TEST_F(DbTest, IndexesLeftToAPassEndComeBackOnOpening) {
  const char *kIndexes = "select name from sqlite_master where type='index' order by name";
  const std::vector<std::string> indexes = rows(kIndexes);
  DbLink link = msdb_thread_connection(db_)->medialib;
  struct Case {
    const char *before;
    bool deferred;
  };
  const Case cases[] = {
      {"", true},
      {"insert into objms (objectOid, sourceOid) values (500, 2)", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.before);
    if (*c.before != '\0') {
      ASSERT_EQ(db_exec(link, c.before, nullptr), 0);
    }
    bool deferred = !c.deferred;
    ASSERT_EQ(msdb_schema_defer_indexes(link, &deferred), 0);
    EXPECT_EQ(deferred, c.deferred);
    const std::vector<std::string> left = rows(kIndexes);
    EXPECT_EQ(left.size() < indexes.size(), c.deferred);
    // What a pass reads stays: without ancestor_below, each edge to a
    // container with children read the whole ancestor table.
    for (const char *read : {"prop_object_name", "prop_value_object", "edge_parent_ordinal", "edge_object",
                             "ancestor_object", "ancestor_below"}) {
      EXPECT_NE(std::find(left.begin(), left.end(), read), left.end()) << read;
    }
    ASSERT_EQ(msdb_schema_upgrade(link), 0);
    EXPECT_EQ(rows(kIndexes), indexes);
  }
}

// The routes' version (their counter and the largest ancestor oid) and the
// titles' (their counter and the largest prop oid) move with every kind of
// write to an ancestor row or a title row respectively; the edge counter
// with a changed or removed edge, the largest edge oid with a new or removed
// last one; no other write moves any of them. Letters of what moves: r
// routes, t titles, e the edge counter, l the largest edge oid.
TEST_F(DbTest, ShapeVersionsMoveWithTheirOwnRowsOnly) {
  struct Case {
    const char *sql;
    const char *moved;
  };
  const Case cases[] = {
      {"insert into ancestor (ancestorObjectOid, objectOid, path) values (0, 100, '0/')", "r"},
      {"update ancestor set path = path where objectOid = 100", "r"},
      {"delete from ancestor where objectOid = 100", "r"},
      {"insert into prop (nameOid, objectOid, valueOid) values (1, 100, 1)", "t"},
      {"update prop set valueOid = 2 where nameOid = 1 and objectOid = 100", "t"},
      {"update prop set nameOid = 2 where nameOid = 1 and objectOid = 100", "t"},
      {"update prop set nameOid = 1 where nameOid = 2 and objectOid = 100", "t"},
      {"update prop set objectOid = 101 where nameOid = 1 and objectOid = 100", "t"},
      {"delete from prop where nameOid = 1 and objectOid = 101", "t"},
      {"insert into prop (nameOid, objectOid, valueOid) values (2, 100, 1)", "t"},
      {"update prop set valueOid = 3 where nameOid = 2 and objectOid = 100", ""},
      {"delete from prop where nameOid = 2 and objectOid = 100 and oid < (select max(oid) from prop)", ""},
      {"insert into edge (parentObjectOid, objectOid, ordinal) values (0, 100, 'a')", "l"},
      {"update edge set ordinal = 'b' where objectOid = 100", "e"},
      {"update edge set objectOid = 101 where objectOid = 100", "e"},
      {"delete from edge where objectOid = 101", "el"},
      {"update object set signature = 'x' where oid = 100", ""},
  };
  constexpr const char *kVersions =
      "select routes || '/' || (select max(oid) from ancestor) from " MSDB_SHAPE " union all select titles || '/' || "
      "(select max(oid) from prop) from " MSDB_SHAPE " union all select edges from " MSDB_EDGE_SHAPE
      " union all select ifnull((select max(oid) from edge), 0)";
  constexpr const char kLetters[] = "rtel";
  for (const Case &c : cases) {
    const std::vector<std::string> before = rows(kVersions);
    exec(c.sql);
    const std::vector<std::string> after = rows(kVersions);
    ASSERT_EQ(before.size(), 4u);
    ASSERT_EQ(after.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(before[i] != after[i], std::strchr(c.moved, kLetters[i]) != nullptr) << c.sql << ": " << kLetters[i];
    }
  }
}
