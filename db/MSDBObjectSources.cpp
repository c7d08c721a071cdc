// Object to media-source associations.
#include "MSDBObjectSources.h"

#include "CommonText.h"
#include "log4c.h"

namespace {

constexpr const char *kModule = "MSDB";
constexpr int kMaxSourcesForTags = 100;


// Reads every first-column value of select into values, at most *count.
int read_values(apr_pool_t *pool, DbLink link, const char *select, const char **values, int *count,
                bool unescape) {
  int capacity = *count;
  *count = 0;
  DbCursor cursor;
  const char *value = nullptr;
  if (db_select_value(pool, link, select, &value, &cursor) != APR_SUCCESS) return APR_EGENERAL;
  for (; value != nullptr && *count < capacity; value = db_next_value(pool, &cursor)) {
    values[(*count)++] = unescape ? db_unescape(pool, value) : value;
  }
  return APR_SUCCESS;
}

}  // namespace

int msdb_add_object_source(apr_pool_t *pool, MediaLibraryDB *db, const char *object,
                           const char *source, const char **row_oid) {
  if (row_oid != nullptr) *row_oid = nullptr;
  if (!db_oid_valid(object) || !db_oid_valid(source)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  ObjectMemory *memory = msdb_object_memory(conn);
  bool held = false;
  if (memory == nullptr || !object_memory_find_source(memory, object, source, &held)) {
    const char *existing = nullptr;
    if (db_select_value(pool, conn->medialib,
                        db_sql(pool, "select oid from objms where (objectOid = %s) and (sourceOid = %s)", object, source),
                        &existing, nullptr) != APR_SUCCESS) {
      return log4c_fail(MSDB_MODULE, "Could not check if an object - media source relation already exists");
    }
    held = existing != nullptr;
  }
  if (held) return APR_SUCCESS;
  const char *args[] = {object, source};
  const char *created = nullptr;
  if (db_insert_prepared(pool, conn->medialib, "insert into objms (oid, objectOid, sourceOid) values(null, %lld, %lld);",
                         args, &created) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not insert relation");
  }
  if (memory != nullptr) object_memory_source_added(memory, object, source);
  if (row_oid != nullptr) *row_oid = created;
  return APR_SUCCESS;
}

int msdb_add_subtree_source(apr_pool_t *pool, MediaLibraryDB *db, const char *object,
                            const char *source) {
  if (!db_oid_valid(object) || !db_oid_valid(source)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  const char *insert = db_sql(pool,
                              "insert or ignore into objms (oid, objectOid, sourceOid) select null, objectOid, %s from "
                              "(select objectOid from ancestor where ancestorObjectOid = %s union select %s as objectOid)",
                              source, object, object);
  if (ObjectMemory *memory = msdb_object_memory(conn)) object_memory_forget_sources(memory);
  return db_exec(conn->medialib, insert, nullptr);
}

int msdb_move_object_source(apr_pool_t *pool, MediaLibraryDB *db, const char *object,
                            const char *old_source, const char *new_source) {
  if (!db_oid_valid(object) || !db_oid_valid(old_source) || !db_oid_valid(new_source)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  if (ObjectMemory *memory = msdb_object_memory(conn)) object_memory_forget_sources(memory);
  int rows = 0;
  const char *update =
      db_sql(pool, "update objms set sourceOid=%s where (objectOid=%s) and (sourceOid=%s);", new_source, object, old_source);
  if (db_exec(conn->medialib, update, &rows, "Could not update an existing media source association, reason %s") !=
      APR_SUCCESS) {
    return APR_EGENERAL;
  }
  return rows == 0 ? APR_NOTFOUND : APR_SUCCESS;
}

int msdb_copy_object_sources(apr_pool_t *pool, MediaLibraryDB *db, const char *from_object,
                             const char *to_object) {
  if (!db_oid_valid(from_object) || !db_oid_valid(to_object)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  const char *select = db_sql(pool,
                              "select sourceOid from objms where objectOid=%s and sourceOid > %s and sourceOid not in "
                              "(select sourceOid from objms where objectOid=%s)",
                              from_object, "1", to_object);
  DbCursor cursor;
  const char *source = nullptr;
  if (db_select_value(pool, conn->medialib, select, &source, &cursor) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not get first media source");
  }
  for (; source != nullptr; source = db_next_value(pool, &cursor)) {
    if (msdb_add_object_source(pool, db, to_object, source, nullptr) != APR_SUCCESS) {
      return log4c_fail(MSDB_MODULE, "Could insert object media source relation");
    }
  }
  return APR_SUCCESS;
}

int msdb_get_object_sources(apr_pool_t *pool, MediaLibraryDB *db, const char *object,
                            const char **sources, int *count) {
  if (!db_oid_valid(object)) {
    *count = 0;
    return APR_EGENERAL;
  }
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  if (read_values(pool, conn->medialib, db_sql(pool, "select sourceoid from objms where objectoid=%s;", object), sources,
                  count, false) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not get media source ids for given object");
  }
  return APR_SUCCESS;
}

int msdb_find_sole_object(apr_pool_t *pool, MediaLibraryDB *db, const char *source, const char **oid,
                          const char **signature) {
  *oid = *signature = nullptr;
  if (!db_oid_valid(source)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  const char *objects[2];
  int count = 2;
  if (read_values(pool, conn->medialib, db_sql(pool, "select objectOid from objms where sourceOid=%s limit 2;", source),
                  objects, &count, false) != APR_SUCCESS ||
      (count == 1 && db_select_value(pool, conn->medialib,
                                     db_sql(pool, "select signature from object where oid=%s;", objects[0]), signature,
                                     nullptr) != APR_SUCCESS)) {
    return log4c_fail(MSDB_MODULE, "Could not get the objects of given media source");
  }
  if (count == 1) *oid = objects[0];
  return APR_SUCCESS;
}

int msdb_get_object_tags(apr_pool_t *pool, MediaLibraryDB *db, const char *object,
                         const char **tags, int *count) {
  int capacity = *count;
  *count = 0;
  const char *sources[kMaxSourcesForTags];
  int found = kMaxSourcesForTags;
  if (msdb_get_object_sources(pool, db, object, sources, &found) != APR_SUCCESS) return APR_EGENERAL;
  if (found == kMaxSourcesForTags) LOG4C(kModule, LOG4C_ERROR, "Could not get sources for given object");
  if (found == 0) return APR_SUCCESS;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  *count = capacity;
  if (read_values(pool, conn->admin, db_sql(pool, "select tag from tag where sourceoid in (%s);", str_join(pool, sources, found)),
                  tags, count, true) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not get tags for media sources of given object");
  }
  return APR_SUCCESS;
}
