#include "DbFixture.h"

#include "CommonThreadInit.h"
#include "MSDBCheck.h"
#include "MSDBSchema.h"

void DbTest::SetUp() {
  ASSERT_EQ(thread_init_module(pool_), 0);
  medialib_path_ = dir_.file("medialib.db");
  admin_path_ = dir_.file("admin.db");
  ASSERT_EQ(msdb_schema_create(pool_, medialib_path_.c_str(), admin_path_.c_str()), 0);
  ASSERT_EQ(msdb_init(pool_, medialib_path_.c_str(), admin_path_.c_str(), &db_), 0);
}

void DbTest::TearDown() {
  if (db_ != nullptr) msdb_terminate(db_);
}

std::vector<std::string> DbTest::rows(const char *sql, bool admin) {
  DBThreadConnection *conn = msdb_thread_connection(db_);
  std::vector<std::string> out;
  if (conn == nullptr) return out;
  DbLink link = admin ? conn->admin : conn->medialib;
  const char *row[4];
  DbCursor cursor;
  if (db_select_row(pool_, link, sql, 4, row, &cursor) != 0 || row[0] == nullptr) return out;
  do {
    std::string line;
    for (int i = 0; i < 4 && row[i] != nullptr; ++i) line += (i ? "|" : "") + std::string(row[i]);
    out.push_back(line);
  } while (db_next_row(pool_, &cursor, 4, row));
  return out;
}

void DbTest::exec(const char *sql, bool admin) {
  DBThreadConnection *conn = msdb_thread_connection(db_);
  ASSERT_NE(conn, nullptr);
  ASSERT_EQ(db_exec(admin ? conn->admin : conn->medialib, sql, nullptr), 0) << sql;
}

std::string DbTest::value(const char *sql, bool admin) {
  std::vector<std::string> found = rows(sql, admin);
  return found.empty() ? "(none)" : found.front();
}

std::string DbTest::create(const char *parent, const char *source, const char *cls) {
  const char *oid = nullptr;
  EXPECT_EQ(msdb_create_object(pool_, db_, parent, source, nullptr, &oid), 0);
  if (oid != nullptr && cls != nullptr) {
    EXPECT_EQ(msdb_set_slot(pool_, db_, oid, PROP_UPNP_CLASS, cls), 0);
  }
  return oid == nullptr ? "" : oid;
}

std::vector<std::string> DbTest::violations() {
  apr_array_header_t *found = nullptr;
  EXPECT_EQ(msdb_check(pool_, db_, &found), 0);
  std::vector<std::string> out;
  for (int i = 0; found != nullptr && i < found->nelts; ++i) out.push_back(APR_ARRAY_IDX(found, i, const char *));
  return out;
}
