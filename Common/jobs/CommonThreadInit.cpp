// Per-thread hooks: a singly linked list, newest first, under a read-write lock.
#include "CommonThreadInit.h"

#include <apr_errno.h>
#include <apr_thread_rwlock.h>

#include "log4c.h"
#include "log4c_pool.h"

struct ThreadHook {
  ThreadHookFn init;
  ThreadHookFn cleanup;
  void *user_data;
  ThreadHook *next;
};

namespace {

constexpr const char *kModule = "CommonThreadInit";

struct HookList {
  apr_pool_t *pool = nullptr;
  apr_thread_rwlock_t *lock = nullptr;
  ThreadHook *first = nullptr;
};

HookList g_hooks;

enum class Phase { kInit, kCleanup };

void run_hooks(Phase phase) {
  if (g_hooks.lock == nullptr) return;
  apr_thread_rwlock_rdlock(g_hooks.lock);
  for (ThreadHook *hook = g_hooks.first; hook != nullptr; hook = hook->next) {
    ThreadHookFn fn = phase == Phase::kInit ? hook->init : hook->cleanup;
    if (fn != nullptr) fn(hook->user_data);
  }
  apr_thread_rwlock_unlock(g_hooks.lock);
}

}  // namespace

int thread_init_module(apr_pool_t *pool) {
  g_hooks.pool = pool_create_or_die(pool, kModule);
  g_hooks.first = nullptr;
  if (apr_thread_rwlock_create(&g_hooks.lock, g_hooks.pool) != APR_SUCCESS) {
    g_hooks.lock = nullptr;
    LOG4C(kModule, LOG4C_ERROR, "Could not create rwlock");
    return APR_EGENERAL;
  }
  thread_attach();
  return APR_SUCCESS;
}

void thread_attach() {
  // COM needs no per-thread start-up on POSIX; only the hooks run.
  run_hooks(Phase::kInit);
}

void thread_detach() { run_hooks(Phase::kCleanup); }

void thread_terminate_module() { thread_detach(); }

int thread_hooks_register(ThreadHookFn init, ThreadHookFn cleanup, void *user_data,
                          ThreadHook **handle) {
  auto *hook = static_cast<ThreadHook *>(apr_palloc(g_hooks.pool, sizeof(ThreadHook)));
  *hook = ThreadHook{init, cleanup, user_data, nullptr};
  apr_thread_rwlock_wrlock(g_hooks.lock);
  hook->next = g_hooks.first;
  g_hooks.first = hook;
  apr_thread_rwlock_unlock(g_hooks.lock);
  *handle = hook;
  return APR_SUCCESS;
}

int thread_hooks_unregister(ThreadHook *handle) {
  int status = APR_EGENERAL;
  apr_thread_rwlock_wrlock(g_hooks.lock);
  for (ThreadHook **link = &g_hooks.first; *link != nullptr; link = &(*link)->next) {
    if (*link == handle) {
      *link = handle->next;
      status = APR_SUCCESS;
      break;
    }
  }
  apr_thread_rwlock_unlock(g_hooks.lock);
  return status;
}
