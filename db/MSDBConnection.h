// MSDBConnection: the library handle, per-thread connection pairs and transactions.
//
// One MediaLibraryDB per process, from msdb_init to msdb_terminate, owns a
// pool and the two database paths. Each thread gets its own pair of
// connections (admin and medialib) on its first call, kept under a thread key
// and closed by the thread-exit hook (CommonThreadInit) or with the handle's
// pool; nothing here is shared between threads, so there is no lock.
// Transactions are per thread and per database; database operations never
// open them, their callers do. Each connection pair also carries what its
// thread may remember between statements: interned oids, a graph epoch, the
// objects it created in its transaction, its marks not yet written and what
// its reads walked.
#pragma once

#include <apr_pools.h>
#include <apr_thread_proc.h>

#include "MSDBEdgeBatch.h"
#include "MSDBHelper.h"
#include "MSDBInternCache.h"
#include "MSDBObjectMemory.h"
#include "MSDBQueryMemory.h"

struct ThreadHook;

struct MediaLibraryDB {
  apr_pool_t *pool = nullptr;
  const char *medialib_path = nullptr;
  const char *admin_path = nullptr;
  const apr_dbd_driver_t *driver = nullptr;
  apr_threadkey_t *key = nullptr;
  ThreadHook *cleanup_hook = nullptr;
};

struct PendingMarks;

struct DBThreadConnection {
  apr_pool_t *pool = nullptr;
  DbLink medialib;
  DbLink admin;
  int admin_in_transaction = 0;
  int medialib_in_transaction = 0;
  // Interned oids of the medialib connection (emptied by a rollback).
  InternCache *intern = nullptr;
  // Moves on whenever oids remembered from the medialib connection may have
  // gone stale: a transaction begun or rolled back, objects or property rows
  // deleted. Epochs are unique in the process, never reused by another
  // connection.
  apr_uint64_t graph_epoch = 0;
  // Fresh objects and counters of the current epoch (see msdb_object_memory).
  ObjectMemory *memory = nullptr;
  // The edges of the item being filed, written together (MSDBEdgeBatch).
  EdgeBatch *edges = nullptr;
  // What the read paths remember while the library stays the same
  // (MSDBQueryMemory).
  QueryMemory *queries = nullptr;
  // Marks made and not yet written, written together (MSDBDelete).
  PendingMarks *marks = nullptr;
  // The medialib connection's page cache, KiB, and the library file's size
  // when the last scan began (msdb_medialib_cache_reset).
  apr_int64_t cache_kib = 0;
  apr_off_t scan_start_bytes = 0;
};

// SQLite's process-wide settings, made once before its first use (a host
// that started SQLite earlier keeps its own). Its defaults count every
// allocation under a global mutex and lock each connection around every
// call; a scan spent a tenth of its time in those locks, and a connection is
// only ever used by the thread that opened it. Its small blocks come from
// size-class free lists (MSDBSqliteMemory): the C library's allocator took a
// sixth of a scan. Files are opened through the journal-gathering layer
// (MSDBJournalVfs), by server and scan connections alike: only writers
// journal. Every path that opens a database calls this first.
void msdb_sqlite_configure();

// Creates the handle in a child of pool, loads the sqlite3 driver, creates
// the thread key and registers the thread-exit clean-up. Connections open
// lazily. Returns 0, or 20014 (null pool; "Could not load database driver
// sqlite3, reason: %s"; "Could not create threadkey"; "Could not register
// thread cleanup function").
int msdb_init(apr_pool_t *pool, const char *medialib_path, const char *admin_path,
              MediaLibraryDB **db);

// Unregisters the clean-up, deletes the key and destroys the handle's pool
// (closing every connection still open). Failures are only logged.
void msdb_terminate(MediaLibraryDB *db);

// The calling thread's connection pair, opened on first use (admin first,
// then medialib; a missing file is an error and is never created), or null
// after a logged failure ("Could not open db %s", ...).
DBThreadConnection *msdb_thread_connection(MediaLibraryDB *db);

