// MSMediaScanShare: the sharing module implements the engine interface
// (MSMediaScan.h) for file and folder sources: find, add, update and the scan
// of one source. This header holds what the refresh module calls: the scan of
// a recorded folder or file source. The source record and its user messages
// are the sources module's (included here for the modules that reach them
// through this header).
//
// Runs on the calling thread; temporary memory lives in pools below the
// library handle's pool. Logs on "MSMediaScan".
#pragma once

#include <apr_pools.h>

#include "MSMediaScan.h"
#include "MSMediaScanLibrary.h"
#include "MSMediaScanSources.h"

// Rescans the recorded folder or file source in one locked pass (see
// msms_source_pass): announced as msms_source_announce does, its new objects
// counted in *added and the ones swept in *removed (both 0 on failure); full
// also deletes the containers left empty. Returns 0, 4, 20017 when the
// library is busy, or 20014 (logged).
int msms_refresh_local(apr_pool_t *pool, const ScanLibrary *library, const MediaSource &source, int full, int print,
                       int *added, int *removed, CancelCheck cancel, void *context);
