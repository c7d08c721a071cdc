// A fresh installation for library tests: the example config.xml, both
// databases made from the schema under data/, the configuration loaded and
// the library handle open for the test's thread. Objects are built through
// the graph operations, each helper in its own medialib transaction.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "LogCapture.h"
#include "MSDB.h"

using PropPairs = std::vector<std::pair<const char *, std::string>>;

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs fn between begin and commit of a medialib transaction.
  template <typename Fn>
  void in_transaction(Fn fn) {
    ASSERT_EQ(msdb_medialib_begin(db_), 0);
    fn();
    ASSERT_EQ(msdb_medialib_commit(db_), 0);
  }
  // A container or an item titled title under parent (appended), with the
  // properties given; source 2 holds it.
  std::string object(const char *parent, const std::string &title, const char *cls, const PropPairs &props = {});
  // The first column of every row of sql on the medialib file.
  std::vector<std::string> column(const std::string &sql);
  // Runs sql on a connection of its own to the medialib file, as another
  // process would, and commits it.
  void exec_elsewhere(const std::string &sql);
  // The "id" attributes of the records of a DIDL-Lite document, in order.
  static std::vector<std::string> ids_of(const std::string &document);
  // The dc:title values of a DIDL-Lite document, in order.
  static std::vector<std::string> titles_of(const std::string &document);

  TestPool pool_;
  TempDir dir_;
  LogCapture log_;
  std::string install_dir_;
  MediaLibraryDB *db_ = nullptr;
};
