// Objects, edges and the ancestor closure.
//
// An edge parent -> child adds one ancestor row for every pair (A, D) where A
// is the parent or one of its ancestors and D the child or one of its
// descendants, so every route through the new edge is recorded once.
#include "MSDBGraph.h"

#include <apr_strings.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "CommonEscape.h"
#include "CommonNumbers.h"
#include "CommonSortKey.h"
#include "CommonUserMessage.h"
#include "MSDBConnection.h"
#include "MSDBEdgeBatch.h"
#include "MSDBObjectMemory.h"
#include "MSDBObjectSources.h"
#include "MSDBProps.h"
#include "log4c.h"

namespace {

constexpr const char *kModule = "MSDB";

void log_error(const char *message) { LOG4C(kModule, LOG4C_ERROR, message); }

// The largest ordinal of parent's children plus one, as ten digits.
int next_ordinal(apr_pool_t *pool, DbLink link, const char *parent, const char **ordinal) {
  const char *max = nullptr;
  const char *args[] = {parent};
  if (db_select_value_prepared(pool, link, "select max(ordinal) as ordinal from edge where parentObjectOid=%lld", args,
                               &max) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not get max ordinal");
  }
  apr_int64_t last = 0;
  if (max != nullptr && !parse_int64(max, &last)) {
    log_error(INTERNAL_ERROR_TEXT);
    last = 0;
  }
  *ordinal = apr_psprintf(pool, "%010" APR_INT64_T_FMT, last + 1);
  return APR_SUCCESS;
}

// The parent's own row and the child's are made from the bound oids cast to
// integers: the same values, of the same type, as the oids written out.
constexpr const char *kAncestorInsert =
    "insert into ancestor (oid, ancestorObjectOid, objectOid, path) select null, anc, obj, "
    "ancpath||%s||objpath from (select ancestorObjectOid as anc, path as ancpath from ancestor "
    "where objectOid=%s union select cast(%s as integer) as anc, '' as ancpath) inner join (select objectOid as obj, "
    "path as objpath from ancestor where ancestorObjectOid=%s union select cast(%s as integer) as obj, '' as "
    "objpath);";
constexpr const char *kAncestorFailure = "Could not add ancestor for the given edge, reason: %s";

bool same_row(const AncestorRow &a, const AncestorRow &b) { return a.ancestor == b.ancestor && a.path == b.path; }

// The ancestor rows of object, read from the library once and then
// remembered. Null when the read failed.
const std::vector<AncestorRow> *known_ancestors(apr_pool_t *pool, DbLink link, ObjectMemory *memory,
                                                const char *object) {
  if (const std::vector<AncestorRow> *known = object_memory_ancestors(memory, object)) return known;
  std::vector<AncestorRow> rows;
  const char *row[2] = {nullptr, nullptr};
  DbCursor cursor;
  const char *select = db_sql(pool, "select ancestorObjectOid, path from ancestor where objectOid=%s", object);
  if (db_select_row(pool, link, select, 2, row, &cursor) != APR_SUCCESS) return nullptr;
  while (row[0] != nullptr) {
    rows.push_back({apr_atoi64(row[0]), row[1] != nullptr ? row[1] : ""});
    if (!db_next_row(pool, &cursor, 2, row)) row[0] = nullptr;
  }
  object_memory_set_ancestors(memory, object, std::move(rows));
  return object_memory_ancestors(memory, object);
}

// Writes rows for child, in their order.
int insert_ancestor_rows(apr_pool_t *pool, DbLink link, const std::vector<AncestorRow> &rows, const char *child) {
  auto **args = static_cast<const char **>(apr_palloc(pool, sizeof(char *) * rows.size() * 3));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    args[3 * i] = str_from_int64(pool, rows[i].ancestor);
    args[3 * i + 1] = child;
    args[3 * i + 2] = rows[i].path.c_str();
  }
  apr_int64_t last = 0;
  const char *reason = nullptr;
  if (db_insert_rows(pool, link, "insert into ancestor (ancestorObjectOid, objectOid, path) values ",
                     "(%lld, %lld, %s)", args, static_cast<int>(rows.size()), &last, &reason) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, log4c_sprintf(kAncestorFailure, reason));
  }
  return APR_SUCCESS;
}

