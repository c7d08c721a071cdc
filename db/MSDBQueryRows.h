// MSDBQueryRows: shared by the query modules only. Reads result rows of
// (id text, property order, name, value) object by object into property
// lists. A reader belongs to one thread; lists and texts live in the pool
// passed to each call.
#pragma once

#include <apr_pools.h>

#include <string>
#include <vector>

#include "CommonProp.h"
#include "MSDBHelper.h"
#include "MSDBQuery.h"
#include "MSDBQueryMemory.h"

struct DbRowReader {
  DbCursor cursor;
  const char *row[4];
  bool have_row;
};

// Checks 1..100 request ids (id paths or "-1") and gives their object oids,
// also joined by ",". Returns 0 or 20014 (logged).
int db_query_oids(apr_pool_t *pool, const char *const *ids, int id_count, const char ***oids,
                  const char **joined);

// Whether each request id (already checked by db_query_oids) names an
// object reached by its route: a lone oid an existing object, a longer id
// path an edge from each segment to the next ("-1" always holds). Returns 0,
// or 20014 after "No object has the id \"%s\"" or a failed statement.
int db_query_routes_exist(apr_pool_t *pool, DbLink link, const char *const *ids, int id_count);

// The select of a container's children (columns edgeParentOid,
// edgeObjectOid, ordinal) for the containers oids (joined by ","), in the
// order its ordinal gives; in pool.
using DbChildrenOrder = const char *(*)(apr_pool_t *pool, const char *oids, void *value);

// The browse of cds_metadata_fetch_children2, with the children's select
// made by order (null: the containers' own order).
int db_query_children(apr_pool_t *pool, MediaLibraryDB *db, const char *const *ids, int id_count,
                      const char *filter, unsigned int offset, unsigned int count, DbChildrenOrder order,
                      void *order_value, DbObjectCallback callback, void *value, SerializeFormat format,
                      const DbSerializeOptions *options, int *returned, long *total, const char **document);

// The "order by" keys (each ending ", ") of sort criteria ("+dc:title,-upnp:album")
// over the objects of column object, "" for empty criteria, or null when
// they name a property that cannot be sorted by (MSDB_SORT_CAPABILITIES).
const char *db_sort_keys(apr_pool_t *pool, const char *criteria, const char *object);

// Oids below which a search keeps a bit per object or value (8 MiB at the
// most); a library with larger oids is searched by the grouped statement.
inline constexpr apr_int64_t DB_MOST_OID_BITS = apr_int64_t{1} << 26;

// The page of a subtree search in title order (MSDBQueryTitleWalk): of the
// objects selected (a bit per oid) those below the containers (oids joined
// by ",") that have a title, from offset, at most count (0: all), their oids
// joined by "," into *oids and their number into *matches; *walked false
// (nothing else set) in a library whose title rows the walk cannot find by
// their index. memory (may be null), synced by the caller, keeps the walks
// that do not depend on selected. Returns 0, or 20014 after "Could not
// execute SQL statement, reason: %s".
int db_search_title_walk(apr_pool_t *pool, DbLink link, QueryMemory *memory, const char *containers,
                         const std::vector<bool> &selected, unsigned int offset, unsigned int count, std::string *oids,
                         long *matches, bool *walked);

// Opens the rows of sql for reading. Returns 0, or 20014 after "Could not
// execute SQL statement".
int db_query_rows(apr_pool_t *pool, DbLink link, const char *sql, DbCursor *cursor);

// Reads the first row.
void db_rows_start(apr_pool_t *pool, DbRowReader *reader);

// The next object's rows (values unescaped in pool when unescape is set)
// made into its list, and its id text; false when the rows are exhausted.
bool db_rows_next_object(apr_pool_t *pool, DbRowReader *reader, int unescape, PropList **list,
                         const char **id_text);

// "@id", "@parentID", "@restricted" and, for a container, "@childCount" (0
// when absent), "@searchable" and "upnp:writeStatus".
void db_add_synthetic_props(apr_pool_t *pool, PropList *list, const char *id_path);
