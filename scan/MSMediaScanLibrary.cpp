// The library record and the library lock. Threads of this process take the
// lock under the module's mutex, so a second holder fails at once as a
// second process does.
#include "MSMediaScanLibrary.h"

#include <apr_file_info.h>
#include <apr_strings.h>
#include <apr_thread_mutex.h>

#include "CommonFiles.h"
#include "CommonUserMessage.h"
#include "MSConfig.h"
#include "MSMediaScanLog.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kLockFileName = "zentoria.ZentoriaMediaLibLock";
constexpr StandardContainer kKindRoots[MEDIA_KINDS] = {{"1", "0/1"}, {"2", "0/2"}, {"3", "0/3"}};

struct LibraryLock {
  apr_pool_t *pool = nullptr;  // the record's
  apr_thread_mutex_t *mutex = nullptr;
  const char *path = nullptr;
  apr_pool_t *held_pool = nullptr;  // lives while the lock is held
  apr_file_t *file = nullptr;
};

ScanLibrary *g_library = nullptr;
LibraryLock g_lock;

void lock_state() {
  if (g_lock.mutex != nullptr) apr_thread_mutex_lock(g_lock.mutex);
}

void unlock_state() {
  if (g_lock.mutex != nullptr) apr_thread_mutex_unlock(g_lock.mutex);
}

int make_logs_folder(apr_pool_t *pool, const char **lock_path) {
  const MSConfigPaths *paths = msconfig_paths();
  if (paths == nullptr) return log4c_fail(MSMS_MODULE, INTERNAL_ERROR_TEXT);
  // Owner read and write; on POSIX a folder also needs its search bit to be used.
  apr_status_t status = apr_dir_make_recursive(paths->logs_dir, APR_FPROT_UREAD | APR_FPROT_UWRITE | APR_FPROT_UEXECUTE, pool);
  if (status != APR_SUCCESS && !APR_STATUS_IS_EEXIST(status)) {
    char reason[256];
    return log4c_fail(MSMS_MODULE, log4c_sprintf("Could not create folder for storing logs, reason: %s",
                                   apr_strerror(status, reason, sizeof reason)));
  }
  *lock_path = apr_pstrcat(pool, paths->logs_dir, kLockFileName, nullptr);
  return APR_SUCCESS;
}

}  // namespace

int msms_library_open(apr_pool_t *pool, MediaLibraryDB *db, ScanLibrary **library) {
  auto *made = static_cast<ScanLibrary *>(apr_pcalloc(pool, sizeof(ScanLibrary)));
  made->pool = pool;
  made->db = db;
  made->sort_folder_by_file_name = 1;
  for (int kind = 0; kind < MEDIA_KINDS; kind++) made->tables[kind][SLOT_ROOT] = kKindRoots[kind];
  *library = g_library = made;
  g_lock = LibraryLock{};
  g_lock.pool = pool;
  if (apr_thread_mutex_create(&g_lock.mutex, APR_THREAD_MUTEX_DEFAULT, pool) != APR_SUCCESS) {
    g_lock.mutex = nullptr;
    return log4c_fail(MSMS_MODULE, "Could not create mutex");
  }
  return make_logs_folder(pool, &g_lock.path);
}

void msms_library_close() {
  g_library = nullptr;
  g_lock.mutex = nullptr;  // it lives in the record's pool
  g_lock.path = nullptr;
}

ScanLibrary *msms_library() { return g_library; }

MediaLibraryDB *msms_library_db() { return g_library != nullptr ? g_library->db : nullptr; }

int msms_lock_library() {
  lock_state();
  int status = APR_EGENERAL;
  if (g_lock.path != nullptr && g_lock.file == nullptr) {
    g_lock.held_pool = pool_create_or_die(g_lock.pool, MSMS_MODULE);
    status = lock_file_acquire(g_lock.held_pool, g_lock.path, &g_lock.file);
    if (status != APR_SUCCESS) {
      apr_pool_destroy(g_lock.held_pool);
      g_lock.held_pool = nullptr;
      g_lock.file = nullptr;
    }
  }
  unlock_state();
  return status == APR_SUCCESS ? APR_SUCCESS : log4c_fail(MSMS_MODULE, "Could not acquire DB modification mutex");
}

int msms_unlock_library() {
  lock_state();
  int status = APR_EGENERAL;
  if (g_lock.file != nullptr) {
    status = lock_file_release(g_lock.file);
    apr_pool_destroy(g_lock.held_pool);
    g_lock.held_pool = nullptr;
    g_lock.file = nullptr;
  }
  unlock_state();
  return status == APR_SUCCESS ? APR_SUCCESS : log4c_fail(MSMS_MODULE, "Could not unlock DB modification mutex");
}