// A leaf child (fresh, without children) gets one row per ancestor row of
// the parent and one for the parent, in the order the closure statement
// makes them, without reading the parent's rows again for each child. The
// caller writes them and then hands them to the memory (leaf_filed).
int leaf_rows(apr_pool_t *pool, DbLink link, ObjectMemory *memory, const char *parent,
              std::vector<AncestorRow> *rows) {
  const std::vector<AncestorRow> *above = known_ancestors(pool, link, memory, parent);
  if (above == nullptr) return log4c_fail(MSDB_MODULE, log4c_sprintf(kAncestorFailure, "the parent's rows could not be read"));
  const std::string through = std::string(parent) + "/";
  rows->reserve(above->size() + 1);
  for (const AncestorRow &row : *above) rows->push_back({row.ancestor, row.path + through});
  rows->push_back({apr_atoi64(parent), through});
  std::sort(rows->begin(), rows->end(), ancestor_row_before);
  rows->erase(std::unique(rows->begin(), rows->end(), same_row), rows->end());
  return APR_SUCCESS;
}

int add_leaf_ancestors(apr_pool_t *pool, DbLink link, ObjectMemory *memory, const char *parent, const char *child) {
  std::vector<AncestorRow> rows;
  if (leaf_rows(pool, link, memory, parent, &rows) != APR_SUCCESS ||
      insert_ancestor_rows(pool, link, rows, child) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  object_memory_leaf_filed(memory, child, std::move(rows));
  return APR_SUCCESS;
}

int add_ancestors(apr_pool_t *pool, DbLink link, ObjectMemory *memory, const char *parent, const char *child) {
  if (memory != nullptr && object_memory_leaf(memory, child)) return add_leaf_ancestors(pool, link, memory, parent, child);
  // The child's descendants gain rows too: no remembered list can be trusted.
  if (memory != nullptr) object_memory_forget_ancestors(memory);
  const char *args[] = {apr_pstrcat(pool, parent, "/", nullptr), parent, parent, child, child};
  int rows = 0;
  const char *reason = nullptr;
  if (db_exec_prepared(pool, link, kAncestorInsert, args, &rows, &reason) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, log4c_sprintf(kAncestorFailure, reason));
  }
  if (rows < 1) return log4c_fail(MSDB_MODULE, log4c_sprintf(kAncestorFailure, "no row was added"));
  return APR_SUCCESS;
}

int write_held(apr_pool_t *pool, DBThreadConnection *conn) {
  return edge_batch_write(pool, conn->edges, conn->medialib, msdb_object_memory(conn));
}

// The held edges written before a statement that reads edges or ancestors.
DBThreadConnection *settled_connection(apr_pool_t *pool, MediaLibraryDB *db) {
  DBThreadConnection *conn = msdb_connection_or_log(db);
  return conn != nullptr && write_held(pool, conn) == APR_SUCCESS ? conn : nullptr;
}

int count_child(apr_pool_t *pool, MediaLibraryDB *db, const char *parent) {
  const char *parents[] = {parent};
  if (msdb_increment_prop(pool, db, parents, 1, PROP_CHILD_COUNT, nullptr, 1) == APR_SUCCESS) {
    return APR_SUCCESS;
  }
  if (msdb_add_prop(pool, db, nullptr, parent, PROP_CHILD_COUNT, nullptr, "1", nullptr) == APR_SUCCESS) {
    return APR_SUCCESS;
  }
  return log4c_fail(MSDB_MODULE, "Could not insert or increment the child count of the parent");
}

