// Worker threads started and stopped in one way.
#include "CommonWorker.h"

#include "CommonThreadInit.h"

namespace {

void *APR_THREAD_FUNC run(apr_thread_t *thread, void *data) {
  auto *worker = static_cast<Worker *>(data);
  thread_attach();
  worker->body(worker->data);
  thread_detach();
  apr_thread_exit(thread, APR_SUCCESS);
  return nullptr;
}

}  // namespace

int worker_start(apr_pool_t *pool, Worker *worker, void (*body)(void *data), void *data) {
  worker->stopping = false;
  worker->body = body;
  worker->data = data;
  if (apr_thread_mutex_create(&worker->lock, APR_THREAD_MUTEX_DEFAULT, pool) != APR_SUCCESS ||
      apr_thread_cond_create(&worker->changed, pool) != APR_SUCCESS ||
      apr_thread_create(&worker->thread, nullptr, run, worker, pool) != APR_SUCCESS) {
    worker->thread = nullptr;
    return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

void worker_stop(Worker *worker) {
  if (worker->thread == nullptr) return;
  apr_thread_mutex_lock(worker->lock);
  worker->stopping = true;
  apr_thread_cond_broadcast(worker->changed);
  apr_thread_mutex_unlock(worker->lock);
  apr_status_t result = APR_SUCCESS;
  apr_thread_join(&result, worker->thread);
  worker->thread = nullptr;
}
