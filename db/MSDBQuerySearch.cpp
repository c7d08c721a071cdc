// Search below containers. A direct-children search puts its hits in the
// connection's temporary table searchObjectsT (private to the thread's
// connection), which is counted, paged and dropped again on every path. A
// subtree search never materialises its hits: it reads the objects its
// criteria select once, into a bit per oid on the thread's heap; a page of
// many of them comes from the title walk (MSDBQueryTitleWalk, which the
// connection's query memory spares most of its walks), of fewer
// from one statement that sorts them by title and keeps only the page's
// objects (counting all of them on the way); a second statement reads the
// properties of the page's objects.
#include <apr_strings.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "CommonNumbers.h"
#include "MSDBConnection.h"
#include "MSDBQuery.h"
#include "MSDBQueryRows.h"
#include "MSDBSchema.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "MSDB";

constexpr const char *kDirectHits =
    "create temp table searchObjectsT as select objectoid as searchObjectOid, parentObjectOid||'/' as "
    "searchParentPath, ordinal from edge where parentObjectOid in (%s) and objectOid in (%s) group by objectoid";
constexpr const char *kHitsCount = "select count(*) from searchObjectsT";
constexpr const char *kHitsRows =
    "select searchParentPath||searchObjectOid, ifnull(prop.parentOid, prop.oid) as propOrder, propName.name, "
    "propValue.value from (select searchObjectOid , searchParentPath, ordinal from searchObjectsT order by "
    "ordinal %s limit %u offset %u) inner join prop on prop.objectOid=searchObjectOid inner join propName on "
    "prop.nameOid=propName.oid inner join propValue on prop.valueOid=propValue.oid order by ordinal %s, "
    "prop.objectOid, propOrder;";

// One row per object with a title, sorted by its lower-cased title. An
// object with several titles sorts by the one stored first in the library
// (the smallest value oid: with a single min(), SQLite takes the other
// columns from the row that holds the minimum). Filled with the title's
// property name and the condition on the objects. The title rows are read
// from index prop_name_object (which only a reader stating nameOid > 0
// takes), not from the table: a few hits' rows lie on as many pages of it.
constexpr const char *kTitled =
    "select titleprop.objectOid as searchObjectOid, min(titleprop.valueOid), lower(titlepropvalue.value) as "
    "ordinal from prop as titleprop inner join propValue as titlepropvalue on "
    "titlepropvalue.oid=titleprop.valueOid where titleprop.nameOid=(select oid from propName where name='%s') "
    "and titleprop.nameOid > 0 and titleprop.objectOid in (%s)%s group by titleprop.objectOid";
// The condition kTitled adds for a hit: somewhere below the containers, one
// seek into index ancestor_below per container.
constexpr const char *kBelow =
    " and exists (select 1 from ancestor where ancestor.objectOid=titleprop.objectOid and ancestorObjectOid in "
    "(%s))";
// The page of the hits in title order, equal titles in the order their
// objects were made, each with the number of all hits.
constexpr const char *kPage =
    "select searchObjectOid, count(*) over () from (%s) order by ordinal, searchObjectOid limit %ld offset %u";
constexpr const char *kCount = "select count(*) from (%s)";
// The rows of the page's objects. An object below the containers by several
// routes reports the route it was first filed under (its oldest ancestor
// row below them). One no longer below them (another process's commit
// between the statements took its last route) is left out: it has no id.
constexpr const char *kPageRows =
    "select searchParentPath||searchObjectOid, ifnull(prop.parentOid, prop.oid) as propOrder, propName.name, "
    "propValue.value from (select searchObjectOid, ordinal, (select path from ancestor where "
    "ancestor.objectOid=searchObjectOid and +ancestorObjectOid in (%s) order by ancestor.oid limit 1) as "
    "searchParentPath from (%s)) inner join prop on prop.objectOid=searchObjectOid inner join propName on "
    "prop.nameOid=propName.oid inner join propValue on prop.valueOid=propValue.oid where searchParentPath is not "
    "null order by ordinal, prop.objectOid, propOrder;";
constexpr const char *kTitle = "dc:title";
// kTitled's rows ranked by sort keys first, their title order after.
constexpr const char *kRanked =
    "select searchObjectOid, row_number() over (order by %sordinal, searchObjectOid) as ordinal from (%s)";
constexpr const char *kHit = "searchObjectOid";
// The title walk steps about eight index rows per object of the library
// (routes, titles, values), the grouped statement seeks about as long for
// each hit: the walk takes the criteria that select more than an eighth of
// the objects (measured: on 6,800 objects equal at 530 hits, 4 ms faster at
// 1,500; on 130,000 objects 66 against 325 ms of CPU at 100,000).
constexpr apr_int64_t kObjectsPerWalkedHit = 8;
constexpr const char *kLastObject = "select max(oid) from object";
// The objects a criteria select gives, handed over inside SQLite.
constexpr const char *kVisitHits = "select count(*) from (%s) where db_visit(searchObjectOid)";

// The hits of a kTitled select in the order keys ask for ("" keeps it).
const char *ranked(apr_pool_t *pool, const char *keys, const char *titled) {
  return *keys == '\0' ? titled : apr_psprintf(pool, kRanked, keys, titled);
}

