// Deletion and mark-and-sweep.
//
// The victim select is pasted into each statement, so it is evaluated per
// statement: it must not depend on rows an earlier statement removes (the
// callers give selects over temporary tables or the mark table).
#include "MSDBDelete.h"

#include <apr_strings.h>

#include <cstring>
#include <string>
#include <vector>

#include "CommonNumbers.h"
#include "CommonPropNames.h"
#include "CommonUserMessage.h"
#include "MSDBProps.h"
#include "log4c.h"
#include "log4c_pool.h"

struct PendingMarks {
  std::vector<std::string> args;  // oid, flag, oid, flag, ...
  // Whether a mark for deletion was made since the table was made: without
  // one, a sweep has nothing marked to delete and need not look.
  bool deleting = false;
};

namespace {

constexpr const char *kModule = "MSDB";
constexpr const char *kMarkRows = "insert or replace into markObjects (markObjectOid, flag) values ";
constexpr const char *kMarkFailure = "Could not insert to temporary table, reason: %s";
constexpr int kDeleteFlag = 1;

// Marks made and not yet written, written together by one multi-row insert
// (a statement per mark was a twentieth of an unchanged rescan): before
// anything else reads or changes the mark table, and every few hundred
// marks. They go with the table when it is made or dropped (a failed pass
// drops it after its rollback). Each connection keeps its own, as the mark
// table is its own.
constexpr std::size_t kMarksPerWrite = 256;

int write_marks(apr_pool_t *pool, DBThreadConnection *conn) {
  std::vector<std::string> &pending = conn->marks->args;
  if (pending.empty()) return APR_SUCCESS;
  std::vector<const char *> args(pending.size());
  for (std::size_t i = 0; i < args.size(); ++i) args[i] = pending[i].c_str();
  apr_int64_t last = 0;
  const char *reason = nullptr;
  const int status = db_insert_rows(pool, conn->medialib, kMarkRows, "(%s, %s)", args.data(), static_cast<int>(args.size() / 2),
                                    &last, &reason);
  pending.clear();
  return status == APR_SUCCESS ? APR_SUCCESS : log4c_fail(kModule, log4c_sprintf(kMarkFailure, reason));
}

// The statements that remove victims from edges, ancestors, properties and
// sources, in the order that keeps the ancestor paths resolvable. Each gets
// the victim select for every %s. A route through a victim ends at one of
// the victim's descendants, whose rows the ancestor index on objectOid
// finds: the paths themselves need no index.
constexpr const char *kDetachStatements[] = {
    "delete from edge where parentObjectOid in (%s)",
    "delete from edge where objectOid in (%s)",
    "delete from ancestor where objectOid in (select objectOid from ancestor where ancestorObjectOid in (%s)) and "
    "path in (select ancpath||objpath from ((%s) inner join (select objectOid as obj, "
    "path as ancpath from ancestor) on obj=deleteoid inner join (select ancestorObjectOid as anc, path as objpath "
    "from ancestor) on anc=deleteoid))",
    "delete from ancestor where objectOid in (%s)",
    "delete from ancestor where ancestorObjectOid in (%s)",
    "delete from prop where objectOid in (%s)",
    "delete from objms where objectOid in (%s)",
};

// Lowers each surviving parent's child count by its number of victim children.
int uncount_children(apr_pool_t *pool, MediaLibraryDB *db, DbLink link, const char *victims,
                     CancelCheck cancel, void *context) {
  const char *select = db_sql(pool,
                              "select parentObjectOid from edge where objectOid in (%s) and parentObjectOid not in (%s) "
                              "order by parentObjectOid",
                              victims, victims);
  DbCursor cursor;
  const char *parent = nullptr;
  if (db_select_value(pool, link, select, &parent, &cursor) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "get the parent oid(s) of the object");
  }
  while (parent != nullptr) {
    if (cancel_requested(cancel, context)) return COMMON_CANCELLED;
    const char *next = db_next_value(pool, &cursor);
    int removed = 1;
    for (; next != nullptr && std::strcmp(next, parent) == 0; next = db_next_value(pool, &cursor)) ++removed;
    if (msdb_increment_prop(pool, db, &parent, 1, PROP_CHILD_COUNT, nullptr, -removed) != APR_SUCCESS) {
      return log4c_fail(MSDB_MODULE, "Could not decrement the child count of the parent(s)");
    }
    parent = next;
  }
  return APR_SUCCESS;
}

// Runs a statement, logging the driver's reason on failure.
int run(DbLink link, const char *sql) { return db_exec(link, sql, nullptr); }

// Objects of source (those also matching condition) that another source
// holds too only lose their association with source.
int unshare(apr_pool_t *pool, DBThreadConnection *conn, const char *source, const char *condition) {
  if (msdb_graph_changed(conn) != APR_SUCCESS) return APR_EGENERAL;
  return run(conn->medialib,
             db_sql(pool,
                    "delete from objms where sourceOid=%s and objectoid in (select sourceobjoid from (select "
                    "objectoid as sourceobjoid from objms where sourceOid=%s%s) inner join objms as objms1 on "
                    "sourceobjoid=objms1.objectoid where objms1.sourceOid != %s)",
                    source, source, condition, source));
}

