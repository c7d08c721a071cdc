// Per-thread connection pairs through apr_dbd's sqlite3 driver.
#include "MSDBConnection.h"

#include <apr_file_info.h>
#include <apr_strings.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <initializer_list>
#include <mutex>

#include "CommonThreadInit.h"
#include "MSDBCounters.h"
#include "MSDBDelete.h"
#include "MSDBJournalVfs.h"
#include "MSDBSchema.h"
#include "MSDBSqliteMemory.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "MSDB";
constexpr const char *kPragmas = "PRAGMA synchronous = OFF;PRAGMA temp_store = MEMORY;";
// 2 MiB of page cache for every connection. The database file stays in the
// system's file cache, so a page SQLite no longer holds costs one read call;
// a server's queries and a scan of a small library need no more.
constexpr apr_int64_t kCacheKiB = 2048;
// A scan's writes are another matter: each item adds rows to a dozen indexes
// at places spread over the whole of each, so the pages a commit touches
// grow with the library. With 2 MiB a first scan of 26,000 items read
// 563,000 pages back from the file (4,100 for 2,600 items) and wrote 1.16 M
// times, a third more than its commits need: pages changed and not yet
// committed were spilled to the file to make room. A quarter of what the
// scan has written (for a first scan, the file) holds what a commit
// touches; 16 MiB bounds what it costs a large library. The file's whole
// size would not do: a refresh that replaces a few hundred items of a large
// library spent more time with 16 MiB than with 2 (its pages are freed ones
// reused, and few).
constexpr apr_off_t kScanCacheShare = 4;
constexpr apr_int64_t kScanCacheCeilingKiB = 16384;

// Source of graph epochs: process-wide, so that no two connections (even
// one closed and another opened at the same address) share an epoch.
std::atomic<apr_uint64_t> g_epochs{0};

void log_error(const char *message) { LOG4C(kModule, LOG4C_ERROR, message); }

apr_status_t close_connections(void *data) {
  auto *conn = static_cast<DBThreadConnection *>(data);
  for (DbLink *link : {&conn->medialib, &conn->admin}) {
    if (link->handle == nullptr) continue;
    if (apr_dbd_close(link->driver, link->handle) != 0) {
      log_error(link == &conn->medialib ? "Could not close medialib db connection"
                                        : "Could not close admin db connection");
    }
    link->handle = nullptr;
  }
  return APR_SUCCESS;
}

void thread_exit_cleanup(void *user_data) {
  auto *db = static_cast<MediaLibraryDB *>(user_data);
  void *value = nullptr;
  if (apr_threadkey_private_get(&value, db->key) != APR_SUCCESS) {
    log_error("Could not get thread private memory");
    return;
  }
  if (value == nullptr) return;
  if (apr_threadkey_private_set(nullptr, db->key) != APR_SUCCESS) {
    log_error("Could not reset thread private memory to NULL, thread recycling is likely to lead to a crash");
  }
  apr_pool_destroy(static_cast<DBThreadConnection *>(value)->pool);
}

// SQLite creates a missing file on open; a library that is not there must
// stay an error instead of becoming an empty database.
bool open_link(MediaLibraryDB *db, apr_pool_t *pool, const char *path, DbLink *link) {
  apr_finfo_t info;
  const char *error = nullptr;
  link->driver = db->driver;
  if (apr_stat(&info, path, APR_FINFO_TYPE, pool) != APR_SUCCESS || info.filetype != APR_REG ||
      apr_dbd_open_ex(db->driver, pool, path, &link->handle, &error) != APR_SUCCESS) {
    link->handle = nullptr;
    log_error(log4c_sprintf("Could not open db %s", path));
    return false;
  }
  db_link_retry_busy(pool, link);
  db_link_keep_prepared(pool, link);
  return true;
}

