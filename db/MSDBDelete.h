// MSDBDelete: removal of objects from the medialib graph, and mark-and-sweep.
//
// Every removal funnels into msdb_delete_objects, which keeps child counts,
// edges, ancestor rows, properties and source associations consistent.
// Victim sets are SQL selects with one column named deleteoid. The mark table
// and the other temporary tables live on the calling thread's medialib
// connection; everything runs inside the caller's transaction.
// Statuses: 0 success; 4 stopped by the cancel check (statements already run
// stay in the transaction); 20014 failure (logged on "MSDB").
#pragma once

#include <apr_pools.h>

#include "CommonCancel.h"
#include "MSDBConnection.h"

// No marks waiting to be written, for a connection made in pool.
PendingMarks *msdb_pending_marks_create(apr_pool_t *pool);

// Deletes the objects selected by victims (cancel may be null).
int msdb_delete_objects(apr_pool_t *pool, MediaLibraryDB *db, const char *victims,
                        CancelCheck cancel, void *context);

// Deletes what only source holds; shared objects just lose the association.
int msdb_delete_source_objects(apr_pool_t *pool, MediaLibraryDB *db, const char *source,
                               CancelCheck cancel, void *context);

// Deletes every object not associated with source 0.
int msdb_delete_all_objects(apr_pool_t *pool, MediaLibraryDB *db, CancelCheck cancel,
                            void *context);

// Deletes source's empty containers, pass after pass, until none is left.
int msdb_delete_source_leaves(apr_pool_t *pool, MediaLibraryDB *db, const char *source,
                              CancelCheck cancel, void *context);

// Creates / drops the mark table. Return 0 or 20014.
int msdb_create_marks(apr_pool_t *pool, MediaLibraryDB *db);
int msdb_drop_marks(apr_pool_t *pool, MediaLibraryDB *db);

// 1 when object has a mark, else 0 (also after a logged failure).
int msdb_is_marked(apr_pool_t *pool, MediaLibraryDB *db, const char *object);

// Marks object (or object and its subtree) with flag: 1 deletes it at the
// sweep, any other flag keeps it. Return 0 or 20014. Single marks are
// written a few hundred at a time, and before any other call here reads or
// changes the marks: their failure may be returned by a later mark, the
// subtree's mark, the check or the sweep.
int msdb_mark_object(apr_pool_t *pool, MediaLibraryDB *db, const char *object, int flag);
int msdb_mark_subtree(apr_pool_t *pool, MediaLibraryDB *db, const char *object, int flag);

// Deletes the objects marked 1; *count receives how many were marked.
int msdb_sweep_marked(apr_pool_t *pool, MediaLibraryDB *db, int *count, CancelCheck cancel,
                      void *context);

// Deletes source's unmarked objects (shared ones only lose the association)
// and those marked 1. *stale: unmarked objects removed; *other: objects that
// were marked 1 before.
int msdb_sweep_source(apr_pool_t *pool, MediaLibraryDB *db, const char *source, int *stale,
                      int *other, CancelCheck cancel, void *context);