// ordinal is the text stored (already escaped), or null for an appended
// ordinal.
int add_edge(apr_pool_t *pool, MediaLibraryDB *db, const char *parent, const char *child, int check,
             const char *ordinal, const char **edge_oid) {
  if (edge_oid != nullptr) *edge_oid = nullptr;
  if (!db_oid_valid(parent) || !db_oid_valid(child)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  DbLink link = conn->medialib;
  ObjectMemory *memory = msdb_object_memory(conn);
  const bool held = ordinal != nullptr && edge_oid == nullptr && edge_batch_takes(conn->edges, memory, child);
  if (!held && write_held(pool, conn) != APR_SUCCESS) return APR_EGENERAL;
  const char *found = nullptr;
  if (check) {
    if (edge_batch_holds(conn->edges, parent, child)) return APR_EEXIST;
    if (memory != nullptr && object_memory_find_edge(memory, parent, child, &found)) {
      if (found != nullptr) found = apr_pstrdup(pool, found);
    } else if (const char *args[] = {parent, child};
               db_select_value_prepared(pool, link,
                                        "select oid from edge where parentObjectOid=%lld and objectOid=%lld", args,
                                        &found) != APR_SUCCESS) {
      return log4c_fail(MSDB_MODULE, "Could not check if edge already exists");
    }
    if (found != nullptr) {
      if (edge_oid != nullptr) *edge_oid = found;
      return APR_EEXIST;
    }
  }
  if (held) {
    std::vector<AncestorRow> rows;
    if (leaf_rows(pool, link, memory, parent, &rows) != APR_SUCCESS) return APR_EGENERAL;
    edge_batch_queue(conn->edges, parent, child, ordinal, rows);
    object_memory_leaf_filed(memory, child, std::move(rows));
    return count_child(pool, db, parent);
  }
  if (ordinal == nullptr && next_ordinal(pool, link, parent, &ordinal) != APR_SUCCESS) return APR_EGENERAL;
  const char *args[] = {parent, child, ordinal};
  if (db_insert_prepared(pool, link,
                         "insert into edge (oid, parentObjectOid, objectOid, ordinal) values(null, %lld, %lld, %s);", args,
                         &found) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not insert edge");
  }
  if (memory != nullptr) object_memory_edge_added(memory, parent, child, found);
  if (add_ancestors(pool, link, memory, parent, child) != APR_SUCCESS) return APR_EGENERAL;
  if (count_child(pool, db, parent) != APR_SUCCESS) return APR_EGENERAL;
  if (edge_oid != nullptr) *edge_oid = found;
  return APR_SUCCESS;
}

// The key from the child's first value of each name (raw, escaped text). A
// property the child lacks counts as empty text: a photo filed where tracks
// are sorted by number has none, which is no fault. Only a failed read makes
// the whole key empty.
const char *sort_ordinal(apr_pool_t *pool, MediaLibraryDB *db, const char *child,
                         const char *const *names, int count, int ascending,
                         SortValueTransform transform) {
  const char *joined = nullptr;
  for (int i = 0; i < count; ++i) {
    const char *value = nullptr;
    if (msdb_get_prop(pool, db, child, 0, names[i], 1, &value, nullptr) != APR_SUCCESS) {
      log_error(log4c_sprintf("Can't get value for property, oid: %s", child));
      return "";
    }
    if (value == nullptr) value = "";
    if (transform != nullptr) value = transform(pool, value);
    joined = joined == nullptr ? value : apr_pstrcat(pool, joined, " ", value, nullptr);
  }
  return sort_key(pool, joined, ascending);
}

// The FROM and WHERE parts that match every (names[i], values[i]) pair on
// aliases p0..p(count-1) of prop, all on one object. The tables are joined
// with "cross join", which keeps SQLite to their written order: the first
// pair (a title, a path, a url) names few rows, while the later ones and the
// scope (a flag every container has, a parent's thousands of children) name
// many, and the planner, with no statistics, may start from those. Values
// and oids are placeholders, their texts pushed on args in the order they
// appear, so that a look-up compiles once per link, not once per value.
void criteria_clauses(apr_pool_t *pool, int count, const char *const *names, const char *const *values,
                      int like, const char **from, const char **where, apr_array_header_t *args) {
  for (int i = 0; i < count; ++i) {
    bool last = i == count - 1;
    *from = apr_psprintf(pool, "%s prop p%d %s", *from, i, last ? "" : "cross join");
    const char *joiner = last ? "" : apr_psprintf(pool, "and p%d.objectoid=p%d.objectoid and", i, i + 1);
    *where = apr_psprintf(pool,
                          "%s p%d.valueOid in (select oid from propValue where value %s %%s) and "
                          "p%d.nameOid=(select oid from propName where name='%s') %s",
                          *where, i, like ? "like" : "=", i, db_quote(pool, names[i]), joiner);
    APR_ARRAY_PUSH(args, const char *) = values[i] == nullptr ? "" : xml_escape(pool, values[i]);
  }
}

// Limits a search to scope's children (root objects without a scope) or,
// unless children_only, to scope's subtree (everything without a scope).
void scope_clauses(apr_pool_t *pool, const char *scope, int children_only, const char **from, const char **where,
                   apr_array_header_t *args) {
  if (children_only && scope == nullptr) {
    *where = apr_psprintf(pool, "%s and p0.objectOid not in (select objectOid from edge)", *where);
    return;
  }
  if (children_only) {
    *from = apr_psprintf(pool, "%s cross join edge", *from);
    *where = apr_psprintf(pool, "%s and edge.objectOid=p0.objectOid and edge.parentObjectOid=%%s", *where);
  } else if (scope != nullptr) {
    *from = apr_psprintf(pool, "%s cross join ancestor", *from);
    *where = apr_psprintf(pool, "%s and ancestor.objectOid=p0.objectOid and ancestor.ancestorObjectOid=%%s", *where);
  } else {
    return;
  }
  APR_ARRAY_PUSH(args, const char *) = scope;
}

struct LinkLoop {
  const char *select;
  int columns;         // 1: child oid only; 2: oid and ordinal
  bool child_is_row;   // the row's oid is the child (else the parent)
  bool keep_ordinal;
};

// Runs select and links each row: shared by copy_parents, copy_children and
// append_children, whose only difference is which end the row names.
int link_rows(apr_pool_t *pool, MediaLibraryDB *db, const LinkLoop &loop, const char *fixed) {
  DBThreadConnection *conn = settled_connection(pool, db);
  if (conn == nullptr) return APR_EGENERAL;
  const char *row[2] = {nullptr, nullptr};
  DbCursor cursor;
  if (db_select_row(pool, conn->medialib, loop.select, loop.columns, row, &cursor) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not get first parent");
  }
  while (row[0] != nullptr) {
    const char *parent = loop.child_is_row ? fixed : row[0];
    const char *child = loop.child_is_row ? row[0] : fixed;
    const char *ordinal = !loop.keep_ordinal ? nullptr : row[1] != nullptr ? row[1] : "";
    if (add_edge(pool, db, parent, child, 1, ordinal, nullptr) != APR_SUCCESS) {
      return log4c_fail(MSDB_MODULE, "Could not insert edge");
    }
    if (!db_next_row(pool, &cursor, loop.columns, row)) row[0] = nullptr;
  }
  return APR_SUCCESS;
}

}  // namespace

