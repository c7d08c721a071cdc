// MSMediaScanItemTags: the source's tags, view tags and transcode setting
// carried onto its items.
//
// Runs in the scan's medialib transaction on its thread; temporary texts go
// to the pool passed. Logs on "MSMediaScan".
#pragma once

#include <apr_pools.h>
#include <apr_tables.h>

#include "CommonProp.h"
#include "MSDBQuery.h"
#include "MSMediaScanContext.h"

// Stores the source's tags, view tags and transcode setting on a new object
// and adds them to list, the property list it was stored from. Returns 0 or
// 20014 (logged).
int msms_store_tags(apr_pool_t *pool, const ScanContext *scan, const char *oid, PropList *list);

// Brings an existing object (stored: its properties) in line with the
// source: missing tags are added (*reindex set), tags the source no longer
// lists set *rebuild, the transcode setting is rewritten when it differs.
// Returns 0 or 20014 (logged).
// Whether an existing object (stored: its properties) has a tag the source
// no longer lists, so that msms_sync_tags would set *rebuild. Reads only.
bool msms_tags_lost(const ScanContext *scan, const PropRows *stored);

int msms_sync_tags(apr_pool_t *pool, const ScanContext *scan, const char *oid, const PropRows *stored,
                   bool *rebuild, bool *reindex);
