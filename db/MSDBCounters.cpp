// Write-back of the pending counters of a connection's memory.
#include "MSDBCounters.h"

#include "CommonText.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "MSDB";
constexpr const char *kNotIncremented = "Could not execute SQL statement - prop was not incremented, reason: %s";
// A scan writes one object's counter many times per transaction, so its
// statements are kept prepared rather than compiled (with the triggers an
// update of prop compiles) at each write.
constexpr const char *kStoreOne =
    "update prop set valueOid=%lld where objectOid in (%lld) and nameOid=(select oid from propName where name=%s);";
constexpr const char *kReadOne =
    "select value from propValue where oid=(select valueOid from prop where objectOid in (%lld) and nameOid=(select "
    "oid from propName where name=%s))";

}  // namespace

int counter_store(apr_pool_t *pool, DbLink link, const char *value_oid, const char *const *objects, int count,
                  const char *name, int *changed) {
  const char *reason = nullptr;
  int status = APR_SUCCESS;
  if (count == 1) {
    const char *args[] = {value_oid, objects[0], name};
    status = db_exec_prepared(pool, link, kStoreOne, args, changed, &reason);
  } else {
    const char *update = db_sql(pool,
                                "update prop set valueOid=%s where objectOid in (%s) and nameOid=(select oid from "
                                "propName where name='%s');",
                                value_oid, str_join(pool, objects, count), db_quote(pool, name));
    status = db_exec_reason(link, update, changed, &reason);
  }
  if (status != APR_SUCCESS) LOG4C(kModule, LOG4C_ERROR, log4c_sprintf(kNotIncremented, reason));
  return status;
}

int counter_read(apr_pool_t *pool, DbLink link, const char *const *objects, int count, const char *name,
                 const char **value) {
  if (count == 1) {
    const char *args[] = {objects[0], name};
    return db_select_value_prepared(pool, link, kReadOne, args, value);
  }
  const char *read = db_sql(pool,
                            "select value from propValue where oid=(select valueOid from prop where objectOid in "
                            "(%s) and nameOid=(select oid from propName where name='%s'))",
                            str_join(pool, objects, count), db_quote(pool, name));
  return db_select_value(pool, link, read, value, nullptr);
}

int counters_write_pending(apr_pool_t *pool, ObjectMemory *memory, DbLink link) {
  if (memory == nullptr || !object_memory_pending(memory)) return APR_SUCCESS;
  Pool work(pool, kModule);
  for (const PendingCounter &counter : object_memory_take_pending(memory)) {
    const char *object = counter.object.c_str();
    if (counter_store(work, link, counter.value_oid.c_str(), &object, 1, counter.name.c_str(), nullptr) !=
        APR_SUCCESS) {
      return APR_EGENERAL;
    }
  }
  return APR_SUCCESS;
}
