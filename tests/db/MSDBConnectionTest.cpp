// Connections, transactions, the schema and the mended statement faults.
#include <apr_file_info.h>
#include <apr_thread_proc.h>
#include <sqlite3.h>

#include <functional>
#include <thread>

#include "CommonThreadInit.h"
#include "DbFixture.h"
#include "MSDBSchema.h"

namespace {

bool file_exists(apr_pool_t *pool, const std::string &path) {
  apr_finfo_t info;
  return apr_stat(&info, path.c_str(), APR_FINFO_TYPE, pool) == APR_SUCCESS;
}

}  // namespace

TEST_F(DbTest, FreshLibraryPassesIntegrityCheckAndHoldsFixedObjects) {
  EXPECT_TRUE(violations().empty());
  EXPECT_EQ(rows("select oid from object order by oid"),
            (std::vector<std::string>{"0", "1", "2", "3", "100", "200", "300", "400"}));
  EXPECT_EQ(value("select count(*) from objms where sourceOid=0"), "8");
  const char *count = nullptr;
  ASSERT_EQ(msdb_get_prop(pool_, db_, "0", PROP_CHILD_COUNT, nullptr, 0, &count, nullptr), 0);
  EXPECT_STREQ(count, "3");
  EXPECT_EQ(value("select oid from mediaSource", true), "1");
}

TEST_F(DbTest, SchemaRefusesToOverwriteAnExistingLibrary) {
  EXPECT_EQ(msdb_schema_create(pool_, medialib_path_.c_str(), dir_.file("other.db").c_str()), APR_EEXIST);
  EXPECT_FALSE(file_exists(pool_, dir_.file("other.db")));
}

TEST_F(DbTest, NestedBeginAndCommitWithoutBeginFail) {
  EXPECT_EQ(msdb_medialib_commit(db_), APR_EGENERAL);
  EXPECT_EQ(log_.count("MSDB", 3, "No transaction is in effect for this session"), 1);
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  EXPECT_EQ(msdb_medialib_begin(db_), APR_EGENERAL);
  EXPECT_EQ(log_.count("MSDB", 3, "Nested transactions are not allowed"), 1);
  EXPECT_EQ(msdb_admin_begin(db_), 0);
  EXPECT_EQ(msdb_medialib_commit(db_), 0);
  EXPECT_EQ(msdb_admin_rollback(db_), 0);
}

TEST_F(DbTest, ThreadsHaveTheirOwnConnectionsAndTransactionFlags) {
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  DBThreadConnection *mine = msdb_thread_connection(db_);
  DBThreadConnection *theirs = nullptr;
  int their_begin = -1;
  std::thread worker([&] {
    thread_attach();
    theirs = msdb_thread_connection(db_);
    their_begin = theirs != nullptr ? theirs->medialib_in_transaction : -1;
    thread_detach();
  });
  worker.join();
  EXPECT_NE(mine, theirs);
  EXPECT_EQ(their_begin, 0);
  EXPECT_EQ(msdb_medialib_rollback(db_), 0);
}

TEST_F(DbTest, MissingDatabaseFileFailsWithoutCreatingIt) {
  MediaLibraryDB *other = nullptr;
  std::string missing_admin = dir_.file("missing-admin.db");
  std::string missing_medialib = dir_.file("missing-medialib.db");
  ASSERT_EQ(msdb_init(pool_, missing_medialib.c_str(), missing_admin.c_str(), &other), 0);
  std::thread worker([&] {
    thread_attach();
    EXPECT_EQ(msdb_thread_connection(other), nullptr);
    const char *oid = nullptr;
    EXPECT_EQ(msdb_create_object(pool_, other, nullptr, nullptr, nullptr, &oid), APR_EGENERAL);
    thread_detach();
  });
  worker.join();
  msdb_terminate(other);
  EXPECT_GE(log_.count("MSDB", 3, "Could not open db " + missing_admin), 1);
  EXPECT_EQ(log_.count("MSDB", 3, "Could not open db " + missing_medialib), 0);
  EXPECT_TRUE(log_.contains("Could not get private thread connection to the database"));
  EXPECT_FALSE(file_exists(pool_, missing_admin));
  EXPECT_FALSE(file_exists(pool_, missing_medialib));
}

