// MSDBCounters: counters written back instead of at every step.
//
// msdb_increment_prop changes a counter ("@childCount") whose value the
// connection already knows in memory only (MSDBObjectMemory); its row is
// written with the same statement later: before the transaction commits,
// before anything that deletes, before the counter is written another way,
// and before a read that could see the row otherwise than through the
// property reads (which answer from memory). A scan adds one to the child
// count of about ten containers per item, mostly the same few within a
// transaction; each is now stored once per transaction instead of once per
// item. A rollback drops what was not written.
#pragma once

#include "MSDBConnection.h"

// The statement that stores value_oid as the value of name (SQL-quoted) on
// objects (a comma-separated oid list).
char *counter_update_sql(apr_pool_t *pool, const char *value_oid, const char *objects, const char *quoted_name);

// Writes every counter of conn not yet written. Returns 0, or 20014 after
// ERROR "Could not execute SQL statement - prop was not incremented, reason: %s".
int msdb_counters_write(DBThreadConnection *conn);

// msdb_counters_write when one of the count names has a counter not yet written.
int msdb_counters_write_named(DBThreadConnection *conn, const char *const *names, int count);

// Before a write of object's name other than an increment: writes what is
// pending and forgets the counter. Returns as msdb_counters_write.
int msdb_counters_settle(DBThreadConnection *conn, const char *object, const char *name);