int count_hits(apr_pool_t *pool, DbLink link, const char *sql, long *total) {
  const char *text = nullptr;
  apr_int64_t count = 0;
  if (db_select_value(pool, link, sql, &text, nullptr) != APR_SUCCESS || !parse_int64(text, &count)) {
    LOG4C(kModule, LOG4C_ERROR, "Could not get the total matches for the search query");
    return APR_EGENERAL;
  }
  *total = static_cast<long>(count);
  return APR_SUCCESS;
}

// Counts and opens the page of the direct-children hits; the table is
// dropped by the caller.
int page_direct_hits(apr_pool_t *pool, DbLink link, unsigned int offset, unsigned int count, long *total,
                     DbCursor *rows) {
  long matches = 0;
  if (total != nullptr || count == 0) {
    if (count_hits(pool, link, kHitsCount, &matches) != APR_SUCCESS) return APR_EGENERAL;
    if (total != nullptr) *total = matches;
    if (count == 0) count = static_cast<unsigned int>(matches);
  }
  if (count == 0) return APR_SUCCESS;
  return db_query_rows(pool, link, apr_psprintf(pool, kHitsRows, "", count, offset, ""), rows);
}

int search_direct_children(apr_pool_t *pool, DbLink link, const char *containers, const char *select,
                           unsigned int offset, unsigned int count, long *total, DbCursor *rows) {
  if (db_exec(link, apr_psprintf(pool, kDirectHits, containers, select), nullptr) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  if (page_direct_hits(pool, link, offset, count, total, rows) != APR_SUCCESS) {
    db_exec(link, "drop table if exists searchObjectsT", nullptr);
    return APR_EGENERAL;
  }
  if (db_exec(link, "drop table searchObjectsT", nullptr) != APR_SUCCESS) {
    db_exec(link, "drop table if exists searchObjectsT", nullptr);
    return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

// The page's objects (count 0: all from offset on), joined by ",", and the
// number of all hits, which comes with every row of the page (*counted).
int subtree_page(apr_pool_t *pool, DbLink link, const char *hits, unsigned int offset, unsigned int count,
                 std::string *oids, long *matches, bool *counted) {
  const long limit = count == 0 ? -1 : static_cast<long>(count);
  const char *row[2];
  DbCursor cursor;
  if (db_select_row(pool, link, apr_psprintf(pool, kPage, hits, limit, offset), 2, row, &cursor) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  for (bool more = row[0] != nullptr; more; more = db_next_row(pool, &cursor, 2, row) != 0) {
    apr_int64_t all = 0;
    if (!parse_int64(row[1], &all)) {
      LOG4C(kModule, LOG4C_ERROR, "Could not get the total matches for the search query");
      return APR_EGENERAL;
    }
    *matches = static_cast<long>(all);
    *counted = true;
    if (!oids->empty()) *oids += ',';
    *oids += row[0];
  }
  return APR_SUCCESS;
}

// The objects the criteria select, a bit each in selected (sized to the
// library's last object, *last), and their number; *kept false when they
// cannot be kept so: oids too large, or one beyond the last object (a row
// of an object that is not there).
int selected_objects(apr_pool_t *pool, DbLink link, const char *select, std::vector<bool> *selected, size_t *count,
                     apr_int64_t *last, bool *kept) {
  const char *text = nullptr;
  if (db_select_value(pool, link, kLastObject, &text, nullptr) != APR_SUCCESS) return APR_EGENERAL;
  if (text == nullptr || !parse_int64(text, last) || *last < 0) *last = 0;
  *kept = *last < DB_MOST_OID_BITS;
  if (!*kept) return APR_SUCCESS;
  selected->assign(static_cast<size_t>(*last) + 1, false);
  return db_visit_rows(link, apr_psprintf(pool, kVisitHits, select), [&](sqlite3_int64 oid, sqlite3_int64) {
    if (oid < 0 || static_cast<size_t>(oid) >= selected->size()) return *kept = false;
    if (!(*selected)[static_cast<size_t>(oid)]) ++*count;
    (*selected)[static_cast<size_t>(oid)] = true;
    return true;
  });
}

const char *joined_oids(apr_pool_t *pool, const std::vector<bool> &selected) {
  std::string joined;
  for (size_t oid = 0; oid < selected.size(); ++oid) {
    if (!selected[oid]) continue;
    if (!joined.empty()) joined += ',';
    joined += std::to_string(oid);
  }
  return apr_pstrdup(pool, joined.c_str());
}

// The page's objects and, when *counted, the number of all hits. Criteria
// selecting many objects take the title walk; fewer are ranked by the
// grouped statement over their oids, read once; a page ordered by sort keys,
// or objects that cannot be kept as bits, are ranked over the criteria's
// select.
int subtree_hits(apr_pool_t *pool, DbLink link, QueryMemory *memory, const char *containers, const char *select,
                 const char *keys, unsigned int offset, unsigned int count, std::string *oids, long *matches, bool *counted,
                 const char **hits) {
  std::vector<bool> selected;
  size_t selected_count = 0;
  apr_int64_t last = 0;
  bool kept = false;
  if (*keys == '\0' &&
      selected_objects(pool, link, select, &selected, &selected_count, &last, &kept) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  if (kept) {
    *counted = selected_count == 0;
    if (*counted) return APR_SUCCESS;
    if (static_cast<apr_int64_t>(selected_count) * kObjectsPerWalkedHit > last &&
        db_search_title_walk(pool, link, memory, containers, selected, offset, count, oids, matches, counted) !=
            APR_SUCCESS) {
      return APR_EGENERAL;
    }
    if (*counted) return APR_SUCCESS;
    select = joined_oids(pool, selected);
  }
  *hits = ranked(pool, keys, apr_psprintf(pool, kTitled, kTitle, select, apr_psprintf(pool, kBelow, containers)));
  return subtree_page(pool, link, *hits, offset, count, oids, matches, counted);
}

int search_subtree(apr_pool_t *pool, DbLink link, QueryMemory *memory, const char *containers, const char *select,
                   const char *keys, unsigned int offset, unsigned int count, long *total, DbCursor *rows) {
  std::string oids;
  long matches = 0;
  bool counted = false;
  const char *hits = nullptr;
  if (subtree_hits(pool, link, memory, containers, select, keys, offset, count, &oids, &matches, &counted, &hits) !=
      APR_SUCCESS) {
    return APR_EGENERAL;
  }
  if (total != nullptr && !counted) {
    // No row brought the number of hits: the page lies beyond them.
    return count_hits(pool, link, apr_psprintf(pool, kCount, hits), total);
  }
  if (total != nullptr) *total = matches;
  if (oids.empty()) return APR_SUCCESS;
  const char *page = ranked(pool, keys, apr_psprintf(pool, kTitled, kTitle, oids.c_str(), ""));
  return db_query_rows(pool, link, apr_psprintf(pool, kPageRows, containers, page), rows);
}

int search(apr_pool_t *pool, MediaLibraryDB *db, const char *const *ids, int id_count, const char *criteria,
           const char *keys, const char *filter, unsigned int offset, unsigned int count, int direct_children,
           DbObjectCallback callback, void *value, SerializeFormat format, const DbSerializeOptions *options,
           int *returned, long *total, const char **document) {
  *returned = 0;
  *document = nullptr;
  Pool scratch(pool, kModule);
  const char **oids = nullptr;
  const char *containers = nullptr;
  if (db_query_oids(scratch, ids, id_count, &oids, &containers) != APR_SUCCESS) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr || msdb_counters_write(conn) != APR_SUCCESS ||
      query_memory_sync(conn->queries, conn->medialib) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  bool indexed = false;
  if (msdb_schema_has_table(conn->medialib, MSDB_UNINDEXED, &indexed) != APR_SUCCESS) return APR_EGENERAL;
  const char *select = msdb_search_criteria_to_sql(scratch, criteria, db_escape, indexed);
  if (select == nullptr) {
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("Invalid search criteria %s", criteria ? criteria : "(null)"));
    return APR_EGENERAL;
  }
  if (db_query_routes_exist(scratch, conn->medialib, ids, id_count) != APR_SUCCESS) return APR_EGENERAL;
  DbCursor rows{conn->medialib, nullptr};
  const int status = direct_children
                         ? search_direct_children(scratch, conn->medialib, containers, select, offset, count, total,
                                                  &rows)
                         : search_subtree(scratch, conn->medialib, conn->queries, containers, select, keys, offset,
                                          count, total, &rows);
  if (status != APR_SUCCESS) return APR_EGENERAL;
  DbSerializeOptions local{};
  if (options != nullptr) local = *options;
  local.minimal = 0;
  *document = serialize_db_result(&rows, pool, callback, value, filter, ids, id_count, format, &local, returned);
  return APR_SUCCESS;
}

}  // namespace

int msdb_search(apr_pool_t *pool, MediaLibraryDB *db, const char *const *ids, int id_count,
                const char *criteria, const char *filter, unsigned int offset, unsigned int count,
                int direct_children, DbObjectCallback callback, void *value, SerializeFormat format,
                const DbSerializeOptions *options, int *returned, long *total,
                const char **document) {
  return search(pool, db, ids, id_count, criteria, "", filter, offset, count, direct_children, callback, value,
                format, options, returned, total, document);
}

int msdb_search_sorted(apr_pool_t *pool, MediaLibraryDB *db, const char *const *ids, int id_count,
                       const char *criteria, const char *sort_criteria, const char *filter, unsigned int offset,
                       unsigned int count, DbObjectCallback callback, void *value, SerializeFormat format,
                       const DbSerializeOptions *options, int *returned, long *total, const char **document) {
  const char *keys = sort_criteria != nullptr ? db_sort_keys(pool, sort_criteria, kHit) : nullptr;
  if (keys == nullptr) {
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("Unsupported sort criteria %s", sort_criteria));
    return APR_EGENERAL;
  }
  return search(pool, db, ids, id_count, criteria, keys, filter, offset, count, 0, callback, value, format, options,
                returned, total, document);
}
