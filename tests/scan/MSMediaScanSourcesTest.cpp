// The one locked pass every road runs: what a source keeps when its work
// succeeds, fails or is cancelled.
#include <string>
#include <vector>

#include "MSDB.h"
#include "MSMediaScanLibrary.h"
#include "MSMediaScanSources.h"
#include "ShareFixture.h"
#include "log4c_pool.h"

namespace {

// A work that ends with status, having made one object of the source when
// asked to.
struct Work {
  int status;
  bool make;
  const char *oid = nullptr;
};

int run_work(SourcePass *pass) {
  auto *work = static_cast<Work *>(pass->work_context);
  if (work->make && msdb_create_object(pass->pool, pass->db, nullptr, pass->source_oid, "sig", &work->oid) != 0) {
    return 20014;
  }
  return work->status;
}

constexpr const char *kIndexCount = "select count(*) from sqlite_master where type='index'";

// A work that ends with status, having counted the library's indexes.
struct IndexCount {
  int status;
  int seen = -1;
};

int count_indexes(SourcePass *pass) {
  auto *work = static_cast<IndexCount *>(pass->work_context);
  db_stream(msdb_thread_connection(pass->db)->medialib, kIndexCount, [work](sqlite3_stmt *row) {
    work->seen = sqlite3_column_int(row, 0);
    return false;
  });
  return work->status;
}

class SourcePasses : public ShareTest {};

// A pass into a library without items runs without some of its indexes and
// makes them at its end, whether its work succeeds, fails or is cancelled; a
// first scan does so too; a pass into a library with items keeps them all.
TEST_F(SourcePasses, APassIntoALibraryWithoutItemsMakesSomeIndexesAtItsEnd) {
  const int indexes = count(kIndexCount);
  mp3("d/a.mp3", "A");
  const std::string source = share(media_ + "/d");
  struct Case {
    int work_status;
    bool scan_before;
    bool deferred;
  };
  const Case cases[] = {{20014, false, true}, {4, false, true}, {0, false, true}, {0, true, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.work_status);
    if (c.scan_before) {
      ASSERT_EQ(scan(source).status, 0);
    }
    EXPECT_EQ(count(kIndexCount), indexes);
    Pool pool(pool_, "test");
    IndexCount work{c.work_status};
    SourcePass pass{pool, msms_library_db(), nullptr, nullptr, nullptr, count_indexes, &work, source.c_str(), "files", 1,
                    0, false};
    EXPECT_EQ(msms_source_pass(&pass), c.work_status);
    EXPECT_EQ(work.seen < indexes, c.deferred);
    EXPECT_EQ(count(kIndexCount), indexes);
  }
}

TEST_F(SourcePasses, WorkDecidesWhatTheSweepTakesAndWhatTheRollbackUndoes) {
  struct Case {
    int work_status;
    bool make;        // the work makes an object
    int status;       // of the pass
    bool items_kept;  // the items of the scan before survive
  };
  const Case cases[] = {
      {0, false, 0, false},     // nothing seen again: the sweep takes the old items
      {20014, true, 20014, true},  // a failed work is rolled back, with what it made
      {4, true, 4, true},          // and so is a cancelled one
  };
  int n = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.work_status);
    const std::string folder = "c" + std::to_string(n++);
    mp3(folder + "/a.mp3", "A");
    const std::string source = share(media_ + "/" + folder);
    ASSERT_EQ(scan(source).status, 0);
    const int items = items_of(source);
    ASSERT_GT(items, 0);
    Pool pool(pool_, "test");
    Work work{c.work_status, c.make};
    SourcePass pass{pool, msms_library_db(), nullptr, nullptr, nullptr, run_work, &work, source.c_str(), "files", 1,
                    0, false};
    EXPECT_EQ(msms_source_pass(&pass), c.status);
    EXPECT_EQ(items_of(source), c.items_kept ? items : 0);
    EXPECT_EQ(pass.removed > 0, !c.items_kept && c.status == 0);
    if (c.make) {
      ASSERT_NE(work.oid, nullptr);
      EXPECT_EQ(count(std::string("select count(*) from object where oid=") + work.oid), 0);
    }
    EXPECT_EQ(scan(source).status, 0) << "the marks are gone and the library unlocked";
    EXPECT_EQ(mlcheck(), "");
  }
}

// A pass that fails at its n-th new object, either by a failed statement
// (ABORT) or with the whole transaction ended by SQLite itself (ROLLBACK, as
// on running out of memory or disk), leaves the library as of its last
// commit, consistent, and the next scan completes it.
TEST_F(SourcePasses, PassFailingMidwayLeavesTheLibraryConsistent) {
  struct Case {
    bool rescan;  // of changed files, after a first scan that succeeded
    const char *mode;
    int nth;
  };
  std::vector<Case> cases;
  for (bool rescan : {false, true}) {
    for (const char *mode : {"ROLLBACK", "ABORT"}) {
      // A rescan makes only the changed items anew.
      for (int nth : rescan ? std::vector<int>{1, 2, 4} : std::vector<int>{1, 3, 9, 27}) {
        cases.push_back({rescan, mode, nth});
      }
    }
  }
  const std::string files[] = {mp3("m/a/1.mp3", "One", "Ann", "First", 1), mp3("m/a/2.mp3", "Two", "Ann", "First", 2),
                               mp3("m/b/3.mp3", "Three", "Bob", "Second", 1), jpg("m/b/p.jpg")};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.rescan ? "rescan " : "first scan ") + c.mode + " at " + std::to_string(c.nth));
    reinstall();
    const std::string source = share(media_ + "/m");
    if (c.rescan) {
      ASSERT_EQ(scan(source).status, 0);
      for (const std::string &file : files) touch(file, 60);
    }
    const int first = count("select ifnull(max(oid), 0) from object") + c.nth;
    DbLink link = msdb_thread_connection(db_)->medialib;
    ASSERT_EQ(db_exec(link, ("create trigger fail_nth after insert on object when new.oid >= " + std::to_string(first) +
                             " begin select raise(" + c.mode + ", 'failed here'); end;").c_str(),
                      nullptr),
              0);
    EXPECT_NE(scan(source).status, 0);
    ASSERT_EQ(db_exec(link, "drop trigger fail_nth", nullptr), 0);
    EXPECT_EQ(mlcheck(), "");
    EXPECT_EQ(scan(source).status, 0);
    EXPECT_EQ(mlcheck(), "");
    EXPECT_EQ(items_of(source), 4);
  }
}

}  // namespace
