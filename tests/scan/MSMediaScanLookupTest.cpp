// Which object holds a file's url: a file shared by two sources has one
// item per source, and each source's rescan finds its own item although the
// newest object of the url belongs to the other.
#include "MSMediaScanPrefetch.h"
#include "ShareFixture.h"

namespace {

class Lookup : public ShareTest {
 protected:
  void TearDown() override {
    ShareTest::TearDown();
    msms_prefetch_set_limit(4096);
  }

  void check_both_sources_keep_their_items() {
    const std::string track = mp3("Band/one.mp3", "One", "Band", "Album", 1);
    const std::string folder = share(media_ + "/Band");
    const std::string file = share(track);
    ASSERT_EQ(scan(folder).added, 1);
    ASSERT_EQ(scan(file).added, 1);
    for (const std::string &source : {folder, file, folder}) {
      const ScanCounts again = scan(source);
      EXPECT_EQ(again.status, 0);
      EXPECT_EQ(again.added, 0) << source;
      EXPECT_EQ(again.removed, 0) << source;
    }
    EXPECT_EQ(items_of(folder), 1);
    EXPECT_EQ(items_of(file), 1);
    EXPECT_EQ(count("select count(*) from objms where sourceOid in (" + folder + "," + file + ")"), 2);
    touch(track, 60);
    EXPECT_EQ(scan(file).added, 1);
    EXPECT_EQ(scan(folder).added, 1);
    EXPECT_EQ(items_of(folder), 1);
    EXPECT_EQ(items_of(file), 1);
    EXPECT_EQ(mlcheck(), "");
  }
};

TEST_F(Lookup, FileSharedByTwoSourcesKeepsOneItemPerSource) { check_both_sources_keep_their_items(); }

TEST_F(Lookup, FileSharedByTwoSourcesKeepsOneItemPerSourceWithoutTreeLookUps) {
  msms_prefetch_set_limit(0);
  check_both_sources_keep_their_items();
}

}  // namespace
