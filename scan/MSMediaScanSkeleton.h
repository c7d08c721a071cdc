// MSMediaScanSkeleton: the standard containers every library holds (the
// fixed slot layout with its titles per kind), found again by title on
// later runs so that their ids stay, and what is named after them: system
// view paths and the reserved top-level names.
//
// msms_skeleton_create writes the library record's tables in start-up's
// transaction; afterwards they are read-only. Texts go to the pool passed.
// Logs on "MSMediaScan".
#pragma once

#include <apr_pools.h>

#include "MSMediaScanLibrary.h"

// Finds or creates the standard containers in the caller's transaction and
// fills library's tables (the kind roots stay) and system view paths.
// Returns 0 or 20014 (logged).
int msms_skeleton_create(apr_pool_t *pool, ScanLibrary *library);

// The container of (kind, slot); oid and path are null for slots that are
// not known. Out-of-range arguments give the null container.
StandardContainer msms_standard_container(const ScanLibrary *library, int kind, int slot);

// The dotted title path of the standard container in which an item of kind
// is listed: "Zentoria.<root>.<indexes>.<All or Playlists>" for local items,
// "Zentoria.<root>.<Internet or Internet Playlists>" for internet ones. Null
// for a kind without a table or a title without text.
const char *msms_system_view_path(apr_pool_t *pool, int kind, int internet, int playlist);

// The fixed object id of a reserved top-level name or of a standard
// container's title (slots 1..18, audio, photo, video per slot); null when
// name is neither.
const char *msms_top_level_oid(const ScanLibrary *library, const char *name);