int cache_set(DBThreadConnection *conn, apr_int64_t kib) {
  if (kib == conn->cache_kib) return APR_SUCCESS;
  char sql[64];
  apr_snprintf(sql, sizeof sql, "PRAGMA cache_size = -%" APR_INT64_T_FMT, kib);
  const char *reason = nullptr;
  if (db_exec_reason(conn->medialib, sql, nullptr, &reason) != APR_SUCCESS) {
    log_error(log4c_sprintf("Could not set the page cache size, reason: %s", reason));
    return APR_EGENERAL;
  }
  conn->cache_kib = kib;
  return APR_SUCCESS;
}

DBThreadConnection *open_connection(MediaLibraryDB *db) {
  apr_pool_t *pool = pool_create_or_die(db->pool, kModule);
  auto *conn = static_cast<DBThreadConnection *>(apr_pcalloc(pool, sizeof(DBThreadConnection)));
  conn->pool = pool;
  apr_pool_cleanup_register(pool, conn, close_connections, apr_pool_cleanup_null);
  if (!open_link(db, pool, db->admin_path, &conn->admin) ||
      !open_link(db, pool, db->medialib_path, &conn->medialib)) {
    apr_pool_destroy(pool);
    return nullptr;
  }
  const char *reason = nullptr;
  if (db_exec_reason(conn->medialib, kPragmas, nullptr, &reason) != APR_SUCCESS) {
    log_error(log4c_sprintf("Could not turn SQLite synchronous off or set temp store to memory, reason: %s", reason));
    apr_pool_destroy(pool);
    return nullptr;
  }
  if (cache_set(conn, kCacheKiB) != APR_SUCCESS) {
    apr_pool_destroy(pool);
    return nullptr;
  }
  msdb_schema_upgrade(conn->medialib);
  db_link_guard_transaction(conn->medialib, &conn->medialib_in_transaction);
  db_link_guard_transaction(conn->admin, &conn->admin_in_transaction);
  conn->intern = intern_cache_create(pool);
  conn->memory = object_memory_create(pool);
  conn->edges = edge_batch_create(pool);
  conn->queries = query_memory_create(pool);
  conn->marks = msdb_pending_marks_create(pool);
  msdb_graph_changed(conn);
  if (apr_threadkey_private_set(conn, db->key) != APR_SUCCESS) {
    log_error("Could not set thread private memory");
    apr_pool_destroy(pool);
    return nullptr;
  }
  return conn;
}

struct TransactionTexts {
  const char *sql;
  const char *failure;
};
constexpr TransactionTexts kBegin{"BEGIN TRANSACTION", "Could not begin transaction, reason: %s"};
constexpr TransactionTexts kCommit{"COMMIT", "Could not commit transaction, reason: %s"};
constexpr TransactionTexts kRollback{"ROLLBACK", "Could not rollback transaction, reason: %s"};

// keep_epoch: a begin right after the same writer's commit, under the same
// library lock, finds the graph as that commit left it.
int transaction_step(MediaLibraryDB *db, bool medialib, const TransactionTexts &texts, bool keep_epoch = false) {
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  int &flag = medialib ? conn->medialib_in_transaction : conn->admin_in_transaction;
  bool begin = &texts == &kBegin;
  if (begin && flag) {
    log_error("Nested transactions are not allowed");
    return APR_EGENERAL;
  }
  if (!begin && !flag) {
    log_error("No transaction is in effect for this session");
    return APR_EGENERAL;
  }
  if (medialib && &texts == &kRollback) {
    // Even a failed rollback may have undone the rows the caches know, and
    // the counters not yet written go with the transaction.
    intern_cache_clear(conn->intern);
    object_memory_forget_counters(conn->memory);
    query_memory_rolled_back(conn->queries);
  }
  if (medialib && &texts == &kCommit &&
      (msdb_counters_write(conn) != APR_SUCCESS || msdb_schema_fill_substring_index(conn->medialib) != APR_SUCCESS)) {
    return APR_EGENERAL;
  }
  if (medialib && &texts != &kCommit && !keep_epoch) msdb_graph_changed(conn);
  // SQLite ends a transaction by itself on some failures (a full disk, an
  // I/O error): its rollback is then done already, and the connection free
  // for the next begin.
  const DbLink &link = medialib ? conn->medialib : conn->admin;
  if (&texts == &kRollback && !db_in_transaction(link)) {
    flag = 0;
    return APR_SUCCESS;
  }
  // The commit guard (db_link_guard_transaction) lets only this COMMIT through.
  const bool commit = &texts == &kCommit;
  if (commit) flag = 0;
  if (db_exec(link, texts.sql, nullptr, texts.failure) != APR_SUCCESS) {
    if (commit) flag = 1;
    return APR_EGENERAL;
  }
  flag = begin ? 1 : 0;
  return APR_SUCCESS;
}

}  // namespace

