// Search below containers: the hits go to the connection's temporary table
// searchObjectsT (private to the thread's connection), which is counted,
// paged and dropped again on every path.
#include <apr_strings.h>

#include "CommonNumbers.h"
#include "MSDBCounters.h"
#include "MSDBQuery.h"
#include "MSDBQueryRows.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "MSDB";

constexpr const char *kDirectHits =
    "create temp table searchObjectsT as select objectoid as searchObjectOid, parentObjectOid||'/' as "
    "searchParentPath, ordinal from edge where parentObjectOid in (%s) and objectOid in (%s) group by objectoid";
constexpr const char *kSubtreeHits =
    "create temp table searchObjectsT as select ancestor.objectoid as searchObjectOid, path as "
    "searchParentPath, lower(titlepropvalue.value) as ordinal from ancestor inner join prop as titleprop on "
    "searchObjectOid=titleprop.objectOid inner join propValue as titlepropvalue on "
    "titlepropvalue.oid=titleprop.valueoid where titleprop.nameoid=(select oid from propName where "
    "name='%s') and ancestorObjectOid in (%s) and ancestor.objectOid in (%s) group by ancestor.objectoid";
constexpr const char *kHitsCount = "select count(*) from searchObjectsT";
constexpr const char *kHitsRows =
    "select searchParentPath||searchObjectOid, ifnull(prop.parentOid, prop.oid) as propOrder, propName.name, "
    "propValue.value from (select searchObjectOid , searchParentPath, ordinal from searchObjectsT order by "
    "ordinal %s limit %u offset %u) inner join prop on prop.objectOid=searchObjectOid inner join propName on "
    "prop.nameOid=propName.oid inner join propValue on prop.valueOid=propValue.oid order by ordinal %s, "
    "prop.objectOid, propOrder;";

int count_hits(apr_pool_t *pool, DbLink link, long *total) {
  const char *text = nullptr;
  apr_int64_t count = 0;
  if (db_select_value(pool, link, kHitsCount, &text, nullptr) != APR_SUCCESS || !parse_int64(text, &count)) {
    LOG4C(kModule, LOG4C_ERROR, "Could not get the total matches for the search query");
    return APR_EGENERAL;
  }
  *total = static_cast<long>(count);
  return APR_SUCCESS;
}

// Counts and opens the page of hits; the table is dropped by the caller.
int page_hits(apr_pool_t *pool, DbLink link, unsigned int offset, unsigned int count, long *total,
              DbCursor *rows) {
  long matches = 0;
  if (total != nullptr || count == 0) {
    if (count_hits(pool, link, &matches) != APR_SUCCESS) return APR_EGENERAL;
    if (total != nullptr) *total = matches;
    if (count == 0) count = static_cast<unsigned int>(matches);
  }
  if (count == 0) return APR_SUCCESS;
  return db_query_rows(pool, link, apr_psprintf(pool, kHitsRows, "", count, offset, ""), rows);
}

}  // namespace

int msdb_search(apr_pool_t *pool, MediaLibraryDB *db, const char *const *ids, int id_count,
                const char *criteria, const char *filter, unsigned int offset, unsigned int count,
                int direct_children, DbObjectCallback callback, void *value, SerializeFormat format,
                const DbSerializeOptions *options, int *returned, long *total,
                const char **document) {
  *returned = 0;
  *document = nullptr;
  Pool scratch(pool, kModule);
  const char **oids = nullptr;
  const char *containers = nullptr;
  if (db_query_oids(scratch, ids, id_count, &oids, &containers) != APR_SUCCESS) return APR_EGENERAL;
  const char *select = msdb_search_criteria_to_sql(scratch, criteria, db_escape);
  if (select == nullptr) {
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("Invalid search criteria %s", criteria ? criteria : "(null)"));
    return APR_EGENERAL;
  }
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr || msdb_counters_write(conn) != APR_SUCCESS) return APR_EGENERAL;
  if (db_query_routes_exist(scratch, conn->medialib, ids, id_count) != APR_SUCCESS) return APR_EGENERAL;
  const char *hits = direct_children ? apr_psprintf(scratch, kDirectHits, containers, select)
                                     : apr_psprintf(scratch, kSubtreeHits, "dc:title", containers, select);
  if (db_exec(conn->medialib, hits, nullptr) != APR_SUCCESS) return APR_EGENERAL;
  DbCursor rows{conn->medialib, nullptr};
  if (page_hits(scratch, conn->medialib, offset, count, total, &rows) != APR_SUCCESS) {
    db_exec(conn->medialib, "drop table if exists searchObjectsT", nullptr);
    return APR_EGENERAL;
  }
  if (db_exec(conn->medialib, "drop table searchObjectsT", nullptr) != APR_SUCCESS) {
    db_exec(conn->medialib, "drop table if exists searchObjectsT", nullptr);
    return APR_EGENERAL;
  }
  DbSerializeOptions local{};
  if (options != nullptr) local = *options;
  local.minimal = 0;
  *document = serialize_db_result(&rows, pool, callback, value, filter, ids, id_count, format, &local, returned);
  return APR_SUCCESS;
}
