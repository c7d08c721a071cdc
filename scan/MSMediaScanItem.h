// MSMediaScanItem: one file of a shared folder turned into a library item,
// or its existing item kept, refreshed or replaced.
//
// Each file gets a pool of its own, destroyed when the file is done.
// Everything runs on the scan's thread inside its medialib transaction; only
// the inspection of files may run ahead on the worker of MSMediaScanAhead.
// Logs on "MSMediaScan".
#pragma once

#include <apr_pools.h>

#include "MSMediaScanContext.h"

// Processes one file of folder: skips what is not media or not wanted,
// keeps an up-to-date item (marked as seen), replaces a changed one, creates
// a new one and files it into the views. lookup (may be null) is what
// msms_look_up_ahead (MSMediaScanLookup) found for the file; its job is taken here, and released
// by the caller. With scan->playlists_only, a playlist file is only noted
// and any other file passed over. Returns 0 (also for skipped files), 4 when cancelled, or
// 20014 (logged; the walk goes on with the next file).
int msms_process_file(ScanContext *scan, FolderScan *folder, const ScanFile *file, const FileLookup *lookup);
