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

int worker_start(apr_pool_t *pool, Worker *worker, void (*body)(void *data), void *data, int threads) {
  worker->stopping = false;
  worker->body = body;
  worker->data = data;
  worker->count = 0;
  if (apr_thread_mutex_create(&worker->lock, APR_THREAD_MUTEX_DEFAULT, pool) != APR_SUCCESS ||
      apr_thread_cond_create(&worker->changed, pool) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  for (; worker->count < threads && worker->count < WORKER_MAX_THREADS; ++worker->count) {
    if (apr_thread_create(&worker->threads[worker->count], nullptr, run, worker, pool) != APR_SUCCESS) {
      worker_stop(worker);
      return APR_EGENERAL;
    }
  }
  return APR_SUCCESS;
}

void worker_stop(Worker *worker) {
  if (worker->count == 0) return;
  apr_thread_mutex_lock(worker->lock);
  worker->stopping = true;
  apr_thread_cond_broadcast(worker->changed);
  apr_thread_mutex_unlock(worker->lock);
  for (int i = 0; i < worker->count; ++i) {
    apr_status_t result = APR_SUCCESS;
    apr_thread_join(&result, worker->threads[i]);
    worker->threads[i] = nullptr;
  }
  worker->count = 0;
}
