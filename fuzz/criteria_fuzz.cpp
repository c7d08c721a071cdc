// Search criteria from a client: the translation either refuses the text or
// gives a select that SQLite compiles, placed where a search places it.
#include <sqlite3.h>

#include "FuzzSupport.h"
#include "MSDBHelper.h"
#include "MSDBQuery.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kTables =
    "create table object (oid integer primary key);"
    "create table edge (parentObjectOid integer, objectOid integer, ordinal text);"
    "create table propName (oid integer primary key, name text unique);"
    "create table propValue (oid integer primary key, value text unique);"
    "create table prop (oid integer primary key, objectOid integer, nameOid integer, valueOid integer,"
    " parentOid integer);"
    "create table ancestor (objectOid integer, ancestorObjectOid integer, path text);";

sqlite3 *library() {
  static sqlite3 *db = [] {
    sqlite3 *opened = nullptr;
    sqlite3_open(":memory:", &opened);
    sqlite3_exec(opened, kTables, nullptr, nullptr, nullptr);
    return opened;
  }();
  return db;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Pool pool(fuzz_pool(), "fuzz");
  const std::string criteria = fuzz_text(data, size);
  const char *select = msdb_search_criteria_to_sql(pool, criteria.c_str(), db_escape);
  if (select == nullptr) return 0;
  const std::string sql = std::string("select ancestor.objectOid from ancestor where ancestor.objectOid in (") +
                          select + ") group by ancestor.objectOid";
  sqlite3_stmt *statement = nullptr;
  const int rc = sqlite3_prepare_v2(library(), sql.c_str(), -1, &statement, nullptr);
  fuzz_check(rc == SQLITE_OK, sqlite3_errmsg(library()), criteria);
  sqlite3_finalize(statement);
  return 0;
}
