// MSMediaScanWalk: the walk of a shared folder, file by file, with the
// commits that bound the transaction and the pairing of subtitles with the
// videos of each folder.
//
// Each folder gets its own pool (a child of the caller's), destroyed when the
// folder is done. Runs on the scan's thread inside its medialib transaction,
// which it commits and begins again after every 100 created items; a walk
// inspects files ahead on a worker thread (MSMediaScanAhead) that it starts
// and joins before it returns, whatever the outcome. Logs on "MSMediaScan".
#pragma once

#include <apr_pools.h>

#include "MSMediaScanContext.h"

// Walks scan->root. Symbolic links to files are followed; a link to a folder
// is entered unless that folder is already open on the current path. Without
// recursive, subfolders contribute nothing. Returns 0, 4 when cancelled, or
// 20014 (logged) when a subfolder or a commit failed. With
// scan->playlists_only, the walk only adds the playlist files it meets to
// scan->playlists (made by the caller) in the order the scan reads them, and
// returns 0 or 4.
int msms_walk(apr_pool_t *pool, ScanContext *scan, int recursive);

// Processes the one file scan->root/name as a walk of one entry. Returns as
// msms_process_file.
int msms_scan_single_file(apr_pool_t *pool, ScanContext *scan, const ScanFile *file);
