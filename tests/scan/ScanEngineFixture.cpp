#include "ScanEngineFixture.h"

#include "CommonScheduler.h"
#include "CommonThreadInit.h"
#include "CommonTimeout.h"
#include "MSMediaScan.h"
#include "MSMediaScanSkeleton.h"
#include "MSMediaScanViews.h"
#include "MSMediaScanViewsPath.h"

void ScanEngineTest::SetUp() {
  LibraryTest::SetUp();
  ASSERT_EQ(timeout_init(pool_, thread_attach, thread_detach), 0);
  ASSERT_EQ(scheduler_init(pool_), 0);
}

void ScanEngineTest::TearDown() {
  if (engine_started_) {
    EXPECT_EQ(msms_terminate(), 0);
  }
  EXPECT_EQ(scheduler_term(), 0);
  EXPECT_EQ(timeout_stop(), 0);
  LibraryTest::TearDown();
}

bool ScanEngineTest::start_engine() {
  engine_started_ = msms_init(pool_, db_, 0, 0) == 0;
  return engine_started_;
}

int ScanEngineTest::object_count() { return std::stoi(column("select count(*) from object").at(0)); }

std::string ScanEngineTest::slot(int kind, int slot_number) {
  StandardContainer container = msms_standard_container(msms_library(), kind, slot_number);
  return container.oid != nullptr ? container.oid : "";
}

std::string ScanEngineTest::below(const std::string &start, std::initializer_list<const char *> titles) {
  std::string current = start;
  for (const char *title : titles) {
    std::string next;
    for (const std::string &child : children(current)) {
      if (prop(child, PROP_DC_TITLE) == title && prop(child, PROP_ZENTORIA_IS_CONTAINER) == "1") next = child;
    }
    if (next.empty()) return "";
    current = next;
  }
  return current;
}

std::vector<std::string> ScanEngineTest::children(const std::string &container) {
  return column("select objectOid from edge where parentObjectOid=" + container + " order by ordinal");
}

std::vector<std::string> ScanEngineTest::child_titles(const std::string &container) {
  std::vector<std::string> titles;
  for (const std::string &child : children(container)) titles.push_back(prop(child, PROP_DC_TITLE));
  return titles;
}

std::string ScanEngineTest::prop(const std::string &oid, int slot_number) {
  const char *value = nullptr;
  if (msdb_get_prop(pool_, db_, oid.c_str(), slot_number, nullptr, 0, &value, nullptr) != 0 || value == nullptr) {
    return "";
  }
  return value;
}

std::string ScanEngineTest::index_item(const std::string &title, const char *cls, const PropPairs &props) {
  std::string oid;
  in_transaction([&] {
    oid = object(nullptr, title, cls, props);
    EXPECT_EQ(msms_index_object(pool_, msms_library(), oid.c_str(), cls, nullptr), 0);
  });
  return oid;
}
