// Reads one column of a query on the calling thread's medialib connection,
// for tests that look at the rows a library operation left behind. Header
// only: testsupport does not link the database layer, its users do.
#pragma once

#include <string>
#include <vector>

#include "MSDB.h"

// The first column of every row of sql; empty when the query fails.
inline std::vector<std::string> db_column(apr_pool_t *pool, MediaLibraryDB *db, const std::string &sql) {
  DBThreadConnection *conn = msdb_thread_connection(db);
  std::vector<std::string> out;
  const char *value = nullptr;
  DbCursor cursor;
  if (conn == nullptr || db_select_value(pool, conn->medialib, sql.c_str(), &value, &cursor) != 0) return out;
  for (; value != nullptr; value = db_next_value(pool, &cursor)) out.push_back(value);
  return out;
}