// As msdb_thread_connection, logging "Could not get private thread
// connection to the database" on "MSDB" when there is none: the first step of
// every database operation.
DBThreadConnection *msdb_connection_or_log(MediaLibraryDB *db);

// The calling thread's graph epoch (see DBThreadConnection): a cache of
// object oids (such as containers found by title) stays valid while the
// epoch it was filled under is current. Returns 0, or 20014 without a
// connection (logged).
int msdb_graph_epoch(MediaLibraryDB *db, apr_uint64_t *epoch);

// The medialib's data version as the calling thread's connection sees it:
// it moves whenever another connection (another process) commits a change,
// and costs no file read. A reader that never writes polls it to notice a
// changed library. Returns 0, or 20014 without a connection or after
// "Could not execute SQL statement, reason: %s".
int msdb_medialib_data_version(MediaLibraryDB *db, apr_int64_t *version);

// Moves conn's graph epoch on, before objects or property rows are
// deleted: writes the counters not yet written first (MSDBCounters).
// Returns 0, or 20014 when they could not be written (the epoch moves
// anyway).
int msdb_graph_changed(DBThreadConnection *conn);

// conn's memory of fresh objects and counters, brought to the current epoch,
// or null outside a medialib transaction (where it may not answer).
ObjectMemory *msdb_object_memory(DBThreadConnection *conn);

// Writes every counter of conn not yet written (see MSDBCounters). Returns
// 0, or 20014 after ERROR "Could not execute SQL statement - prop was not
// incremented, reason: %s".
int msdb_counters_write(DBThreadConnection *conn);

// msdb_counters_write when one of the count names has a counter not yet written.
int msdb_counters_write_named(DBThreadConnection *conn, const char *const *names, int count);

// Before a write of object's name other than an increment: writes what is
// pending and forgets the counter. Returns as msdb_counters_write.
int msdb_counters_settle(DBThreadConnection *conn, const char *object, const char *name);

// Transactions. begin: 0, or 20014 ("Nested transactions are not allowed",
// "Could not begin transaction, reason: %s"). commit / rollback: 0, or 20014
// ("No transaction is in effect for this session", "Could not commit
// transaction, reason: %s", "Could not rollback transaction, reason: %s"); a
// failed commit leaves the transaction open for a rollback.
int msdb_medialib_begin(MediaLibraryDB *db);
int msdb_medialib_commit(MediaLibraryDB *db);
int msdb_medialib_rollback(MediaLibraryDB *db);
// Begins a transaction right after this thread's commit, keeping the graph
// epoch (and what is remembered under it): for a writer that held the
// library lock across both, so that no other writer ran in between. Returns
// as begin.
int msdb_medialib_begin_continued(MediaLibraryDB *db);
// The calling thread's medialib page cache for a scan's pass, which calls
// reset as it begins and ends and grow at its commits. Reset: back to the
// 2 MiB every connection starts with, which frees the pages above them, and
// the library file's size noted. Grow: a quarter of what the file grew since
// then, between 2 and 16 MiB. Return 0, or 20014 without a connection or
// after "Could not set the page cache size, reason: %s".
int msdb_medialib_cache_reset(MediaLibraryDB *db);
int msdb_medialib_cache_grow(MediaLibraryDB *db);
// The calling thread's indexes around a pass, outside its transaction:
// defer drops those no pass reads when the library holds no items (see
// msdb_schema_defer_indexes), build makes every missing one. Return 0, or
// 20014 as those functions and msdb_schema_upgrade say.
int msdb_medialib_defer_indexes(MediaLibraryDB *db, bool *deferred);
int msdb_medialib_build_indexes(MediaLibraryDB *db);
int msdb_admin_begin(MediaLibraryDB *db);
int msdb_admin_commit(MediaLibraryDB *db);
int msdb_admin_rollback(MediaLibraryDB *db);
