// MSMediaScanShare: what the refresh of all sources and the unshare need of
// the sharing module beside the engine interface (MSMediaScan.h), which
// this module implements for file and folder sources: find, add, update and
// the scan of one source.
//
// Runs on the calling thread; temporary memory lives in pools below the
// library handle's pool. Logs on "MSMediaScan".
#pragma once

#include <apr_pools.h>

#include "MSMediaScan.h"

// The source whose oid (all digits) or url (normalised unless it has a
// scheme) is given, in source. Returns 0 when found, 70015 when not, 20014
// after a failed query (logged as from_oid or by-url says).
int msms_fetch_source(apr_pool_t *pool, const char *oid_or_url, MediaSource *source);

// The user-message text of code into *out when out is not null.
void msms_user_message(const char **out, int code);