int msdb_create_object(apr_pool_t *pool, MediaLibraryDB *db, const char *parent, const char *source,
                       const char *signature, const char **oid) {
  *oid = nullptr;
  if ((parent != nullptr && !db_oid_valid(parent)) || (source != nullptr && !db_oid_valid(source))) {
    return APR_EGENERAL;
  }
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  const char *created = nullptr;
  const char *args[] = {signature};
  if (db_insert_prepared(pool, conn->medialib, "insert into object (oid, signature) values(null, %s)", args, &created) !=
      APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not insert object");
  }
  if (ObjectMemory *memory = msdb_object_memory(conn)) object_memory_created(memory, created);
  if (source != nullptr && msdb_add_object_source(pool, db, created, source, nullptr) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not insert object media source relation");
  }
  if (parent != nullptr && msdb_add_edge(pool, db, parent, created, 0, nullptr, nullptr) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not insert edge");
  }
  *oid = created;
  return APR_SUCCESS;
}

int msdb_find_objects_by_signature(apr_pool_t *pool, MediaLibraryDB *db, const char *signature,
                                   const char **oids, int *count) {
  int capacity = *count;
  *count = 0;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  DbCursor cursor;
  const char *oid = nullptr;
  if (db_select_value(pool, conn->medialib,
                      db_sql(pool, "select oid from object where signature='%s';", db_quote(pool, signature)),
                      &oid, &cursor) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not get object with given signature");
  }
  for (; oid != nullptr; oid = db_next_value(pool, &cursor)) {
    if (oids != nullptr) {
      if (*count >= capacity) break;
      oids[*count] = oid;
    }
    ++*count;
  }
  return APR_SUCCESS;
}

