// MSMediaScanViewsPath: container titles and dotted title paths resolved to
// the containers of the views, made when missing.
//
// Runs in the caller's medialib transaction on the calling thread; each
// thread remembers what it found while the database's graph epoch stays.
// Texts go to the pool passed. Logs on "MSMediaScan".
#pragma once

#include <apr_pools.h>

#include "MSMediaScanLibrary.h"

// The child container of parent titled title, created (class cls, held by
// source 1, linked with the container sort of the view key key_slot, 0 for
// none) when there is none. Returns 0 with *oid, or 20014 (logged).
int msms_find_or_create_child(apr_pool_t *pool, const ScanLibrary *library, const char *parent, const char *title,
                              const char *cls, int key_slot, const char **oid);

// msdb_set_prop of a single-valued property of a view container, skipped
// when this thread set the same value on it since the database's graph
// epoch last moved. Returns 0 or 20014 (logged).
int msms_set_container_prop(apr_pool_t *pool, const ScanLibrary *library, const char *container, int slot,
                            const char *value);

// Resolves a dotted path of container titles to a container, creating what
// is missing. With start null the path is absolute: its first element is a
// reserved name or a standard title, or else a child of the root "0". With
// a start container, a path whose first element is a reserved name or a
// standard title is still absolute; any other is followed from start.
// Returns 0 with *oid, or 20014 (logged; also for a path without titles).
int msms_find_or_create_path(apr_pool_t *pool, const ScanLibrary *library, const char *start, const char *path,
                             const char **oid);