void msdb_sqlite_configure() {
  static std::once_flag once;
  std::call_once(once, [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    sqlite3_config(SQLITE_CONFIG_MULTITHREAD);
    sqlite3_config(SQLITE_CONFIG_MALLOC, msdb_sqlite_memory_methods());
    if (msdb_journal_vfs_register() != SQLITE_OK) log_error("Could not register the journal-gathering file layer");
  });
}

int msdb_init(apr_pool_t *pool, const char *medialib_path, const char *admin_path,
              MediaLibraryDB **out) {
  *out = nullptr;
  if (pool == nullptr) return APR_EGENERAL;
  apr_pool_t *own = pool_create_or_die(pool, kModule);
  auto *db = static_cast<MediaLibraryDB *>(apr_pcalloc(own, sizeof(MediaLibraryDB)));
  db->pool = own;
  db->medialib_path = apr_pstrdup(own, medialib_path);
  db->admin_path = apr_pstrdup(own, admin_path);
  msdb_sqlite_configure();
  apr_status_t rv = apr_dbd_init(own);
  if (rv == APR_SUCCESS) rv = apr_dbd_get_driver(own, "sqlite3", &db->driver);
  if (rv != APR_SUCCESS) {
    char reason[256];
    log_error(log4c_sprintf("Could not load database driver sqlite3, reason: %s",
                            apr_strerror(rv, reason, sizeof reason)));
    apr_pool_destroy(own);
    return APR_EGENERAL;
  }
  if (apr_threadkey_private_create(&db->key, nullptr, own) != APR_SUCCESS) {
    log_error("Could not create threadkey");
    apr_pool_destroy(own);
    return APR_EGENERAL;
  }
  if (thread_hooks_register(nullptr, thread_exit_cleanup, db, &db->cleanup_hook) != APR_SUCCESS) {
    log_error("Could not register thread cleanup function");
    apr_threadkey_private_delete(db->key);
    apr_pool_destroy(own);
    return APR_EGENERAL;
  }
  *out = db;
  return APR_SUCCESS;
}

void msdb_terminate(MediaLibraryDB *db) {
  if (db == nullptr) return;
  if (thread_hooks_unregister(db->cleanup_hook) != APR_SUCCESS) {
    log_error("Could not unregister thread cleanup function");
  }
  if (apr_threadkey_private_delete(db->key) != APR_SUCCESS) log_error("Could not delete threadkey");
  apr_pool_destroy(db->pool);
}

DBThreadConnection *msdb_thread_connection(MediaLibraryDB *db) {
  void *value = nullptr;
  if (apr_threadkey_private_get(&value, db->key) != APR_SUCCESS) {
    log_error("Could not get thread private memory");
    return nullptr;
  }
  if (value != nullptr) return static_cast<DBThreadConnection *>(value);
  return open_connection(db);
}

DBThreadConnection *msdb_connection_or_log(MediaLibraryDB *db) {
  DBThreadConnection *conn = msdb_thread_connection(db);
  if (conn == nullptr) log_error("Could not get private thread connection to the database");
  return conn;
}

