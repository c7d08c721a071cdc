#include "LibraryFixture.h"

#include <apr_file_info.h>
#include <sqlite3.h>

#include <regex>

#include "CommonThreadInit.h"
#include "DbColumn.h"
#include "MSConfig.h"
#include "MSDBConnection.h"
#include "MSDBSchema.h"

namespace {

std::vector<std::string> matches(const std::string &text, const std::regex &pattern) {
  std::vector<std::string> out;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern); it != std::sregex_iterator(); ++it) {
    out.push_back((*it)[1]);
  }
  return out;
}

}  // namespace

void LibraryTest::SetUp() {
  ASSERT_EQ(thread_init_module(pool_), 0);
  install_dir_ = dir_.path();
  write_file(dir_.file("config.xml"), read_file(std::string(ML_SOURCE_DIR) + "/etc/config.xml"));
  ASSERT_EQ(msconfig_load(pool_, install_dir_.c_str(), "library_tests"), 0);
  const MSConfig *config = nullptr;
  ASSERT_EQ(msconfig_get(&config), 0);
  const std::string medialib = config->content_db_path, admin = config->admin_db_path;
  msconfig_release();
  ASSERT_EQ(apr_dir_make_recursive(dir_.file("data/db").c_str(), APR_FPROT_OS_DEFAULT, pool_), 0);
  ASSERT_EQ(msdb_schema_create(pool_, medialib.c_str(), admin.c_str()), 0);
  ASSERT_EQ(msdb_init(pool_, medialib.c_str(), admin.c_str(), &db_), 0);
}

void LibraryTest::TearDown() {
  if (db_ != nullptr) msdb_terminate(db_);
  msconfig_unload();
}

std::string LibraryTest::object(const char *parent, const std::string &title, const char *cls,
                                const PropPairs &props) {
  const char *oid = nullptr;
  EXPECT_EQ(msdb_create_object(pool_, db_, parent, "2", nullptr, &oid), 0);
  if (oid == nullptr) return "";
  EXPECT_EQ(msdb_add_prop(pool_, db_, nullptr, oid, PROP_DC_TITLE, nullptr, title.c_str(), nullptr), 0);
  EXPECT_EQ(msdb_add_prop(pool_, db_, nullptr, oid, PROP_UPNP_CLASS, nullptr, cls, nullptr), 0);
  for (const auto &[name, value] : props) {
    EXPECT_EQ(msdb_add_prop(pool_, db_, nullptr, oid, 0, name, value.c_str(), nullptr), 0);
  }
  return oid;
}

std::vector<std::string> LibraryTest::column(const std::string &sql) { return db_column(pool_, db_, sql); }

void LibraryTest::exec_elsewhere(const std::string &sql) {
  sqlite3 *other = nullptr;
  ASSERT_EQ(sqlite3_open_v2(db_->medialib_path, &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  char *error = nullptr;
  EXPECT_EQ(sqlite3_exec(other, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "") << sql;
  sqlite3_free(error);
  sqlite3_close(other);
}

std::vector<std::string> LibraryTest::ids_of(const std::string &document) {
  return matches(document, std::regex("<(?:item|container) id=\"([^\"]*)\""));
}

std::vector<std::string> LibraryTest::titles_of(const std::string &document) {
  return matches(document, std::regex("<dc:title>([^<]*)</dc:title>"));
}
