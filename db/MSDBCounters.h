// MSDBCounters: counters written back instead of at every step: the
// statement and the write of the pending counters of a connection's memory.
//
// msdb_increment_prop changes a counter ("@childCount") whose value the
// connection already knows in memory only (MSDBObjectMemory); its row is
// written with the same statement later: before the transaction commits,
// before anything that deletes, before the counter is written another way,
// and before a read that could see the row otherwise than through the
// property reads (which answer from memory). A scan adds one to the child
// count of about ten containers per item, mostly the same few within a
// transaction; each is now stored once per transaction instead of once per
// item. A rollback drops what was not written. The connection-level calls
// (msdb_counters_write and its forms) are declared in MSDBConnection.h, which
// writes the counters at commit.
#pragma once

#include <apr_pools.h>

#include "MSDBHelper.h"
#include "MSDBObjectMemory.h"

// Stores value_oid as the value of name on the rows of objects (count oids)
// through link; changed (may be null) receives the number of rows changed.
// One object's statement is prepared once per link; several objects share
// one statement that lists them. Returns 0, or 20014 after ERROR "Could not
// execute SQL statement - prop was not incremented, reason: %s".
int counter_store(apr_pool_t *pool, DbLink link, const char *value_oid, const char *const *objects, int count,
                  const char *name, int *changed);

// The value of name on the first row of objects that has one, read through
// link as counter_store writes it: into value (null when none has). Returns
// 0, or 20014 after "Could not execute SQL statement, reason: %s".
int counter_read(apr_pool_t *pool, DbLink link, const char *const *objects, int count, const char *name,
                 const char **value);

// Writes the pending counters of memory (none when null) through link, with
// temporary texts in pool. Returns 0, or 20014 after ERROR "Could not execute
// SQL statement - prop was not incremented, reason: %s".
int counters_write_pending(apr_pool_t *pool, ObjectMemory *memory, DbLink link);
