// MSDBSchema: the one definition of the library's tables, indexes and fixed objects.
//
// Used to create a new library (tools/mlsetup) and by tests; the database
// modules themselves never create a persistent table, and only add missing
// indexes to a library when a connection opens. The medialib
// file gets the root "0", the kind roots "1" Audio, "2" Photos and "3" Video
// under it, and the reserved top-level objects "100", "200", "300", "400",
// all held by source 0; the admin file gets the reserved media source 1.
// Stateless; temporary allocations go to the pool passed.
#pragma once

#include <apr_pools.h>

#include "MSDBHelper.h"

// Creates both files, readable and writable by their owner only. Returns 0; 17 when either file exists already (ERROR
// "Library database %s exists already", nothing created); 20014 after ERROR
// "Could not create library database %s, reason: %s" (files removed again).
int msdb_schema_create(apr_pool_t *pool, const char *medialib_path, const char *admin_path);

// The full-text table that indexes every propValue value by its trigrams.
#define MSDB_SUBSTRING_INDEX "propValue_text"
// The oids of values written since the last commit, not yet in the index.
#define MSDB_UNINDEXED "propValue_unindexed"
// The texts of title values, in title order (index propTitle_nocase).
#define MSDB_TITLE_KEYS "propTitle"
// One row (oid 1) of counters that move in every transaction that deletes or
// changes an ancestor row (routes) or a dc:title row (titles).
#define MSDB_SHAPE "libraryShape"
// The objects of removed or changed ancestor rows (kind 0) and dc:title
// rows (kind 1), a row each in the order written; object -1: forget that
// kind. Only the last MSDB_SHAPE_LOG_ROWS rows are kept.
#define MSDB_SHAPE_LOG "libraryShapeLog"
#define MSDB_SHAPE_LOG_ROWS "4096"
// One row (oid 1) of a counter that moves in every transaction that deletes
// or changes an edge row (edges).
#define MSDB_EDGE_SHAPE "libraryEdges"

// Whether the library has the table name (one of this header's names,
// never a user's text). Returns 0, or 20014 after ERROR "Could not execute
// SQL statement, reason: %s".
int msdb_schema_has_table(DbLink link, const char *name, bool *has);

// Adds the values noted in MSDB_UNINDEXED to the substring index and empties
// it, within the caller's transaction (msdb_medialib_commit calls it). Returns
// 0, or 20014 after ERROR "Could not execute SQL statement, reason: %s".
int msdb_schema_fill_substring_index(DbLink link);

// Gives a library made by an earlier release the indexes of this schema
// (each made when missing; the substring index and the title keys are built
// from the values, under a second for 430,000 of them) and drops the ones
// they replaced; on a library that has them, one read of its schema. Every medialib
// connection runs it when it opens. Outside a transaction: it sorts in a
// temporary file and then sets the temp store to memory, as the connection
// keeps it.
// Returns 0, or 20014 after WARN "Could not bring the library's indexes up to
// date, reason: %s" (the library still answers, by the indexes it has).
int msdb_schema_upgrade(DbLink link);

// Before a pass into a library that holds no items (no object of a source
// other than 0): drops the indexes no pass reads, for msdb_schema_upgrade to
// make after it; *deferred tells whether it did. Outside a transaction.
// Returns 0; 20014 after ERROR "Could not execute SQL statement, reason: %s"
// or WARN "Could not leave the library's indexes to the end of the pass,
// reason: %s" (nothing dropped).
int msdb_schema_defer_indexes(DbLink link, bool *deferred);
