// The per-URI property store.
//
// A recursive read collects candidate parent URIs, asks for every row that
// applies (recursive rows of a candidate, any row of the URI itself) and
// keeps, per property name, the row of the nearest URI: for an object the
// ancestor with the shortest path, otherwise the longest URI.
#include "MSDBURIProps.h"

#include <apr_strings.h>

#include <climits>
#include <cstring>

#include "CommonPath.h"
#include "CommonPropNames.h"
#include "CommonText.h"
#include "log4c.h"

namespace {

constexpr const char *kModule = "MSDB";


bool in_vocabulary(const char *name) {
  for (const char *known : PropNameTable) {
    if (known != nullptr && name != nullptr && std::strcmp(known, name) == 0) return true;
  }
  return false;
}

const char *normalise(apr_pool_t *pool, const char *uri) {
  return url_is_remote(uri) ? uri : path_canonical(pool, uri);
}

int slashes(const char *text) {
  int count = 0;
  for (; *text != '\0'; ++text) count += *text == '/';
  return count;
}

// Ranks by which a row's URI competes: lower wins.
struct Ranking {
  apr_hash_t *ancestor_rank;  // escaped URI -> int*, null without an object
  const char *uri;            // the escaped URI itself
};

int rank_of(const Ranking &ranking, const char *uri) {
  if (std::strcmp(uri, ranking.uri) == 0) return INT_MIN;
  if (ranking.ancestor_rank == nullptr) return -static_cast<int>(std::strlen(uri));
  auto *rank = static_cast<int *>(apr_hash_get(ranking.ancestor_rank, uri, APR_HASH_KEY_STRING));
  return rank == nullptr ? INT_MAX : *rank;
}

// Length of the scheme part that prefixes never split.
std::size_t scheme_length(const char *uri) {
  constexpr const char *kMarks[] = {":///", "://", ":\\"};
  for (const char *mark : kMarks) {
    if (const char *at = std::strstr(uri, mark)) return static_cast<std::size_t>(at - uri) + std::strlen(mark);
  }
  return *uri == '/' || *uri == '\\' ? 1 : 0;
}

// The quoted, comma-joined prefixes of uri that end before a separator, and uri.
const char *prefix_candidates(apr_pool_t *pool, const char *uri) {
  const char *list = "";
  std::size_t length = std::strlen(uri);
  for (std::size_t i = scheme_length(uri); i <= length; ++i) {
    if (i < length && uri[i] != '/' && uri[i] != '\\') continue;
    const char *prefix = db_escape(pool, apr_pstrndup(pool, uri, i));
    list = apr_psprintf(pool, "%s%s'%s'", list, *list == '\0' ? "" : ",", prefix);
  }
  return list;
}

// The quoted "res" and "zentoria:fullPath" values of object's ancestors, and
// their ranks (the fewest "/" on a route from that ancestor) in *ranks.
int ancestor_candidates(apr_pool_t *pool, DbLink link, const char *object, apr_hash_t **ranks,
                        const char **list) {
  *ranks = apr_hash_make(pool);
  *list = "";
  apr_hash_t *depth = apr_hash_make(pool);
  const char *row[2];
  DbCursor cursor;
  if (db_select_row(pool, link, db_sql(pool, "select ancestorobjectoid,path from ancestor where objectoid = %s", object),
                    2, row, &cursor) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, log4c_sprintf("Could not get ancestors of oid %s", object));
  }
  const char *oid_list = "";
  for (bool more = row[0] != nullptr; more; more = db_next_row(pool, &cursor, 2, row) != 0) {
    auto *known = static_cast<int *>(apr_hash_get(depth, row[0], APR_HASH_KEY_STRING));
    int count = slashes(row[1]);
    if (known == nullptr) {
      known = static_cast<int *>(apr_palloc(pool, sizeof(int)));
      *known = count;
      apr_hash_set(depth, row[0], APR_HASH_KEY_STRING, known);
      oid_list = *oid_list == '\0' ? row[0] : apr_pstrcat(pool, oid_list, ",", row[0], nullptr);
    } else if (count < *known) {
      *known = count;
    }
  }
  if (*oid_list == '\0') return APR_SUCCESS;
  const char *sql = db_sql(pool,
                           "select propvalue.value, prop.objectoid from prop,propname,propvalue where prop.objectoid in "
                           "(%s) and propname.oid=prop.nameoid and propvalue.oid=prop.valueoid and ((propname.name = "
                           "'res') or (propname.name = 'zentoria:fullPath'))",
                           oid_list);
  if (db_select_row(pool, link, sql, 2, row, &cursor) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, log4c_sprintf("Could not get properties of oid list: %s", oid_list));
  }
  for (bool more = row[0] != nullptr; more; more = db_next_row(pool, &cursor, 2, row) != 0) {
    auto *rank = static_cast<int *>(apr_hash_get(depth, row[1], APR_HASH_KEY_STRING));
    if (rank == nullptr) return log4c_fail(MSDB_MODULE, log4c_sprintf("Could not find oid %s in hash", row[1]));
    apr_hash_set(*ranks, row[0], APR_HASH_KEY_STRING, rank);
    *list = apr_psprintf(pool, "%s%s'%s'", *list, **list == '\0' ? "" : ",", db_quote(pool, row[0]));
  }
  return APR_SUCCESS;
}