int msdb_graph_epoch(MediaLibraryDB *db, apr_uint64_t *epoch) {
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  *epoch = conn->graph_epoch;
  return APR_SUCCESS;
}

int msdb_medialib_data_version(MediaLibraryDB *db, apr_int64_t *version) {
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  return db_data_version(conn->medialib, version);
}

int msdb_graph_changed(DBThreadConnection *conn) {
  int status = msdb_counters_write(conn);
  conn->graph_epoch = ++g_epochs;
  return status;
}

ObjectMemory *msdb_object_memory(DBThreadConnection *conn) {
  if (!conn->medialib_in_transaction) return nullptr;
  object_memory_sync(conn->memory, conn->graph_epoch);
  return conn->memory;
}

int msdb_medialib_begin(MediaLibraryDB *db) { return transaction_step(db, true, kBegin); }
int msdb_medialib_commit(MediaLibraryDB *db) { return transaction_step(db, true, kCommit); }
int msdb_medialib_rollback(MediaLibraryDB *db) { return transaction_step(db, true, kRollback); }
int msdb_medialib_begin_continued(MediaLibraryDB *db) { return transaction_step(db, true, kBegin, true); }
int msdb_admin_begin(MediaLibraryDB *db) { return transaction_step(db, false, kBegin); }
int msdb_admin_commit(MediaLibraryDB *db) { return transaction_step(db, false, kCommit); }
int msdb_admin_rollback(MediaLibraryDB *db) { return transaction_step(db, false, kRollback); }

namespace {

// The calling thread's connection and the library file's size, 0 when it
// cannot be read.
DBThreadConnection *connection_and_size(MediaLibraryDB *db, apr_off_t *size) {
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return nullptr;
  Pool pool(conn->pool, kModule);
  apr_finfo_t info;
  *size = apr_stat(&info, db->medialib_path, APR_FINFO_SIZE, pool) == APR_SUCCESS ? info.size : 0;
  return conn;
}

}  // namespace

int msdb_medialib_cache_reset(MediaLibraryDB *db) {
  apr_off_t size = 0;
  DBThreadConnection *conn = connection_and_size(db, &size);
  if (conn == nullptr) return APR_EGENERAL;
  conn->scan_start_bytes = size;
  return cache_set(conn, kCacheKiB);
}

int msdb_medialib_defer_indexes(MediaLibraryDB *db, bool *deferred) {
  *deferred = false;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  return conn == nullptr ? APR_EGENERAL : msdb_schema_defer_indexes(conn->medialib, deferred);
}

int msdb_medialib_build_indexes(MediaLibraryDB *db) {
  DBThreadConnection *conn = msdb_connection_or_log(db);
  return conn == nullptr ? APR_EGENERAL : msdb_schema_upgrade(conn->medialib);
}

int msdb_medialib_cache_grow(MediaLibraryDB *db) {
  apr_off_t size = 0;
  DBThreadConnection *conn = connection_and_size(db, &size);
  if (conn == nullptr) return APR_EGENERAL;
  const apr_off_t grown = std::max<apr_off_t>(size - conn->scan_start_bytes, 0);
  return cache_set(conn, std::clamp<apr_int64_t>(grown / kScanCacheShare / 1024, kCacheKiB, kScanCacheCeilingKiB));
}

int msdb_counters_write(DBThreadConnection *conn) {
  return counters_write_pending(conn->pool, msdb_object_memory(conn), conn->medialib);
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
  // Nearly every row a scan writes has no counter known: one look-up.
  if (memory == nullptr || object_memory_counter(memory, object, name) == nullptr) return APR_SUCCESS;
  if (object_memory_pending_counter(memory, object, name) && msdb_counters_write(conn) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  object_memory_forget_counter(memory, object, name);
  return APR_SUCCESS;
}
