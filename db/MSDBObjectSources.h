// MSDBObjectSources: which media sources each library object came from (objms).
//
// Source oids 0 and 1 belong to the server's own objects. Runs on the calling
// thread's medialib connection inside the caller's transaction (the tags of
// an object's sources are read on the admin connection). Results are copied
// into the pool passed; failures are logged on "MSDB".
// Statuses: 0 success, 20014 failure (logged), 70015 not found.
#pragma once

#include <apr_pools.h>

#include "MSDBConnection.h"

// Associates object with source unless it is already; row_oid (may be null)
// receives the new row (null when it existed). Returns 0 or 20014.
int msdb_add_object_source(apr_pool_t *pool, MediaLibraryDB *db, const char *object,
                           const char *source, const char **row_oid);

// Associates object and its whole subtree with source. Returns 0 or 20014.
int msdb_add_subtree_source(apr_pool_t *pool, MediaLibraryDB *db, const char *object,
                            const char *source);

// Moves object's association from old_source to new_source.
// Returns 0, 70015 when object had no association with old_source, or 20014.
int msdb_move_object_source(apr_pool_t *pool, MediaLibraryDB *db, const char *object,
                            const char *old_source, const char *new_source);

// Gives to_object every real source (oid above 1) of from_object it lacks.
// Returns 0 or 20014.
int msdb_copy_object_sources(apr_pool_t *pool, MediaLibraryDB *db, const char *from_object,
                             const char *to_object);

// Up to *count source oids of object; *count receives the number read.
// Returns 0 or 20014.
int msdb_get_object_sources(apr_pool_t *pool, MediaLibraryDB *db, const char *object,
                            const char **sources, int *count);

// The object of source, with its signature, when source holds exactly one;
// *oid and *signature null otherwise. Returns 0 or 20014.
int msdb_find_sole_object(apr_pool_t *pool, MediaLibraryDB *db, const char *source, const char **oid,
                          const char **signature);

// Up to *count tags (unescaped) of object's sources. Returns 0 or 20014.
int msdb_get_object_tags(apr_pool_t *pool, MediaLibraryDB *db, const char *object,
                         const char **tags, int *count);
