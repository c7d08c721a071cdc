// Integrity checks, each a select whose rows are violations.
//
// The closure check builds every route of the edge graph with a recursive
// select (depth-limited, so a cycle shows up as routes instead of looping)
// and compares it, as a multiset of (ancestor, descendant, path), with the
// ancestor table in both directions.
#include "MSDBCheck.h"

#include <apr_strings.h>

#include "MSDBConnection.h"
#include "log4c.h"

namespace {

struct Check {
  const char *sql;
  const char *format;  // printf format over the row's text columns
};

constexpr int kColumns = 4;

constexpr Check kChecks[] = {
    {"select object.oid, ifnull(v.value, 'none'), (select count(*) from edge where parentObjectOid=object.oid) as n "
     "from object left join (select prop.objectOid as obj, propValue.value as value from prop join propValue on "
     "prop.valueOid=propValue.oid where prop.parentOid is null and prop.nameOid=(select oid from propName where "
     "name='@childCount')) v on v.obj=object.oid where (v.value is null and n > 0) or (v.value is not null and "
     "v.value != cast(n as text))",
     "object %s: @childCount is %s but it has %s child edges"},
    {"with recursive r(anc, obj, path, depth) as (select parentObjectOid, objectOid, parentObjectOid||'/', 1 from "
     "edge union all select e.parentObjectOid, r.obj, e.parentObjectOid||'/'||r.path, r.depth+1 from edge e join r "
     "on e.objectOid=r.anc where r.depth < 256) select anc, obj, path, n from (select anc, obj, path, count(*) as n "
     "from r group by anc, obj, path except select ancestorObjectOid, objectOid, path, count(*) from ancestor group "
     "by ancestorObjectOid, objectOid, path)",
     "ancestor rows missing: %s above %s by path %s (%s routes)"},
    {"with recursive r(anc, obj, path, depth) as (select parentObjectOid, objectOid, parentObjectOid||'/', 1 from "
     "edge union all select e.parentObjectOid, r.obj, e.parentObjectOid||'/'||r.path, r.depth+1 from edge e join r "
     "on e.objectOid=r.anc where r.depth < 256) select a, o, p, n from (select ancestorObjectOid as a, objectOid as "
     "o, path as p, count(*) as n from ancestor group by ancestorObjectOid, objectOid, path except select anc, obj, "
     "path, count(*) from r group by anc, obj, path)",
     "ancestor rows not backed by edges: %s above %s by path %s (%s rows)"},
    {"select oid, parentObjectOid, objectOid from edge where parentObjectOid not in (select oid from object) or "
     "objectOid not in (select oid from object)",
     "edge %s (%s -> %s) points at a missing object"},
    {"select oid, objectOid from prop where objectOid not in (select oid from object)",
     "property row %s belongs to missing object %s"},
    {"select oid, nameOid, valueOid from prop where nameOid not in (select oid from propName) or valueOid not in "
     "(select oid from propValue)",
     "property row %s points at missing name %s or value %s"},
    {"select oid, parentOid from prop where parentOid is not null and parentOid not in (select oid from prop)",
     "attribute row %s belongs to missing property row %s"},
    {"select oid, objectOid, sourceOid from objms where objectOid not in (select oid from object)",
     "source association %s points at missing object %s (source %s)"},
    {"select c.objectOid, c.value, ifnull(f.value, 'none') from (select prop.objectOid, propValue.value from prop "
     "join propValue on prop.valueOid=propValue.oid where prop.nameOid=(select oid from propName where "
     "name='upnp:class')) c left join (select prop.objectOid, propValue.value from prop join propValue on "
     "prop.valueOid=propValue.oid where prop.nameOid=(select oid from propName where name='zentoria:isContainer')) "
     "f on f.objectOid=c.objectOid where (lower(substr(c.value, 1, 16))='object.container' and ifnull(f.value, "
     "'none') != '1') or (lower(substr(c.value, 1, 11))='object.item' and ifnull(f.value, 'none') != '0')",
     "object %s: class %s but zentoria:isContainer is %s"},
    {"select name, count(*) from propName group by name having count(*) > 1",
     "property name %s is interned %s times"},
    {"select value, count(*) from propValue group by value having count(*) > 1",
     "property value %s is interned %s times"},
};

int run_check(apr_pool_t *pool, DbLink link, const Check &check, apr_array_header_t *violations) {
  const char *row[kColumns];
  DbCursor cursor;
  if (db_select_row(pool, link, check.sql, kColumns, row, &cursor) != APR_SUCCESS) return APR_EGENERAL;
  if (row[0] == nullptr) return APR_SUCCESS;
  do {
    for (const char *&value : row) value = value == nullptr ? "null" : value;
    APR_ARRAY_PUSH(violations, const char *) = apr_psprintf(pool, check.format, row[0], row[1], row[2], row[3]);
  } while (db_next_row(pool, &cursor, kColumns, row));
  return APR_SUCCESS;
}

}  // namespace

int msdb_check(apr_pool_t *pool, MediaLibraryDB *db, apr_array_header_t **violations) {
  *violations = apr_array_make(pool, 16, sizeof(const char *));
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr || msdb_counters_write(conn) != APR_SUCCESS) return APR_EGENERAL;
  for (const Check &check : kChecks) {
    if (run_check(pool, conn->medialib, check, *violations) != APR_SUCCESS) return APR_EGENERAL;
  }
  return APR_SUCCESS;
}
