// Write-back of the pending counters of a connection's memory.
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

int counters_write_pending(apr_pool_t *pool, ObjectMemory *memory, DbLink link) {
  if (memory == nullptr || !object_memory_pending(memory)) return APR_SUCCESS;
  Pool work(pool, kModule);
  for (const PendingCounter &counter : object_memory_take_pending(memory)) {
    const char *update = counter_update_sql(work, counter.value_oid.c_str(), counter.object.c_str(),
                                            db_quote(work, counter.name.c_str()));
    if (db_exec(link, update, nullptr, kNotIncremented) != APR_SUCCESS) return APR_EGENERAL;
  }
  return APR_SUCCESS;
}
