// MSDBSchema: the one definition of the library's tables, indexes and fixed objects.
//
// Used only to create a new library (tools/mlsetup) and by tests; the
// database modules themselves never create a persistent table. The medialib
// file gets the root "0", the kind roots "1" Audio, "2" Photos and "3" Video
// under it, and the reserved top-level objects "100", "200", "300", "400",
// all held by source 0; the admin file gets the reserved media source 1.
// Stateless; temporary allocations go to the pool passed.
#pragma once

#include <apr_pools.h>

// Creates both files, readable and writable by their owner only. Returns 0; 17 when either file exists already (ERROR
// "Library database %s exists already", nothing created); 20014 after ERROR
// "Could not create library database %s, reason: %s" (files removed again).
int msdb_schema_create(apr_pool_t *pool, const char *medialib_path, const char *admin_path);