int count_rows(apr_pool_t *pool, DbLink link, const char *sql, int *count) {
  const char *value = nullptr;
  if (db_select_value(pool, link, sql, &value, nullptr) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not get the number of objects that are to be deleted");
  }
  if (value == nullptr || !parse_int(value, count)) return log4c_fail(MSDB_MODULE, INTERNAL_ERROR_TEXT);
  return APR_SUCCESS;
}

// One pass of msdb_delete_source_leaves; *found receives the leaves removed.
int delete_leaves_pass(apr_pool_t *pool, MediaLibraryDB *db, DbLink link, const char *source,
                       CancelCheck cancel, void *context, int *found) {
  const char *create = db_sql(pool,
                              "create temp table leaves_%s as select objms.objectOid as deleteoid from objms inner join "
                              "prop on sourceOid=%s and objms.objectOid=prop.objectoid and nameoid=(select oid from "
                              "propname where name='%s') and valueOid in (select oid from propValue where value='0');",
                              source, source, prop_name(PROP_CHILD_COUNT));
  if (run(link, create) != APR_SUCCESS) return APR_EGENERAL;
  int status = count_rows(pool, link, db_sql(pool, "select count(*) from leaves_%s", source), found);
  if (status == APR_SUCCESS && *found > 0) {
    status = msdb_delete_objects(pool, db, db_sql(pool, "select deleteoid as deleteoid from leaves_%s", source), cancel,
                                 context);
  }
  if (status != APR_SUCCESS && status != COMMON_CANCELLED) return status;
  if (run(link, db_sql(pool, "drop table leaves_%s", source)) != APR_SUCCESS) return APR_EGENERAL;
  return status;
}

}  // namespace

PendingMarks *msdb_pending_marks_create(apr_pool_t *pool) {
  return pool_new<PendingMarks>(pool);
}

int msdb_delete_objects(apr_pool_t *pool, MediaLibraryDB *db, const char *victims,
                        CancelCheck cancel, void *context) {
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  DbLink link = conn->medialib;
  if (msdb_graph_changed(conn) != APR_SUCCESS) return APR_EGENERAL;
  int status = uncount_children(pool, db, link, victims, cancel, context);
  if (status != APR_SUCCESS) return status;
  for (const char *statement : kDetachStatements) {
    if (cancel_requested(cancel, context)) return COMMON_CANCELLED;
    if (db_exec(link, db_sql(pool, statement, victims, victims), nullptr) != APR_SUCCESS) return APR_EGENERAL;
  }
  return db_exec(link, db_sql(pool, "delete from object where oid in (%s);", victims), nullptr);
}

