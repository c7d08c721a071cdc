// Fatal stops for exhausted memory and the pool factory every module uses.
#include "log4c_pool.h"

#include <apr_strings.h>

#include <cstdlib>

#include "log4c.h"

int pool_abort(int) {
  LOG4C("Common", LOG4C_FATAL, "Memory allocation failure");
  std::exit(-1);
}

void pool_fatal_stop(apr_status_t status, const char *module) {
  char reason[1024];
  apr_strerror(status, reason, sizeof reason);
  LOG4C(module, LOG4C_FATAL,
        log4c_sprintf("Unable to create memory pool for this file, reason: %s, shutting down...", reason));
  std::exit(-1);
}

apr_pool_t *pool_create_or_die(apr_pool_t *parent, const char *module) {
  apr_pool_t *pool = nullptr;
  apr_status_t status = apr_pool_create_ex(&pool, parent, pool_abort, nullptr);
  if (status != APR_SUCCESS) pool_fatal_stop(status, module);
  return pool;
}

apr_pool_t *pool_create_unshared_or_die(apr_pool_t *parent, const char *module) {
  apr_allocator_t *allocator = nullptr;
  apr_status_t status = apr_allocator_create(&allocator);
  if (status != APR_SUCCESS) pool_fatal_stop(status, module);
  apr_pool_t *pool = nullptr;
  status = apr_pool_create_ex(&pool, parent, pool_abort, allocator);
  if (status != APR_SUCCESS) {
    apr_allocator_destroy(allocator);
    pool_fatal_stop(status, module);
  }
  apr_allocator_owner_set(allocator, pool);
  return pool;
}
