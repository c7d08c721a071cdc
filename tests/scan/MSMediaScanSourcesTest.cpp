// The one locked pass every road runs: what a source keeps when its work
// succeeds, fails or is cancelled.
#include <string>

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

class SourcePasses : public ShareTest {};

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

}  // namespace
