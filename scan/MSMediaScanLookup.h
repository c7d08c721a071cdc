// MSMediaScanLookup: which object of the library holds a walked file's url,
// and what it held (its signature and the properties a file's turn checks),
// from the look-ups of the walk's tree (MSMediaScanPrefetch) or from the
// database; the look-up of a file read ahead of its turn, which also queues
// its inspection; and the links an object made again takes over.
//
// Runs on the scan's thread inside its medialib transaction; results go to
// the pool passed. Logs on "MSMediaScan" only where a status says so.
#pragma once

#include <apr_pools.h>

#include "CommonProp.h"
#include "MSMediaScanContext.h"

// The source's newest object for url into *lookup (lookup->found set).
// Returns 0 or 20014 (not logged).
int msms_find_file_object(apr_pool_t *pool, const ScanContext *scan, const char *url, FileLookup *lookup);

// The checked properties of the object oid: those the look-up brought
// (rows, may be null) or else read now into pool. Returns 0 or 20014
// (logged).
int msms_checked_props(apr_pool_t *pool, const ScanContext *scan, const char *oid, const PropRows *rows,
                       const PropRows **stored);

// The new object oid takes the place of old_oid (a changed file or URL made
// again): it gets the old one's parents and source associations. Returns 0
// or 20014 (logged).
int msms_link_replacement(apr_pool_t *pool, MediaLibraryDB *db, const char *old_oid, const char *oid);

// Looks up, silently and in pool, the object of a file that its turn will
// look up, and queues the file's inspection on scan->ahead when the turn will
// need its facts (no object, or a changed one, of a wanted kind). Files the
// turn passes over by name or size, and failed look-ups, are left to the turn
// (lookup->found false).
void msms_look_up_ahead(apr_pool_t *pool, ScanContext *scan, const FolderScan *folder, const ScanFile *file,
                        FileLookup *lookup);
