// A library with the scan engine started on it: timeouts and the scheduler
// run, msms_init has built the skeleton and the views of the example
// configuration. Helpers find containers by title paths and read children.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "LibraryFixture.h"
#include "MSMediaScanLibrary.h"

class ScanEngineTest : public LibraryTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the engine; false when msms_init failed.
  bool start_engine();
  // Number of rows in the object table.
  int object_count();
  // The oid of the standard container, or "".
  static std::string slot(int kind, int slot_number);
  // The container reached from start by child titles, or "" when missing.
  std::string below(const std::string &start, std::initializer_list<const char *> titles);
  // The oids of the children of container, in ordinal order.
  std::vector<std::string> children(const std::string &container);
  // The titles of the children of container, in ordinal order.
  std::vector<std::string> child_titles(const std::string &container);
  // The first value of a property of an object, or "".
  std::string prop(const std::string &oid, int slot_number);
  // Creates an item (no parent) with its properties and files it into the views.
  std::string index_item(const std::string &title, const char *cls, const PropPairs &props);

  bool engine_started_ = false;
};
