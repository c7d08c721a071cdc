// A fresh library (both databases made from the schema) in a temporary
// folder, opened through the library handle for the test's thread.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogCapture.h"
#include "MSDB.h"

class DbTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs a select on the medialib file and returns each row's columns joined by "|".
  std::vector<std::string> rows(const char *sql, bool admin = false);
  // Runs a statement that returns no rows; fails the test when it fails.
  void exec(const char *sql, bool admin = false);
  // The first column of the first row, or "(none)".
  std::string value(const char *sql, bool admin = false);
  // Creates an object under parent (null: a root) held by source.
  std::string create(const char *parent, const char *source = "5", const char *cls = nullptr);
  // Integrity violations of the library, one text each.
  std::vector<std::string> violations();

  TestPool pool_;
  TempDir dir_;
  LogCapture log_;
  std::string medialib_path_;
  std::string admin_path_;
  MediaLibraryDB *db_ = nullptr;
};
