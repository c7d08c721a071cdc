// Statements kept prepared on a connection: each run must do what the same
// text filled in would do, also after the schema changed under it, and a
// failed run must change nothing and leave the statement usable.
#include "DbFixture.h"
#include "MSDBConnection.h"
#include "MSDBHelper.h"

#include <vector>

namespace {

constexpr const char *kInsert = "insert into objms (oid, objectOid, sourceOid) values(null, %s, %s);";

TEST_F(DbTest, APreparedInsertSurvivesSchemaChangesAndFailedRuns) {
  DbLink link = msdb_thread_connection(db_)->medialib;
  ASSERT_NE(link.prepared, nullptr);
  const char *first[] = {"900", "7"};
  const char *row = nullptr;
  ASSERT_EQ(db_insert_prepared(pool_, link, kInsert, first, &row), 0);
  EXPECT_EQ(value("select objectOid || '/' || sourceOid from objms where oid=(select max(oid) from objms)"), "900/7");
  EXPECT_EQ(std::string(row), value("select max(oid) from objms"));

  // Making and dropping a temporary table expires every prepared statement.
  exec("create temp table scratch (x integer)");
  const char *second[] = {"901", "7"};
  ASSERT_EQ(db_insert_prepared(pool_, link, kInsert, second, &row), 0);
  exec("drop table scratch");

  const int before = std::stoi(value("select count(*) from objms"));
  EXPECT_NE(db_insert_prepared(pool_, link, kInsert, second, &row), 0);  // (objectOid, sourceOid) is unique
  EXPECT_EQ(row, nullptr);
  EXPECT_EQ(std::stoi(value("select count(*) from objms")), before);

  const char *third[] = {"902", nullptr};
  ASSERT_EQ(db_insert_prepared(pool_, link, kInsert, third, &row), 0);
  EXPECT_EQ(value("select ifnull(sourceOid, 'NULL') || '/' || typeof(objectOid) from objms where objectOid=902"),
            "NULL/integer");
}

// A connection's first read or write after another connection changed the
// schema (as a first scan does when it drops and makes indexes) does what it
// would have done before.
TEST_F(DbTest, StatementsRunOnAfterAnotherConnectionChangedTheSchema) {
  EXPECT_EQ(value("select count(*) from objms where sourceOid=7"), "0");
  struct Case {
    const char *change;  // by the other connection
    bool read;           // or write, on this one
  };
  const Case cases[] = {
      {"drop index prop_title", true},
      {"create index prop_title on prop (valueOid, objectOid) where nameOid = 1", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.change);
    sqlite3 *other = nullptr;
    ASSERT_EQ(sqlite3_open(medialib_path_.c_str(), &other), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(other, c.change, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    if (c.read) {
      EXPECT_EQ(value("select count(*) from objms where sourceOid=7"), "0");
    } else {
      exec("delete from objms where sourceOid=7");
    }
  }
}

// An integer placeholder binds its text as an integer only where SQLite
// would have stored that same integer for the text: whatever the text, the
// row holds what a quoted literal gives, through a kept statement and
// through the filled-in text alike.
TEST_F(DbTest, AnIntegerPlaceholderStoresWhatItsTextWould) {
  DbLink link = msdb_thread_connection(db_)->medialib;
  exec("create temp table literal (parentObjectOid INTEGER, ordinal TEXT)");
  const char *const texts[] = {"12", "-3", "0", "012", "+4", " 5", "9223372036854775807", "99999999999999999999",
                               "1e3", "abc", "", nullptr};
  const char *row_of = "select quote(parentObjectOid) || typeof(parentObjectOid) || quote(ordinal) from ";
  for (bool kept : {true, false}) {
    DbLink run = link;
    if (!kept) run.prepared = nullptr;
    for (const char *text : texts) {
      exec("delete from edge");
      exec("delete from literal");
      const char *args[] = {text, text};
      const char *row = nullptr;
      ASSERT_EQ(db_insert_prepared(pool_, run, "insert into edge (parentObjectOid, ordinal) values(%lld, %s)", args,
                                   &row), 0);
      const std::string quoted = text == nullptr ? "null" : "'" + std::string(text) + "'";
      exec(("insert into literal values (" + quoted + ", " + quoted + ")").c_str());
      EXPECT_EQ(value((std::string(row_of) + "edge").c_str()), value((std::string(row_of) + "literal").c_str()))
          << (text == nullptr ? "null" : text);
    }
  }
}

// A prepared insert that failed for a full disk used to be run a second
// time; SQLite had ended the transaction on the failure, so the second run
// wrote the row for good, outside the transaction the caller then rolled
// back, and a scan that failed this way left part of an item behind.
TEST_F(DbTest, WriteFailedForAFullDiskIsNotRunAgainOutsideTheTransaction) {
  DbLink link = msdb_thread_connection(db_)->medialib;
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  // Room taken inside the transaction, and given back by its rollback.
  exec("insert into propValue (oid, value) values (null, 'taken' || hex(zeroblob(20000)))");
  value(("PRAGMA max_page_count = " + value("PRAGMA page_count")).c_str());
  const std::string wanted = "wanted" + std::string(8000, 'x');
  const char *args[] = {wanted.c_str()};
  const char *row = nullptr;
  EXPECT_NE(db_insert_prepared(pool_, link, "insert into propValue (oid, value) values(null, %s);", args, &row), 0);
  EXPECT_EQ(msdb_medialib_rollback(db_), 0);
  EXPECT_EQ(value("select count(*) from propValue where value like 'wanted%' or value like 'taken%'"), "0");
}

// Text with quotes and an oid read back through kept selects, find-or-insert
// adding a row only once, and the same answers from a link without a cache
// (the filled-in text must quote what a bound value would carry).
TEST_F(DbTest, APreparedSelectAndFindOrInsertMatchTheTextThatRuns) {
  DbLink link = msdb_thread_connection(db_)->medialib;
  const char *select = "select oid from propValue where value = %s;";
  const char *insert = "insert into propValue (oid, value) values(null,%s);";
  for (bool kept : {true, false}) {
    DbLink run = link;
    if (!kept) run.prepared = nullptr;
    const char *text[] = {kept ? "it's \"odd\" %s" : "l'été %d"};
    const char *first = nullptr;
    const char *again = nullptr;
    ASSERT_EQ(db_find_or_insert_prepared(pool_, run, select, insert, text, &first), 0);
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(db_find_or_insert_prepared(pool_, run, select, insert, text, &again), 0);
    EXPECT_STREQ(first, again);
    EXPECT_EQ(value((std::string("select value from propValue where oid=") + first).c_str()), text[0]);

    const char *oid[] = {first};
    const char *found = nullptr;
    ASSERT_EQ(db_select_value_prepared(pool_, run, "select value from propValue where oid=%s", oid, &found), 0);
    EXPECT_STREQ(found, text[0]);
    const char *missing[] = {"999999"};
    ASSERT_EQ(db_select_value_prepared(pool_, run, "select value from propValue where oid=%s", missing, &found), 0);
    EXPECT_EQ(found, nullptr);
  }
}

// db_take passes each marked oid once, on its first row in the walk's order,
// whatever else the walk repeats, and leaves set exactly the marks no row
// reached; db_marked, registered beside it, still answers from its own marks
// (the title walk nests both).
TEST_F(DbTest, TakenMarksPassOncePerOidAndLeaveTheUnreachedSet) {
  DbLink link = msdb_thread_connection(db_)->medialib;
  exec("create temp table walked (oid INTEGER PRIMARY KEY, object INTEGER)");
  exec("insert into walked (object) values (3), (1), (3), (5), (1), (-1), (70), (3)");
  struct Case {
    std::vector<bool> marks;
    const char *first_rows;  // the walk's rows passed, in walk order
    std::vector<bool> left;
  };
  const Case cases[] = {
      {{false, true, false, true, false, true}, "1,2,4", {false, false, false, false, false, false}},
      {{false, false, false, true}, "1", {false, false, false, false}},
      {{false, true, true}, "2", {false, false, true}},
      {{}, "", {}},
  };
  for (const Case &c : cases) {
    std::vector<bool> marks = c.marks;
    const std::vector<bool> tested{false, true, false, false, false, true};
    std::vector<std::string> passed;
    std::vector<std::string> also_marked;
    ASSERT_EQ(db_with_marks(link, tested, [&] {
      return db_with_takes(link, marks, [&] {
        passed = rows("select ifnull(group_concat(oid), '') from (select oid from walked where db_take(object) "
                      "order by oid)");
        also_marked =
            rows("select group_concat(oid) from (select oid from walked where db_marked(object) order by oid)");
        return 0;
      });
    }), 0);
    EXPECT_EQ(passed, std::vector<std::string>{c.first_rows});
    EXPECT_EQ(also_marked, std::vector<std::string>{"2,4,5"});
    EXPECT_EQ(marks, c.left);
  }
}

}  // namespace