int msdb_find_object(apr_pool_t *pool, MediaLibraryDB *db, const char *scope, int children_only,
                     int skip_scope_test, int count, const char *const *names,
                     const char *const *values, int like, const char *source, const char **oid,
                     const char **signature) {
  *oid = nullptr;
  if (signature != nullptr) *signature = nullptr;
  if (count < 1) return log4c_fail(MSDB_MODULE, INTERNAL_ERROR_TEXT);
  if ((scope != nullptr && !db_oid_valid(scope, true)) || (source != nullptr && !db_oid_valid(source))) {
    return APR_EGENERAL;
  }
  DBThreadConnection *conn = settled_connection(pool, db);
  if (conn == nullptr || msdb_counters_write_named(conn, names, count) != APR_SUCCESS) return APR_EGENERAL;
  DbLink link = conn->medialib;
  const char *from = "";
  const char *where = "";
  apr_array_header_t *args = apr_array_make(pool, count + 2, sizeof(const char *));
  criteria_clauses(pool, count, names, values, like, &from, &where, args);
  if (source != nullptr) {
    from = apr_psprintf(pool, "%s cross join objms", from);
    where = apr_psprintf(pool, "%s and sourceOid=%%s and objms.objectOid=p0.objectOid", where);
    APR_ARRAY_PUSH(args, const char *) = source;
  }
  bool has_scope = scope != nullptr && std::strcmp(scope, "-1") != 0;
  const char *found = nullptr;
  if (has_scope && !skip_scope_test) {
    apr_array_header_t *tried = apr_array_copy(pool, args);
    APR_ARRAY_PUSH(tried, const char *) = scope;
    const char *sql = apr_psprintf(pool, "select p0.objectOid from %s where %s and p0.objectOid=%%s", from, where);
    if (db_select_value_prepared(pool, link, sql, reinterpret_cast<const char *const *>(tried->elts), &found) !=
        APR_SUCCESS) {
      return APR_EGENERAL;
    }
  }
  if (found == nullptr) {
    scope_clauses(pool, has_scope ? scope : nullptr, children_only, &from, &where, args);
    const char *sql = apr_psprintf(pool, "select max(p0.objectOid) from %s where %s", from, where);
    if (db_select_value_prepared(pool, link, sql, reinterpret_cast<const char *const *>(args->elts), &found) !=
        APR_SUCCESS) {
      return APR_EGENERAL;
    }
  }
  if (found == nullptr) return APR_SUCCESS;
  *oid = found;
  if (signature == nullptr) return APR_SUCCESS;
  const char *oid_arg[] = {found};
  return db_select_value_prepared(pool, link, "select signature from object where oid=%lld", oid_arg, signature);
}

