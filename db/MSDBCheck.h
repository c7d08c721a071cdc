// MSDBCheck: integrity check of a medialib database.
//
// Lists every violation of the graph's invariants: child counts, the
// ancestor closure (one row per route, with its path), references to missing
// objects or rows, the container flag against the class, and unique interned
// names and values. Read-only; runs on the calling thread's medialib
// connection; violation texts live in the pool passed.
#pragma once

#include <apr_pools.h>
#include <apr_tables.h>

#include "MSDBConnection.h"

// Appends one text per violation to *violations (an array of const char *
// created in pool). Returns 0 when every check ran (violations may be
// empty), or 20014 when a check could not run (logged on "MSDB").
int msdb_check(apr_pool_t *pool, MediaLibraryDB *db, apr_array_header_t **violations);