TEST_F(DbTest, StatementLongerThanTheOldBufferRunsWhole) {
  std::string title(20000, 'x');
  title += "'&<>\"\xc3\xa9 end";
  std::string oid = create("1");
  ASSERT_EQ(msdb_set_slot(pool_, db_, oid.c_str(), PROP_DC_TITLE, title.c_str()), 0);
  const char *back = nullptr;
  ASSERT_EQ(msdb_get_prop(pool_, db_, oid.c_str(), PROP_DC_TITLE, nullptr, 0, &back, nullptr), 0);
  EXPECT_EQ(std::string(back), title);
}

TEST_F(DbTest, OidsFromOutsideMustBeDigits) {
  std::string oid = create("1");
  const char *edge = nullptr;
  EXPECT_EQ(msdb_add_edge(pool_, db_, "1 or 1=1", oid.c_str(), 1, nullptr, &edge), APR_EGENERAL);
  EXPECT_EQ(log_.count("MSDB", 3, "Invalid object id \"1 or 1=1\""), 1);
  EXPECT_EQ(msdb_delete_source_objects(pool_, db_, "5; drop table object", nullptr, nullptr), APR_EGENERAL);
  const char *found = nullptr;
  const char *names[] = {"dc:title"};
  const char *values[] = {"Audio"};
  EXPECT_EQ(msdb_find_object(pool_, db_, "-1", 0, 0, 1, names, values, 0, nullptr, &found, nullptr), 0);
  EXPECT_STREQ(found, "1");
  EXPECT_EQ(msdb_find_object(pool_, db_, "x", 0, 0, 1, names, values, 0, nullptr, &found, nullptr), APR_EGENERAL);
  EXPECT_TRUE(msdb_id_path_valid("0/1/23"));
  EXPECT_TRUE(msdb_id_path_valid("-1"));
  EXPECT_FALSE(msdb_id_path_valid("0//1"));
  EXPECT_FALSE(msdb_id_path_valid("0/1'"));
  EXPECT_EQ(value("select count(*) from edge"), "4");
}

TEST_F(DbTest, RollbackLeavesTheFilesAsTheyWere) {
  std::string before = read_file(medialib_path_);
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  std::string parent = create("1");
  create(parent.c_str());
  // A failing statement in the middle leaves the earlier ones for the caller to undo.
  EXPECT_EQ(msdb_delete_objects(pool_, db_, "select nonsense as deleteoid from nowhere", nullptr, nullptr), APR_EGENERAL);
  ASSERT_EQ(msdb_medialib_rollback(db_), 0);
  msdb_terminate(db_);
  db_ = nullptr;
  EXPECT_EQ(read_file(medialib_path_), before);
  ASSERT_EQ(msdb_init(pool_, medialib_path_.c_str(), admin_path_.c_str(), &db_), 0);
  EXPECT_TRUE(violations().empty());
}

// SQLite ends a transaction by itself on some failures (a full disk, an I/O
// error). The rollback that follows used to fail and leave the connection
// believing in its transaction, so that every later begin was refused.
TEST_F(DbTest, RollbackAfterSQLiteEndedTheTransactionFreesTheConnection) {
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  create("1");
  DBThreadConnection *conn = msdb_thread_connection(db_);
  ASSERT_NE(conn, nullptr);
  ASSERT_EQ(db_exec(conn->medialib, "ROLLBACK", nullptr), 0);
  EXPECT_EQ(msdb_medialib_commit(db_), APR_EGENERAL);
  EXPECT_EQ(msdb_medialib_rollback(db_), 0);
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  create("1");
  EXPECT_EQ(msdb_medialib_commit(db_), 0);
  EXPECT_TRUE(violations().empty());
}