int msdb_add_edge(apr_pool_t *pool, MediaLibraryDB *db, const char *parent, const char *child,
                  int check, const char *ordinal, const char **edge_oid) {
  return add_edge(pool, db, parent, child, check, ordinal == nullptr ? nullptr : xml_escape(pool, ordinal), edge_oid);
}

int msdb_add_sorted_edge(apr_pool_t *pool, MediaLibraryDB *db, const char *parent,
                         const char *child, int check, const char *const *names, int count,
                         int ascending, SortValueTransform transform, const char **edge_oid) {
  if (!db_oid_valid(child)) return APR_EGENERAL;
  const char *key = sort_ordinal(pool, db, child, names, count, ascending, transform);
  return msdb_add_keyed_edge(pool, db, parent, child, check, key, edge_oid);
}

const char *msdb_sort_key(apr_pool_t *pool, MediaLibraryDB *db, const char *child,
                          const char *const *names, int count, int ascending,
                          SortValueTransform transform) {
  if (!db_oid_valid(child)) return "";
  return sort_ordinal(pool, db, child, names, count, ascending, transform);
}

int msdb_add_keyed_edge(apr_pool_t *pool, MediaLibraryDB *db, const char *parent, const char *child,
                        int check, const char *key, const char **edge_oid) {
  int status = add_edge(pool, db, parent, child, check, key, edge_oid);
  return status == APR_EEXIST ? APR_SUCCESS : status;
}