// Keeps, per propname, the value of the best-ranked row.
int collect(apr_pool_t *pool, DbLink link, const char *sql, const Ranking &ranking, apr_hash_t *map) {
  apr_hash_t *best = apr_hash_make(pool);
  const char *row[3];
  DbCursor cursor;
  if (db_select_row(pool, link, sql, 3, row, &cursor) != APR_SUCCESS) return APR_EGENERAL;
  for (bool more = row[0] != nullptr; more; more = db_next_row(pool, &cursor, 3, row) != 0) {
    int rank = rank_of(ranking, row[1]);
    auto *held = static_cast<int *>(apr_hash_get(best, row[2], APR_HASH_KEY_STRING));
    if (held != nullptr && *held <= rank) continue;
    held = static_cast<int *>(apr_palloc(pool, sizeof(int)));
    *held = rank;
    apr_hash_set(best, row[2], APR_HASH_KEY_STRING, held);
    apr_hash_set(map, row[2], APR_HASH_KEY_STRING, row[0]);
  }
  return APR_SUCCESS;
}

int rollback(MediaLibraryDB *db, const char *message) {
  LOG4C(kModule, LOG4C_ERROR, message);
  if (msdb_admin_rollback(db) != APR_SUCCESS) LOG4C(kModule, LOG4C_ERROR, "could not rollback transaction");
  return APR_EGENERAL;
}

}  // namespace

int msdb_uri_prop_set(apr_pool_t *pool, MediaLibraryDB *db, const char *uri, int recursive,
                      const char *propname, const char *value, const char *instance,
                      UriPropChangedFn callback) {
  if (!in_vocabulary(propname)) return log4c_fail(MSDB_MODULE, log4c_sprintf("try to set illegal property %s to URI %s", propname, uri));
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  uri = normalise(pool, uri);
  const char *quri = db_escape(pool, uri);
  const char *qname = db_quote(pool, propname);
  const char *qinstance = db_quote(pool, instance);
  if (msdb_admin_begin(db) != APR_SUCCESS) return log4c_fail(MSDB_MODULE, "could not start transaction");
  const char *reason = nullptr;
  const char *last = nullptr;
  if (value != nullptr) {
    const char *cleanup =
        instance == nullptr
            ? db_sql(pool, "delete from URIProps where propname='%s' and URI='%s'", qname, quri)
            : db_sql(pool, "delete from URIProps where propname='%s' and URI='%s' and (instanceid='%s' or instanceid='')",
                     qname, quri, qinstance);
    if (db_exec_reason(conn->admin, cleanup, nullptr, &reason) != APR_SUCCESS) {
      return rollback(db, log4c_sprintf("Could not cleanup property %s of URI %s, reason %s", propname, uri, reason));
    }
    last = db_sql(pool,
                  "insert into URIProps (is_recursive, propvalue, URI, propname, instanceid) values (%d, '%s', '%s', "
                  "'%s', '%s')",
                  recursive, db_quote(pool, value), quri, qname, qinstance);
  } else {
    last = db_sql(pool, "delete from URIProps where propname='%s' and URI='%s' and instanceid='%s'", qname, quri,
                  qinstance);
  }
  int rows = 0;
  if (db_exec_reason(conn->admin, last, &rows, &reason) != APR_SUCCESS) {
    return rollback(db,
                    log4c_sprintf("Could not update or insert property %s of URI %s, reason %s", propname, uri, reason));
  }
  if (msdb_admin_commit(db) != APR_SUCCESS) return rollback(db, "could not commit transaction");
  if (callback != nullptr && callback(uri, propname, value) != 0) {
    LOG4C(kModule, LOG4C_ERROR,
          log4c_sprintf("callback failed for %s, %s, %s - ignoring", uri, propname, value == nullptr ? "" : value));
  }
  return rows == 0 ? APR_NOTFOUND : APR_SUCCESS;
}

