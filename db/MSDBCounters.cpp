// Write-back of the counters the connection's memory holds.
#include "MSDBCounters.h"

#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "MSDB";
constexpr const char *kNotIncremented = "Could not execute SQL statement - prop was not incremented, reason: %s";

}  // namespace

char *counter_update_sql(apr_pool_t *pool, const char *value_oid, const char *objects, const char *quoted_name) {
  return db_sql(pool,
                "update prop set valueOid=%s where objectOid in (%s) and nameOid=(select oid from propName where "
                "name='%s');",
                value_oid, objects, quoted_name);
}

int msdb_counters_write(DBThreadConnection *conn) {
  ObjectMemory *memory = msdb_object_memory(conn);
  if (memory == nullptr || !object_memory_pending(memory)) return APR_SUCCESS;
  Pool pool(conn->pool, kModule);
  for (const PendingCounter &counter : object_memory_take_pending(memory)) {
    const char *update = counter_update_sql(pool, counter.value_oid.c_str(), counter.object.c_str(),
                                            db_quote(pool, counter.name.c_str()));
    if (db_exec(conn->medialib, update, nullptr, kNotIncremented) != APR_SUCCESS) return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

int msdb_counters_write_named(DBThreadConnection *conn, const char *const *names, int count) {
  ObjectMemory *memory = msdb_object_memory(conn);
  if (memory == nullptr) return APR_SUCCESS;
  for (int i = 0; i < count; ++i) {
    if (object_memory_pending_name(memory, names[i])) return msdb_counters_write(conn);
  }
  return APR_SUCCESS;
}

int msdb_counters_settle(DBThreadConnection *conn, const char *object, const char *name) {
  ObjectMemory *memory = msdb_object_memory(conn);
  if (memory == nullptr) return APR_SUCCESS;
  if (object_memory_pending_counter(memory, object, name) && msdb_counters_write(conn) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  object_memory_forget_counter(memory, object, name);
  return APR_SUCCESS;
}