int msdb_resort_edge(apr_pool_t *pool, MediaLibraryDB *db, const char *child, const char *edge_oid,
                     const char *const *names, int count, int ascending,
                     SortValueTransform transform) {
  if (!db_oid_valid(child) || !db_oid_valid(edge_oid)) return APR_EGENERAL;
  DBThreadConnection *conn = settled_connection(pool, db);
  if (conn == nullptr) return APR_EGENERAL;
  const char *ordinal = db_quote(pool, sort_ordinal(pool, db, child, names, count, ascending, transform));
  const char *failure = "Could not execute SQL statement - ordinal was not updated, reason: %s";
  int rows = 0;
  if (db_exec(conn->medialib, db_sql(pool, "update edge set ordinal='%s' where oid=%s;", ordinal, edge_oid), &rows,
              failure) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  return rows == 1 ? APR_SUCCESS : log4c_fail(MSDB_MODULE, log4c_sprintf(failure, "no row was changed"));
}

int msdb_find_edge(apr_pool_t *pool, MediaLibraryDB *db, const char *parent, const char *child,
                   const char **edge_oid) {
  *edge_oid = nullptr;
  if (!db_oid_valid(parent) || !db_oid_valid(child)) return APR_EGENERAL;
  DBThreadConnection *conn = settled_connection(pool, db);
  if (conn == nullptr) return APR_EGENERAL;
  if (db_select_value(pool, conn->medialib,
                      db_sql(pool, "select oid from edge where parentObjectOid=%s and objectOid=%s", parent, child),
                      edge_oid, nullptr) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  return *edge_oid == nullptr ? APR_NOTFOUND : APR_SUCCESS;
}

int msdb_copy_parents(apr_pool_t *pool, MediaLibraryDB *db, const char *from_object,
                      const char *to_object) {
  if (!db_oid_valid(from_object) || !db_oid_valid(to_object)) return APR_EGENERAL;
  const char *select = db_sql(pool,
                              "select parentObjectOid, ordinal from (select parentObjectOid, ordinal from edge where "
                              "objectOid=%s) inner join objms on parentObjectOid=objms.objectOid where sourceOid > %s",
                              from_object, "1");
  return link_rows(pool, db, LinkLoop{select, 2, false, true}, to_object);
}

int msdb_copy_children(apr_pool_t *pool, MediaLibraryDB *db, const char *from_container,
                       const char *to_container) {
  if (!db_oid_valid(from_container) || !db_oid_valid(to_container)) return APR_EGENERAL;
  const char *select = db_sql(pool, "select objectOid, ordinal from edge where parentObjectOid=%s", from_container);
  return link_rows(pool, db, LinkLoop{select, 2, true, true}, to_container);
}

int msdb_append_children(apr_pool_t *pool, MediaLibraryDB *db, const char *from_container,
                         const char *to_container) {
  if (!db_oid_valid(from_container) || !db_oid_valid(to_container)) return APR_EGENERAL;
  const char *select =
      db_sql(pool, "select objectOid from edge where parentObjectOid=%s order by ordinal %s", from_container, "");
  return link_rows(pool, db, LinkLoop{select, 1, true, false}, to_container);
}

int msdb_child_containers(apr_pool_t *pool, MediaLibraryDB *db, const char *parent,
                          void (*found)(void *context, const char *escaped_title, const char *oid),
                          void *context) {
  if (!db_oid_valid(parent)) return APR_EGENERAL;
  DBThreadConnection *conn = settled_connection(pool, db);
  if (conn == nullptr) return APR_EGENERAL;
  const char *select = db_sql(pool,
                              "select max(edge.objectOid), v.value from edge, prop p0, propValue v, prop p1 where "
                              "edge.parentObjectOid=%s and p0.objectOid=edge.objectOid and p0.nameOid=(select oid "
                              "from propName where name='%s') and v.oid=p0.valueOid and p1.objectOid=edge.objectOid "
                              "and p1.nameOid=(select oid from propName where name='%s') and p1.valueOid in (select "
                              "oid from propValue where value='1') group by v.value",
                              parent, prop_name(PROP_DC_TITLE), prop_name(PROP_ZENTORIA_IS_CONTAINER));
  const char *row[2];
  DbCursor cursor;
  if (db_select_row(pool, conn->medialib, select, 2, row, &cursor) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not get the child containers");
  }
  for (bool more = row[0] != nullptr; more; more = db_next_row(pool, &cursor, 2, row)) found(context, row[1], row[0]);
  return APR_SUCCESS;
}

int msdb_subtree_objects(apr_pool_t *pool, MediaLibraryDB *db, const char *object, apr_array_header_t **oids) {
  *oids = apr_array_make(pool, 16, sizeof(const char *));
  if (!db_oid_valid(object)) return APR_EGENERAL;
  DBThreadConnection *conn = settled_connection(pool, db);
  if (conn == nullptr) return APR_EGENERAL;
  const char *select = db_sql(pool, "select distinct objectOid from ancestor where ancestorObjectOid=%s and objectOid<>%s",
                              object, object);
  DbCursor cursor;
  const char *oid = nullptr;
  if (db_select_value(pool, conn->medialib, select, &oid, &cursor) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not get the objects of a subtree");
  }
  for (; oid != nullptr; oid = db_next_value(pool, &cursor)) APR_ARRAY_PUSH(*oids, const char *) = oid;
  return APR_SUCCESS;
}

int msdb_find_newest_by_value(apr_pool_t *pool, MediaLibraryDB *db, const char *name, const char *value,
                              const char *source, const char **oid, const char **signature) {
  const char *names[] = {name};
  const char *values[] = {value};
  return msdb_find_object(pool, db, nullptr, 0, 1, 1, names, values, 0, source, oid, signature);
}

int msdb_find_child_container(apr_pool_t *pool, MediaLibraryDB *db, const char *parent, const char *title,
                              const char **oid) {
  const char *names[] = {"dc:title", "zentoria:isContainer"};
  const char *values[] = {title, "1"};
  return msdb_find_object(pool, db, parent, 1, 1, 2, names, values, 0, nullptr, oid, nullptr);
}

void msdb_edges_hold(MediaLibraryDB *db, const char *child) {
  if (DBThreadConnection *conn = msdb_connection_or_log(db)) edge_batch_open(conn->edges, child);
}

int msdb_edges_write(apr_pool_t *pool, MediaLibraryDB *db) {
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  edge_batch_close(conn->edges);
  return write_held(pool, conn);
}