int msdb_delete_source_objects(apr_pool_t *pool, MediaLibraryDB *db, const char *source,
                               CancelCheck cancel, void *context) {
  if (!db_oid_valid(source)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  DbLink link = conn->medialib;
  if (unshare(pool, conn, source, "") != APR_SUCCESS) return APR_EGENERAL;
  if (run(link,
           db_sql(pool, "create temp table delete_%s as select objectoid as deleteoid from objms where sourceOid=%s",
                  source, source)) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  int status = msdb_delete_objects(pool, db, db_sql(pool, "select deleteoid as deleteoid from delete_%s", source),
                                   cancel, context);
  int dropped = run(link, db_sql(pool, "drop table delete_%s", source));
  if (status == COMMON_CANCELLED) return status;
  if (status != APR_SUCCESS) return log4c_fail(MSDB_MODULE, "Could not delete the objects of the media source that are no longer needed");
  return dropped;
}

int msdb_delete_all_objects(apr_pool_t *pool, MediaLibraryDB *db, CancelCheck cancel,
                            void *context) {
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  DbLink link = conn->medialib;
  if (run(link,
           db_sql(pool, "create temp table dont_delete as select objectoid from objms where sourceOid=%s", "0")) !=
      APR_SUCCESS) {
    return APR_EGENERAL;
  }
  int status = msdb_delete_objects(
      pool, db, "select oid as deleteoid from object where deleteoid not in (select * from dont_delete)", cancel, context);
  int dropped = run(link, "drop table dont_delete");
  if (status == COMMON_CANCELLED) return status;
  if (status != APR_SUCCESS) return log4c_fail(MSDB_MODULE, "Could not delete all media source objects");
  return dropped;
}

int msdb_delete_source_leaves(apr_pool_t *pool, MediaLibraryDB *db, const char *source,
                              CancelCheck cancel, void *context) {
  if (!db_oid_valid(source)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  DbLink link = conn->medialib;
  for (;;) {
    int found = 0;
    int status = delete_leaves_pass(pool, db, link, source, cancel, context, &found);
    if (status == COMMON_CANCELLED) return status;
    if (status != APR_SUCCESS) {
      run(link, db_sql(pool, "drop table if exists leaves_%s", source));
      return APR_EGENERAL;
    }
    if (found == 0) return APR_SUCCESS;
  }
}

int msdb_create_marks(apr_pool_t *, MediaLibraryDB *db) {
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  conn->marks->args.clear();
  conn->marks->deleting = false;
  // A new mark's oid is one past the largest present, so the marks still
  // read back in the order they were made; AUTOINCREMENT kept that order
  // too, at the price of a write to its sequence table for every mark.
  return db_exec(conn->medialib,
                 "create temp table markObjects (oid integer primary key, markObjectOid integer unique, "
                 "flag integer);",
                 nullptr, "Could not create temporary table for saving oids, reason: %s");
}

int msdb_drop_marks(apr_pool_t *, MediaLibraryDB *db) {
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  conn->marks->args.clear();
  conn->marks->deleting = false;
  return db_exec(conn->medialib, "drop table if exists markObjects;", nullptr,
                 "Could not drop temporary table, reason: %s");
}

int msdb_is_marked(apr_pool_t *pool, MediaLibraryDB *db, const char *object) {
  if (!db_oid_valid(object)) return 0;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr || write_marks(pool, conn) != APR_SUCCESS) return 0;
  const char *oid = nullptr;
  if (db_select_value(pool, conn->medialib, db_sql(pool, "select oid from markObjects where markObjectOid=%s", object),
                      &oid, nullptr) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Could not determine if object is marked");
    return 0;
  }
  return oid != nullptr ? 1 : 0;
}

int msdb_mark_object(apr_pool_t *pool, MediaLibraryDB *db, const char *object, int flag) {
  if (!db_oid_valid(object)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  std::vector<std::string> &pending = conn->marks->args;
  conn->marks->deleting |= flag == kDeleteFlag;
  pending.emplace_back(object);
  pending.emplace_back(std::to_string(flag));
  return pending.size() / 2 < kMarksPerWrite ? APR_SUCCESS : write_marks(pool, conn);
}

int msdb_mark_subtree(apr_pool_t *pool, MediaLibraryDB *db, const char *object, int flag) {
  if (!db_oid_valid(object)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr || write_marks(pool, conn) != APR_SUCCESS) return APR_EGENERAL;
  conn->marks->deleting |= flag == kDeleteFlag;
  const char *insert = db_sql(pool,
                              "insert or replace into markObjects (oid, markObjectOid, flag) select null, oid, %d from "
                              "(select distinct objectOid as oid from ancestor where ancestorObjectOid=%s union select "
                              "%s as oid);",
                              flag, object, object);
  return db_exec(conn->medialib, insert, nullptr, "Could not mark subtree, reason: %s");
}

int msdb_sweep_marked(apr_pool_t *pool, MediaLibraryDB *db, int *count, CancelCheck cancel,
                      void *context) {
  *count = 0;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr || write_marks(pool, conn) != APR_SUCCESS) return APR_EGENERAL;
  if (!conn->marks->deleting) return APR_SUCCESS;
  DbLink link = conn->medialib;
  if (count_rows(pool, link, db_sql(pool, "select count(*) from markObjects where flag=%d", kDeleteFlag), count) !=
      APR_SUCCESS) {
    return APR_EGENERAL;
  }
  if (*count < 1) return APR_SUCCESS;
  int status = msdb_delete_objects(
      pool, db, db_sql(pool, "select markObjectOid as deleteoid from markObjects where flag=%d", kDeleteFlag), cancel,
      context);
  if (status != APR_SUCCESS) return status;
  return run(link, db_sql(pool, "delete from markObjects where flag=%d", kDeleteFlag));
}

int msdb_sweep_source(apr_pool_t *pool, MediaLibraryDB *db, const char *source, int *stale,
                      int *other, CancelCheck cancel, void *context) {
  *stale = 0;
  *other = 0;
  if (!db_oid_valid(source)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr || write_marks(pool, conn) != APR_SUCCESS) return APR_EGENERAL;
  DbLink link = conn->medialib;
  // An unchanged source left none of its objects unmarked: nothing to
  // unshare or to mark, and one walk over its objects tells.
  const char *unmarked = nullptr;
  if (db_select_value(pool, link,
                      db_sql(pool,
                             "select objectOid from objms where sourceOid=%s and objectOid not in (select "
                             "markObjectOid from markObjects) limit 1",
                             source),
                      &unmarked, nullptr) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not get the number of objects that are to be deleted");
  }
  if (unmarked != nullptr) {
    if (unshare(pool, conn, source, " and objectoid not in (select markObjectOid from markObjects)") != APR_SUCCESS) {
      return APR_EGENERAL;
    }
    const char *mark = db_sql(pool,
                              "insert into markObjects (oid, markObjectOid, flag) select null, objectOid, %d from objms "
                              "where sourceOid=%s and objectOid not in (select markObjectOid from markObjects)",
                              kDeleteFlag, source);
    if (db_exec(link, mark, stale) != APR_SUCCESS) return APR_EGENERAL;
    conn->marks->deleting |= *stale > 0;
  }
  int marked = 0;
  int status = msdb_sweep_marked(pool, db, &marked, cancel, context);
  *other = marked - *stale;
  return status;
}
