// Range look-up of property values by prefix (see the header).
//
// Values are stored entity-escaped, and escaping works character by
// character, so the stored values that start with the escaped prefix are
// exactly the escapes of the values that start with the prefix. They lie
// between the escaped prefix and the escaped prefix with its last byte
// raised by one, a range the unique index on propValue.value answers.
#include "MSDBPrefixFind.h"

#include <apr_strings.h>
#include <sqlite3.h>

#include <cstring>

#include "CommonEscape.h"
#include "MSDBConnection.h"
#include "MSDBHelper.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

// The first text after every text that starts with prefix, or null when
// there is none (a prefix of nothing but 0xFF bytes, or empty).
const char *range_end(apr_pool_t *pool, const char *prefix) {
  char *end = apr_pstrdup(pool, prefix);
  for (std::size_t length = std::strlen(end); length > 0; --length) {
    auto *last = reinterpret_cast<unsigned char *>(end + length - 1);
    if (*last == 0xFF) continue;
    ++*last;
    end[length] = '\0';
    return end;
  }
  return nullptr;
}

}  // namespace

int msdb_find_objects_by_prefix(apr_pool_t *pool, MediaLibraryDB *db, const char *name, const char *prefix,
                                const char *source, int limit, apr_array_header_t **matches, bool *complete) {
  *matches = apr_array_make(pool, 0, sizeof(PrefixMatch));
  *complete = true;
  if (!db_oid_valid(source)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr || msdb_counters_write_named(conn, &name, 1) != APR_SUCCESS) return APR_EGENERAL;
  const char *escaped = xml_escape(pool, prefix);
  const char *end = range_end(pool, escaped);
  const char *upper = end != nullptr ? db_sql(pool, " and propValue.value<'%s'", db_quote(pool, end)) : "";
  // Whether the source holds the object is one look-up in the uniqueness
  // index of objms; listing all its sources cost twice that. A value's
  // newest object is the last entry of its own in prop_value_object, read
  // as the range is walked: grouping the joined rows by value put them all
  // in a table of their own first, a quarter more work.
  const char *sql = db_sql(pool,
                           "select propValue.value, object.oid, object.signature, exists (select 1 from objms where "
                           "objms.objectOid=object.oid and objms.sourceOid=%s) from propValue inner join object on "
                           "object.oid=(select max(prop.objectOid) from prop where prop.valueOid=propValue.oid and "
                           "prop.nameOid=(select oid from propName where name='%s')) where propValue.value>='%s'%s "
                           "order by propValue.value limit %d",
                           source, db_quote(pool, name), db_quote(pool, escaped), upper, limit + 1);
  // Stepped, not selected: a selection copies every row into a pool first,
  // a few thousand rows for a tree.
  auto column = [](sqlite3_stmt *row, int at) { return reinterpret_cast<const char *>(sqlite3_column_text(row, at)); };
  const int status = db_stream(conn->medialib, sql, [&](sqlite3_stmt *row) {
    if ((*matches)->nelts == limit) {
      *complete = false;
      return false;
    }
    *static_cast<PrefixMatch *>(apr_array_push(*matches)) = {
        db_unescape(pool, column(row, 0)), apr_pstrdup(pool, column(row, 1)), apr_pstrdup(pool, column(row, 2)),
        sqlite3_column_int(row, 3) == 1};
    return true;
  });
  if (status != APR_SUCCESS) return log4c_fail(MSDB_MODULE, "Could not look up objects by value prefix");
  return APR_SUCCESS;
}
