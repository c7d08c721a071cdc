// The fatal stops for exhausted memory, and the owner type for APR pools.
//
// Every pool in the system is created with pool_abort as its abort function:
// running out of pool memory logs FATAL "Memory allocation failure" and ends
// the process with status -1. pool_create_or_die is the one way a module
// creates a pool of its own. Pool owns a sub-pool for one scope; it is not
// copyable and destroys the pool when it goes out of scope.
#pragma once

#include <apr_pools.h>

// APR abort function: logs the FATAL message on "Common" and exits with -1.
int pool_abort(int retcode);

// Creates a child of parent (null: a root pool) with pool_abort. A failure
// logs "Unable to create memory pool for this file, reason: %s, shutting
// down..." at FATAL on module and ends the process with status -1.
apr_pool_t *pool_create_or_die(apr_pool_t *parent, const char *module);

// As pool_create_or_die, with an allocator of the pool's own that takes no
// lock: for a pool that, with its children, one thread alone uses, so that
// its allocations never wait for another thread's (the allocator all other
// pools share is locked around each block it hands out or takes back).
apr_pool_t *pool_create_unshared_or_die(apr_pool_t *parent, const char *module);

// Logs the pool-creation failure for status on module and exits with -1.
[[noreturn]] void pool_fatal_stop(apr_status_t status, const char *module);

class Pool {
 public:
  explicit Pool(apr_pool_t *parent, const char *module = "Common")
      : pool_(pool_create_or_die(parent, module)) {}
  ~Pool() { apr_pool_destroy(pool_); }
  Pool(const Pool &) = delete;
  Pool &operator=(const Pool &) = delete;

  apr_pool_t *get() const { return pool_; }
  operator apr_pool_t *() const { return pool_; }
  void clear() { apr_pool_clear(pool_); }

 private:
  apr_pool_t *pool_;
};

// A new, value-initialised T deleted when pool is cleared or destroyed: the
// C++ state a module keeps for as long as a pool lives.
template <typename T>
T *pool_new(apr_pool_t *pool) {
  T *object = new T{};
  apr_pool_cleanup_register(
      pool, object,
      [](void *data) -> apr_status_t {
        delete static_cast<T *>(data);
        return APR_SUCCESS;
      },
      apr_pool_cleanup_null);
  return object;
}