int msdb_uri_props_get(apr_pool_t *pool, MediaLibraryDB *db, const char *uri, const char *propname,
                       int recursive, const char *object, const char *instance, apr_hash_t **map) {
  *map = apr_hash_make(pool);
  if (object != nullptr && !db_oid_valid(object)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  const char *any = nullptr;
  if (db_select_value_prepared(pool, conn->admin, "select oid from uriprops limit 1", nullptr, &any) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not check uriprops table");
  }
  if (any == nullptr) return APR_SUCCESS;
  uri = normalise(pool, uri);
  Ranking ranking{nullptr, db_escape(pool, uri)};
  const char *name_filter = propname == nullptr ? "" : db_sql(pool, " and propname = '%s'", db_quote(pool, propname));
  const char *instance_filter = instance == nullptr
                                    ? " and instanceid = ''"
                                    : db_sql(pool, " and (instanceid = '%s' or instanceid = '')", db_quote(pool, instance));
  const char *sql = nullptr;
  if (!recursive) {
    sql = db_sql(pool, "select propvalue, URI, propname from URIProps where URI = '%s' %s %s", ranking.uri, name_filter,
                 instance_filter);
  } else {
    const char *candidates = nullptr;
    if (object == nullptr) {
      candidates = prefix_candidates(pool, uri);
    } else if (ancestor_candidates(pool, conn->medialib, object, &ranking.ancestor_rank, &candidates) != APR_SUCCESS) {
      return APR_EGENERAL;
    }
    sql = db_sql(pool,
                 "select propvalue, URI, propname from URIProps where ((URI in (%s) and is_recursive = 1) or (URI = "
                 "'%s')) %s %s",
                 candidates, ranking.uri, name_filter, instance_filter);
  }
  if (collect(pool, conn->admin, sql, ranking, *map) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, log4c_sprintf("Could not get property %s of URI %s", propname == nullptr ? "(all)" : propname, uri));
  }
  return APR_SUCCESS;
}

int msdb_uri_prop_get(apr_pool_t *pool, MediaLibraryDB *db, const char *uri, int recursive,
                      const char *object, const char *instance, const char *propname,
                      const char **value) {
  *value = nullptr;
  apr_hash_t *map = nullptr;
  if (msdb_uri_props_get(pool, db, uri, propname, recursive, object, instance, &map) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, log4c_sprintf("internal error, could not get map for %s", uri));
  }
  *value = static_cast<const char *>(apr_hash_get(map, propname, APR_HASH_KEY_STRING));
  return APR_SUCCESS;
}

int msdb_uri_prop_values(apr_pool_t *pool, MediaLibraryDB *db, const char *propname, apr_hash_t **values) {
  *values = apr_hash_make(pool);
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  const char *row[2];
  DbCursor cursor;
  const char *sql = db_sql(pool, "select URI, propvalue from URIProps where propname = '%s' and instanceid = ''",
                           db_quote(pool, propname));
  if (db_select_row(pool, conn->admin, sql, 2, row, &cursor) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, log4c_sprintf("Could not get property %s of every URI", propname));
  }
  // Of two rows of one URI the first counts, as for a single URI.
  for (bool more = row[0] != nullptr; more; more = db_next_row(pool, &cursor, 2, row) != 0) {
    if (apr_hash_get(*values, row[0], APR_HASH_KEY_STRING) == nullptr) {
      apr_hash_set(*values, row[0], APR_HASH_KEY_STRING, row[1]);
    }
  }
  return APR_SUCCESS;
}

const char *msdb_uri_prop_key(apr_pool_t *pool, const char *uri) { return db_escape(pool, normalise(pool, uri)); }

int cds_get_uris_by_props(MediaLibraryDB *db, apr_pool_t *pool, const char *const *names, int count,
                          apr_hash_t **map) {
  *map = nullptr;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  const char *list = "";
  for (int i = 0; i < count; ++i) {
    list = apr_psprintf(pool, "%s%s'%s'", list, i == 0 ? "" : ",", db_quote(pool, names[i]));
  }
  const char *row[2];
  DbCursor cursor;
  if (db_select_row(pool, conn->admin, db_sql(pool, "select oid, URI from uriprops where propname in (%s)", list), 2,
                    row, &cursor) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, log4c_sprintf("Could not run query for uriprops, props: (%s)", list));
  }
  if (row[0] == nullptr) {
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("cds_get_uris_by_props could not find any properties: (%s)", list));
    return APR_SUCCESS;
  }
  *map = apr_hash_make(pool);
  do {
    apr_hash_set(*map, row[0], APR_HASH_KEY_STRING, db_unescape(pool, row[1]));
  } while (db_next_row(pool, &cursor, 2, row));
  return APR_SUCCESS;
}

int msdb_uri_props_delete(apr_pool_t *pool, MediaLibraryDB *db, apr_hash_t *map) {
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  const char *keys = "";
  for (apr_hash_index_t *it = apr_hash_first(pool, map); it != nullptr; it = apr_hash_next(it)) {
    const void *key = nullptr;
    apr_hash_this(it, &key, nullptr, nullptr);
    auto *oid = static_cast<const char *>(key);
    if (!db_oid_valid(oid)) return APR_EGENERAL;
    keys = *keys == '\0' ? oid : apr_pstrcat(pool, keys, ",", oid, nullptr);
  }
  LOG4C(kModule, LOG4C_INFO, log4c_sprintf("deleting uriprops - oids %s", keys));
  if (db_exec(conn->admin, db_sql(pool, "delete from uriprops where oid in (%s)", keys), nullptr) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, log4c_sprintf("Could not delete from uriprops table - keys: (%s)", keys));
  }
  return APR_SUCCESS;
}