// Once SQLite has ended the transaction by itself, what the connection
// still remembers from it (held edges, interned values) names rows that are
// gone: a write made before the caller's rollback must fail rather than
// commit on its own, so that the library stays as of its last commit.
TEST_F(DbTest, WritesAfterSQLiteEndedTheTransactionAreRefused) {
  struct Case {
    const char *name;
    std::function<void(const char *fresh)> before;  // inside the transaction that is lost
    std::function<int(const char *fresh)> after;
  };
  const Case cases[] = {
      {"held edge of a lost item",
       [&](const char *fresh) {
         msdb_edges_hold(db_, fresh);
         ASSERT_EQ(msdb_add_edge(pool_, db_, "1", fresh, 0, "a", nullptr), 0);
       },
       [&](const char *) { return msdb_edges_write(pool_, db_); }},
      {"value interned by the lost transaction",
       [&](const char *fresh) {
         ASSERT_EQ(msdb_add_prop(pool_, db_, nullptr, fresh, PROP_DC_TITLE, nullptr, "lost", nullptr), 0);
       },
       [&](const char *) { return msdb_add_prop(pool_, db_, nullptr, "1", PROP_DC_TITLE, nullptr, "lost", nullptr); }},
      {"object under a lost parent",
       [&](const char *) {},
       [&](const char *fresh) {
         const char *oid = nullptr;
         return msdb_create_object(pool_, db_, fresh, "5", nullptr, &oid);
       }},
  };
  const char *kSizes = "select (select count(*) from object), (select count(*) from edge), "
                       "(select count(*) from prop), (select count(*) from propValue)";
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> before = rows(kSizes);
    ASSERT_EQ(msdb_medialib_begin(db_), 0);
    const std::string fresh = create(nullptr);
    c.before(fresh.c_str());
    DBThreadConnection *conn = msdb_thread_connection(db_);
    ASSERT_EQ(db_exec(conn->medialib, "ROLLBACK", nullptr), 0);
    EXPECT_NE(c.after(fresh.c_str()), 0);
    EXPECT_EQ(msdb_medialib_rollback(db_), 0);
    EXPECT_EQ(rows(kSizes), before);
    EXPECT_TRUE(violations().empty());
  }
}

TEST_F(DbTest, BusyDatabaseIsRetriedThenFailsCleanly) {
  ASSERT_NE(msdb_thread_connection(db_), nullptr);
  // Another connection (as another process would) holds the write lock.
  sqlite3 *other = nullptr;
  ASSERT_EQ(sqlite3_open(medialib_path_.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  const char *oid = nullptr;
  EXPECT_EQ(msdb_create_object(pool_, db_, "1", "5", nullptr, &oid), APR_EGENERAL);
  EXPECT_TRUE(log_.contains("Could not insert object"));
  EXPECT_EQ(msdb_medialib_rollback(db_), 0);
  ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  EXPECT_EQ(msdb_create_object(pool_, db_, "1", "5", nullptr, &oid), 0);
  EXPECT_EQ(msdb_medialib_commit(db_), 0);
}

// A scan's page cache follows what the library file grew since the scan
// began, between 2 and 16 MiB, and goes back to 2 MiB when it ends; other
// threads' connections keep 2 MiB.
TEST_F(DbTest, ScanPageCacheFollowsTheLibraryGrowthAndIsGivenBack) {
  struct Step {
    int before_mib, during_mib;  // the library grown by blobs of these sizes before and during the scan
    int least_kib, most_kib;     // the scan's cache (the library's own pages add a little)
  };
  const Step steps[] = {{0, 0, 2048, 2048}, {0, 24, 6144, 6400}, {24, 0, 2048, 2048}, {0, 80, 16384, 16384}};
  exec("create table pad (b blob)");
  for (const Step &step : steps) {
    SCOPED_TRACE(testing::Message() << step.before_mib << " " << step.during_mib);
    const auto grow = [this](int mib) {
      if (mib > 0) exec(("insert into pad values (zeroblob(" + std::to_string(mib << 20) + "))").c_str());
    };
    grow(step.before_mib);
    ASSERT_EQ(msdb_medialib_cache_reset(db_), 0);
    grow(step.during_mib);
    ASSERT_EQ(msdb_medialib_cache_grow(db_), 0);
    const int kib = -std::stoi(value("PRAGMA cache_size"));
    EXPECT_GE(kib, step.least_kib);
    EXPECT_LE(kib, step.most_kib);
    std::string other;
    std::thread reader([&] {
      thread_attach();
      DBThreadConnection *conn = msdb_thread_connection(db_);
      const char *row[1];
      DbCursor cursor;
      if (conn != nullptr && db_select_row(pool_, conn->medialib, "PRAGMA cache_size", 1, row, &cursor) == 0) {
        other = row[0];
      }
      thread_detach();
    });
    reader.join();
    EXPECT_EQ(other, "-2048");
    ASSERT_EQ(msdb_medialib_cache_reset(db_), 0);
    EXPECT_EQ(value("PRAGMA cache_size"), "-2048");
  }
}
