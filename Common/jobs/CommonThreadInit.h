// CommonThreadInit: per-thread start-up and clean-up hooks.
//
// Modules that keep per-thread state (the database connections) register a
// pair of callbacks; every thread the system starts calls thread_attach first
// and thread_detach last, which run the callbacks newest first. The hook list
// lives in the module's pool from thread_init_module to
// thread_terminate_module and is guarded by a read-write lock; hooks run
// under the read lock and so must not register or unregister hooks.
#pragma once

#include <apr_pools.h>

using ThreadHookFn = void (*)(void *user_data);
struct ThreadHook;

// Creates the module pool under pool (failure: fatal stop), empties the hook
// list, creates the lock and attaches the calling thread.
// Returns 0, or 20014 when the lock cannot be created ("Could not create rwlock").
int thread_init_module(apr_pool_t *pool);

// Prepares the calling thread (COM start-up, a no-op on POSIX) and runs every
// init callback.
void thread_attach();

// Runs every clean-up callback for the calling thread.
void thread_detach();

// thread_detach for the main thread; the module state is kept in its pool.
void thread_terminate_module();

// Adds a hook at the front of the list; either callback may be null.
// Returns 0 and the handle for thread_hooks_unregister.
int thread_hooks_register(ThreadHookFn init, ThreadHookFn cleanup, void *user_data,
                          ThreadHook **handle);

// Removes a hook. Returns 0, or 20014 when the handle is not in the list.
int thread_hooks_unregister(ThreadHook *handle);
